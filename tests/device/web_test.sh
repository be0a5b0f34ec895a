#!/usr/bin/env bash
# `velmora run --web` in a real browser: headless Chromium opens the page, its picture of the
# canvas matches the device's own screenshot, and a click on the notifier's icon taps it.
# The run gets a device of its own, headless, as a person without a screen would have it.
set -uo pipefail
tmp=$(mktemp -d)
export VELMORA_DEVICE=$tmp/device
unset DISPLAY
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$VELMORA_ROOT/velmora" run --web "$port" >"$tmp/run.out" 2>"$tmp/run.err" &
run=$!
browser=""
# Interrupted (TERM, as a background job ignores Ctrl-C's INT), the run stops its servers and
# the device it booted, and nothing else.
finish() {
    [ -n "$browser" ] && kill "$browser" 2>/dev/null && wait "$browser" 2>/dev/null
    kill -TERM "$run" 2>/dev/null
    wait "$run" 2>/dev/null
}
trap 'finish; rm -rf "$tmp"' EXIT
for _ in $(seq 1500); do # a new device boots first
    grep -q "^http://127.0.0.1:$port/$" "$tmp/run.out" && break
    kill -0 "$run" 2>/dev/null || break
    sleep 0.2
done
grep -q "^http://127.0.0.1:$port/$" "$tmp/run.out" ||
    { echo "FAIL: expected the address http://127.0.0.1:$port/, got: $(cat "$tmp/run.out" "$tmp/run.err")"; exit 1; }

# The device the run booted: the notifier with its icon shown, and the applet's window.
v() { "$VELMORA_ROOT/velmora" device "$@"; }
(
    export WINEPREFIX=$tmp/device/prefix WINEARCH=win32 WINEDEBUG=-all DISPLAY
    DISPLAY=$(cat "$tmp/device/display")
    wine reg add 'HKCU\Software\Zilp\Velmora' /v ShowLockIcon /t REG_DWORD /d 1 /f >/dev/null 2>&1
)
v exec Ostrelle.exe ON >/dev/null
for _ in $(seq 100); do
    v tray | grep -q '"PowerSupplyZilpNotify"' && v spy 'CPL_Velmora (Zilp)' | grep -q . && break
    sleep 0.2
done
v spy 'CPL_Velmora (Zilp)' | grep -q 'CPL_Velmora' ||
    { echo "FAIL: expected the applet's window that the run opens, got: $(v spy)"; exit 1; }
sleep 1 # let both paint
v shot "$tmp/device.png"

chromium --headless --no-sandbox --disable-gpu --force-device-scale-factor=1 \
    --window-size=400,480 --user-data-dir="$tmp/chromium" --remote-debugging-port=0 \
    about:blank >"$tmp/chromium.log" 2>&1 &
browser=$!
python3 - "$port" "$tmp" <<'PY'
import base64, json, os, socket, struct, subprocess, sys, time, urllib.request
sys.path.insert(0, os.path.join(os.environ['VELMORA_ROOT'], 'tools'))
from compose_docs import decode_png, read_png
port, tmp = sys.argv[1], sys.argv[2]
fail = []
def expect(what, expected, actual):
    print(('ok: ' if expected == actual else 'FAIL: ') + '%s: expected %r, actual %r' % (what, expected, actual))
    if expected != actual:
        fail.append(what)

def waited(what, probe, seconds):
    end = time.time() + seconds
    while time.time() < end:
        value = probe()
        if value:
            return value
        time.sleep(0.25)
    print('FAIL: %s within %d s' % (what, seconds))
    sys.exit(1)

# The browser's remote-debugging protocol over a websocket of a few lines.
def devtools_port():
    try:
        return open(os.path.join(tmp, 'chromium', 'DevToolsActivePort')).read().split()[0]
    except (OSError, IndexError):
        return None
debug = waited('Chromium opens its debugging port', devtools_port, 30)
page = [t for t in json.load(urllib.request.urlopen('http://127.0.0.1:%s/json/list' % debug))
        if t['type'] == 'page'][0]
sock = socket.create_connection(('127.0.0.1', int(debug)))
sock.sendall(('GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n'
              'Sec-WebSocket-Key: dmVsbW9yYXZlbG1vcmE=\r\nSec-WebSocket-Version: 13\r\n\r\n'
              % page['webSocketDebuggerUrl'].split(debug, 1)[1]).encode())
