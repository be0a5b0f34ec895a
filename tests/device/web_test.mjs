// `velmora run --web` in a real browser: Playwright drives Debian's headless Chromium to the
// page, its picture of the canvas matches the device's own screenshot, and a click on the
// notifier's icon taps it. The run gets a device of its own, headless, as a person without a
// screen would have it.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const root = process.env.VELMORA_ROOT;
const velmora = path.join(root, 'velmora');
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-web-'));
const env = { ...process.env, VELMORA_DEVICE: path.join(tmp, 'device') };
delete env.DISPLAY;

const failures = [];
function expect(what, expected, actual) {
    const good = JSON.stringify(expected) === JSON.stringify(actual);
    console.log(`${good ? 'ok' : 'FAIL'}: ${what}: expected ${JSON.stringify(expected)}, actual ${JSON.stringify(actual)}`);
    if (!good) failures.push(what);
}

class Failure extends Error {}
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
async function waited(what, probe, seconds) {
    const end = Date.now() + seconds * 1000;
    while (Date.now() < end) {
        const value = await probe();
        if (value) return value;
        await sleep(250);
    }
    throw new Failure(`${what} within ${seconds} s`);
}

// What a device command prints. Through a file, not a pipe: a program that `exec` starts
// inherits the output and would hold a pipe open as long as it runs.
function device(...args) {
    const file = path.join(tmp, 'device.out');
    const fd = fs.openSync(file, 'w');
    try {
        execFileSync(velmora, ['device', ...args], { env, stdio: ['ignore', fd, 'ignore'] });
    } catch {
        // a failed command prints what it has; the checks below say what was expected
    } finally {
        fs.closeSync(fd);
    }
    return fs.readFileSync(file, 'utf8').replace(/\r/g, '');
}

function freePort() {
    return new Promise((done, fail) => {
        const server = net.createServer();
        server.on('error', fail);
        server.listen(0, '127.0.0.1', () => {
            const { port } = server.address();
            server.close(() => done(port));
        });
    });
}

function portFree(port) {
    return new Promise((done) => {
        const server = net.createServer();
        server.on('error', () => done(false));
        server.listen(port, '127.0.0.1', () => server.close(() => done(true)));
    });
}

const port = await freePort();
const address = `http://127.0.0.1:${port}/`;
const out = path.join(tmp, 'run.out'), err = path.join(tmp, 'run.err');
const read = (file) => (fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '');
const run = spawn(velmora, ['run', '--web', String(port)],
    { env, stdio: ['ignore', fs.openSync(out, 'w'), fs.openSync(err, 'w')] });
const runEnded = new Promise((done) => run.on('exit', done));
let runAlive = true;
runEnded.then(() => { runAlive = false; });
let context = null;

// Interrupted (TERM, as a background job ignores Ctrl-C's INT), the run stops its servers and
// the device it booted, and nothing else.
async function finish() {
    if (context) await context.close().catch(() => {});
    context = null;
    if (runAlive) run.kill('SIGTERM');
    await runEnded;
}

try {
    // A new device boots first.
    await waited(`the address ${address}`, () => read(out).split('\n').includes(address) || !runAlive, 300);
    if (!read(out).split('\n').includes(address))
        throw new Failure(`expected the address ${address}, got: ${read(out)}${read(err)}`);

    // The device the run booted: the notifier with its icon shown, and the applet's window.
    device('reg', 'HKCU\\Software\\Zilp\\Velmora', 'ShowLockIcon=1');
    device('exec', 'Ostrelle.exe', 'ON');
    const applet = () => device('spy', 'CPL_Velmora (Zilp)').includes('CPL_Velmora');
    await waited('the notifier\'s icon and the applet\'s window that the run opens',
        () => device('tray').includes('"PowerSupplyZilpNotify"') && applet(), 20).catch(() => {});
    if (!applet()) throw new Failure(`expected the applet's window that the run opens, got: ${device('spy')}`);
    await sleep(1000); // let both paint
    const shot = path.join(tmp, 'device.png');
    device('shot', shot);

    context = await chromium.launchPersistentContext(path.join(tmp, 'chromium'), {
        executablePath: '/usr/bin/chromium',
        headless: true,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', '--no-first-run'],
        viewport: { width: 400, height: 480 },
        deviceScaleFactor: 1,
    });
    const page = context.pages()[0] || await context.newPage();
    await page.goto(address);
    const box = await (await page.waitForFunction(() => {
        const c = document.querySelector('#screen canvas');
        if (!c || c.width != 240 || c.height != 320) return null;
        const r = c.getBoundingClientRect();
        return [r.left, r.top];
    }, null, { timeout: 30000 })).jsonValue();

    // Band by band, the share of pixels the browser shows as the device has them; the clock
    // may have turned a minute in between, so not all.
    const bands = [['the taskbar (rows 0-25)', 0, 26, 0.9], ['the applet below it (rows 26-319)', 26, 320, 0.97]];
    const picture = path.join(tmp, 'browser.png');
    let seen;
    for (const end = Date.now() + 20000; ;) { // the first pictures may come before the whole screen has
        await page.screenshot({ path: picture, clip: { x: box[0], y: box[1], width: 240, height: 320 } });
        seen = JSON.parse(execFileSync('/usr/bin/python3', [path.join(root, 'tests/device/screen_share.py'),
            shot, picture, ...bands.map(([, top, bottom]) => `${top}:${bottom}`)], { encoding: 'utf8' }));
        if (seen.shares.every((s, i) => s >= bands[i][3]) || Date.now() > end) break;
        await sleep(500);
    }
    bands.forEach(([what, , , least], i) => {
        const good = seen.shares[i] >= least;
        console.log(`${good ? 'ok' : 'FAIL'}: ${what}: expected at least ${least.toFixed(2)} of its pixels as on the device, actual ${seen.shares[i].toFixed(3)}`);
        if (!good) failures.push(what);
    });
    expect('the taskbar is not the colour of the window below', true,
        JSON.stringify(seen.taskbar) !== JSON.stringify(seen.below));

    const trayLine = () => device('tray', '--at').split('\n')
        .find((l) => l.includes('"PowerSupplyZilpNotify"') && l.includes(' at=')) || null;
    const image = (line) => line.split(' image=')[1].split(' ')[0];
    const before = await waited('the notifier\'s icon in the notification area', trayLine, 20);
    const [x, y] = before.split(' at=').pop().split(',').map(Number);
    await page.mouse.click(box[0] + x, box[1] + y);
    const after = await waited(`the notifier changes its icon after a click at ${x},${y}`, () => {
        const line = trayLine();
        return line && image(line) !== image(before) ? line : null;
    }, 15);
    expect(`the icon after the click differs from before (${image(before)})`, true, image(after) !== image(before));
} catch (error) {
    console.log(`FAIL: ${error instanceof Failure ? error.message : error.stack}`);
    failures.push('the run');
}

await finish();
const left = ['wineserver.pid', 'xvfb.pid', 'vnc.sock', 'web'].filter((name) => fs.existsSync(path.join(tmp, 'device', name)));
if (left.length || !(await portFree(port))) {
    console.log(`FAIL: after the interrupt expected the device stopped and port ${port} free, left: ${left.join(' ') || 'the port'}`);
    failures.push('the interrupt');
}
fs.rmSync(tmp, { recursive: true, force: true });
process.exit(failures.length ? 1 : 0);