reader = sock.makefile('rb')
while reader.readline() not in (b'\r\n', b''):
    pass
def frame():
    head = reader.read(2)
    length = head[1] & 0x7F
    if length == 126:
        length, = struct.unpack('>H', reader.read(2))
    elif length == 127:
        length, = struct.unpack('>Q', reader.read(8))
    return reader.read(length)
calls = 0
def call(method, **params):
    global calls
    calls += 1
    body = json.dumps({'id': calls, 'method': method, 'params': params}).encode()
    size = struct.pack('B', len(body)) if len(body) < 126 else struct.pack('>BH', 126, len(body))
    mask = b'\1\2\3\4'
    sock.sendall(bytes([0x81, size[0] | 0x80]) + size[1:] + mask +
                 bytes(b ^ mask[i % 4] for i, b in enumerate(body)))
    while True:
        answer = json.loads(frame())
        if answer.get('id') == calls:
            return answer.get('result', {})

def evaluate(expression):
    return call('Runtime.evaluate', expression=expression, returnByValue=True)['result'].get('value')

call('Page.navigate', url='http://127.0.0.1:%s/' % port)
box = waited('the page shows a 240 x 320 canvas', lambda: evaluate(
    '(() => { const c = document.querySelector("#screen canvas");'
    ' if (!c || c.width != 240 || c.height != 320) return null;'
    ' const r = c.getBoundingClientRect(); return [r.left, r.top]; })()'), 30)
device = read_png(os.path.join(tmp, 'device.png'))

# Region by region, the share of pixels the browser shows as the device has them; the clock
# may have turned a minute in between, so not all.
def browser_picture():
    shot = call('Page.captureScreenshot', format='png',
                clip={'x': box[0], 'y': box[1], 'width': 240, 'height': 320, 'scale': 1})
    return decode_png(base64.b64decode(shot['data']))
def share(picture, top, bottom):
    same = sum(1 for y in range(top, bottom) for x in range(240)
               if max(abs(p - q) for p, q in zip(picture[y][x], device[y][x])) <= 8)
    return same / (240.0 * (bottom - top))
regions = [('the taskbar (rows 0-25)', 0, 26, 0.9), ('the applet below it (rows 26-319)', 26, 320, 0.97)]
end = time.time() + 20
while True: # the first pictures may come before the whole screen has
    picture = browser_picture()
    shares = [share(picture, top, bottom) for _, top, bottom, _ in regions]
    if all(s >= least for s, (_, _, _, least) in zip(shares, regions)) or time.time() > end:
        break
    time.sleep(0.5)
for s, (what, _, _, least) in zip(shares, regions):
    good = s >= least
    print('%s%s: expected at least %.2f of its pixels as on the device, actual %.3f'
          % ('ok: ' if good else 'FAIL: ', what, least, s))
    if not good:
        fail.append(what)
expect('the taskbar is not the colour of the window below', True, picture[2][2] != picture[100][120])

def tray_line():
    out = subprocess.run([os.environ['VELMORA_ROOT'] + '/velmora', 'device', 'tray', '--at'],
                         capture_output=True, text=True).stdout
    return next((l for l in out.splitlines() if '"PowerSupplyZilpNotify"' in l and ' at=' in l), None)
before = waited("the notifier's icon in the notification area", tray_line, 20)
x, y = map(int, before.rsplit(' at=', 1)[1].split(','))
for kind in ('mouseMoved', 'mousePressed', 'mouseReleased'):
    call('Input.dispatchMouseEvent', type=kind, x=box[0] + x, y=box[1] + y, button='left',
         buttons=1 if kind == 'mousePressed' else 0, clickCount=1)
image = lambda line: line.split(' image=')[1].split()[0]
after = waited('the notifier changes its icon after a click at %d,%d' % (x, y),
               lambda: (lambda l: l if l and image(l) != image(before) else None)(tray_line()), 15)
expect('the icon after the click differs from before (%s)' % image(before), True, image(after) != image(before))
sys.exit(1 if fail else 0)
PY
rc=$?
finish
browser="" run=""
left=$(cd "$tmp/device" && ls wineserver.pid xvfb.pid vnc.sock web 2>/dev/null | tr '\n' ' ')
free='import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))'
if [ -n "$left" ] || ! python3 -c "$free" "$port"; then
    echo "FAIL: after the interrupt expected the device stopped and port $port free, left: ${left:-the port}"
    rc=1
fi
exit $rc
