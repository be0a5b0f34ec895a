#!/usr/bin/python3
"""The emulated device as this machine sees it: its files, its processes and its screen.

    device.py [--arch ARCH | --only ARCH] [--build DIR] COMMAND [ARGS]

--arch picks the architecture where nothing else does (a device runs the one it was made for);
--only refuses a device of another one.

    device COMMAND [ARGS]     a `velmora device` command: the device's life here (start, stop,
                              status, reset, install, packages, remove), the rest inside it
    run [--web PORT]          the persistent device with this build's package, the applet open
    check-run [--web PORT]    whether the run's arguments are good, before anything is built
    bench                     every size and speed figure beside a baseline
    docs                      the README's pictures
    test-setup | test-cleanup the test run's throwaway device and its screen
    on-device PROGRAM [ARGS]  a test program, on the test device, booted again if it is down
    counts FILE.xml           the passed and failed tests of a ctest JUnit file: "PASSED FAILED"

Each problem is one line on standard error, "velmora: ...", and exit status 2.
"""
import filecmp
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree
import zlib

# The checkout as the kernel names it: /proc shows the resolved paths of mapped images.
ROOT = os.path.realpath(os.path.join(os.path.dirname(__file__), '..'))
# Bump when the factory image is made differently, so old build trees make a new one.
IMAGE_VERSION = '9'
SCREEN = '240x320'
# The applet's window, by its class: the control panel's "CPL_" and the applet's name.
APPLET_WINDOW = 'CPL_Velmora (Zilp)'
WINE64_BIN = os.path.join(ROOT, 'tools', 'wine64')


class Problem(Exception):
    """What ends a command with one line and exit status 2."""


def say(text):
    print('velmora: ' + text, file=sys.stderr, flush=True)


def poll(probe, seconds, step=0.05):
    """The first true value that probe() gives within the time, else None."""
    end = time.monotonic() + seconds
    while True:
        value = probe()
        if value or time.monotonic() >= end:
            return value or None
        time.sleep(step)


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except (OSError, TypeError):
        return False


def read(path, default=''):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return default


def write(path, text):
    with open(path, 'w') as f:
        f.write(text + '\n')


def windows_path(path):
    """A path of this machine as the device's programs see it, through their Z: drive."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


class Device:
    """A device's folder: its Wine prefix, and what this side keeps of it."""

    def __init__(self, folder, arch, build):
        self.dir, self.arch, self.build = folder, arch, build
        self.prefix = os.path.join(folder, 'prefix')
        self.windows = os.path.join(self.prefix, 'drive_c', 'windows')

    def file(self, name):
        return os.path.join(self.dir, name)

    def env(self, display=None):
        env = dict(os.environ)
        path = [p for p in env.get('PATH', '').split(':') if p != WINE64_BIN]
        # Debian's `wine` takes the 32-bit loader whenever it is installed: the x86_64 device
        # has the 64-bit one first on its PATH under the same name.
        if self.arch == 'x86_64':
            path.insert(0, WINE64_BIN)
            env.update(WINEARCH='win64', WINELOADER='/usr/lib/wine/wine64')
        else:
            env['WINEARCH'] = 'win32'
            env.pop('WINELOADER', None)
        env.update(PATH=':'.join(path), WINEPREFIX=self.prefix, LANG='de_DE.UTF-8',
                   LC_ALL='de_DE.UTF-8', WINEDEBUG=env.get('WINEDEBUG', '-all'),
                   # No Gecko or Mono installers on the device.
                   WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d')
        env.pop('LANGUAGE', None)
        # A running device is reached on its display; a stopped one's former display may be gone.
        if display is None and self.running():
            display = read(self.file('display'))
        if display:
            env['DISPLAY'] = display
        else:
            env.pop('DISPLAY', None)
        return env

    def wine(self, program, *args, display=None, **options):
        """Runs a program of the device's \\Windows (or a path) to its end."""
        path = program if os.sep in program else os.path.join(self.windows, program)
        return subprocess.run(['wine', path, *args], env=self.env(display), **options).returncode

    def devtool(self, *args, **options):
        return self.wine('devtool.exe', *args, **options)

    def devtool_text(self, *args):
        done = subprocess.run(['wine', os.path.join(self.windows, 'devtool.exe'), *args],
                              env=self.env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return done.stdout.decode('utf-8', 'replace').replace('\r', '')

    def pid(self, name):
        text = read(self.file(name))
        return int(text) if text.isdigit() else None

    def running(self):
        """The device's wineserver is alive."""
        return alive(self.pid('wineserver.pid'))

    def processes(self):
        """The device's Wine processes, as "NAME PID": Linux processes of a Wine binary with the
        device's prefix in their environment."""
        wanted = b'WINEPREFIX=' + os.fsencode(self.prefix)
        found = []
        for pid in sorted(filter(str.isdigit, os.listdir('/proc')), key=int):
            try:
                if '/wine' not in os.readlink('/proc/%s/exe' % pid):
                    continue
                with open('/proc/%s/environ' % pid, 'rb') as f:
                    if wanted not in f.read().split(b'\0'):
                        continue
                found.append('%s %s' % (read('/proc/%s/comm' % pid), pid))
            except OSError:
                pass
        return found

    def pids_of(self, program):
        """The Linux processes running a program of the device's \\Windows. Not by command line:
        a device program's holds its arguments alone ("ON"). Its image, mapped from the
        device's \\Windows, names the program."""
        image = ' ' + os.path.join(self.windows, program)
        pids = []
        for process in self.processes():
            pid = process.split()[-1]
            try:
                with open('/proc/%s/maps' % pid) as f:
                    if any(line.rstrip('\n').endswith(image) for line in f):
                        pids.append(int(pid))
            except OSError:
                pass
        return pids

    def server_locked(self):
        """The wineserver holds its lock, which it takes before it listens: from then on a
        program that starts finds it."""
        pid = str(self.pid('wineserver.pid'))
        with open('/proc/locks') as f:
            return any(len(fields) > 4 and fields[1] == 'POSIX' and fields[4] == pid
                       for fields in (line.split() for line in f))


# --- architectures and builds ------------------------------------------------------------------

def build_dir(arch):
    build = os.environ.get('VELMORA_BUILD')
    if build and os.environ.get('VELMORA_ARCH', arch) == arch:
        return build
    return os.path.join(ROOT, 'build', arch)


def device_dir(arch):
    return os.environ.get('VELMORA_DEVICE') or os.path.expanduser(
        '~/.local/share/velmora/device-' + arch)


def open_device(folder, arch, build=None):
    """The device in FOLDER, which runs the programs of the architecture it was made for."""
    arch = read(os.path.join(folder, 'arch'), arch)
    return Device(folder, arch, build or build_dir(arch))


# --- the factory image and new devices -----------------------------------------------------

def make_image(build, arch):
    """A fresh prefix made once per build tree and copied for every device."""
    image = os.path.join(build, 'device-image')
    if read(os.path.join(image, 'ready')) == IMAGE_VERSION:
        return image
    say('making the factory %s device image (once per build tree)' % arch)
    shutil.rmtree(image, ignore_errors=True)
    os.makedirs(image)
    factory = Device(image, arch, build)
    env = factory.env(display='')
    failed = Problem('the factory %s device image could not be made (see %s/wineboot.log)'
                     % (arch, image))
    with open(os.path.join(image, 'wineboot.log'), 'w') as log:
        def step(*command):
            if subprocess.run(command, env=env, stdout=log, stderr=log).returncode != 0:
                raise failed
        step('wineboot', '-i')
        step('wineserver', '-w')
        if not os.path.isfile(os.path.join(factory.windows, 'system32', 'kernel32.dll')):
            raise failed
        fonts = '/usr/share/wine/fonts'
        for name in os.listdir(fonts):
            if name.endswith('.ttf'):
                shutil.copy(os.path.join(fonts, name), os.path.join(factory.windows, 'Fonts'))
        step('wine', 'regedit', '/S', windows_path(os.path.join(ROOT, 'device', 'factory.reg')))
        step('wineserver', '-w')
    write(os.path.join(image, 'ready'), IMAGE_VERSION)
    return image


def install_files(device):
    """The platform's programs (the CE layer and the device's own) into its \\Windows; the
    package's files come through its cabinet."""
    files = os.path.join(device.build, 'device-files')
    package = set(read(os.path.join(device.build, 'package-files.txt')).split())
    for name in os.listdir(files):
        if name not in package:
            shutil.copy(os.path.join(files, name), device.windows)


def install_package(device, reinstall=False):
    cab = os.path.join(device.build, 'Velmora.%s.CAB' % device.arch)
    if not os.path.isfile(cab):
        raise Problem('no installation cabinet %s (./velmora package makes it)' % cab)
    args = ['--reinstall'] if reinstall else []
    if device_program(device, 'wceload.exe', *args, windows_path(cab),
                      stdout=subprocess.DEVNULL) != 0:
        raise Problem('the package could not be installed on ' + device.dir)
    shutil.copy(cab, device.file('package.cab'))  # what it has, so a run installs only a new one


def create_device(folder, arch, build):
    """A factory-fresh device from the image, with the package installed."""
    image = make_image(build, arch)
    shutil.rmtree(os.path.join(folder, 'prefix'), ignore_errors=True)
    os.makedirs(folder, exist_ok=True)
    subprocess.run(['cp', '-a', os.path.join(image, 'prefix'), folder], check=True)
    write(os.path.join(folder, 'image'), image)
    write(os.path.join(folder, 'image-version'), IMAGE_VERSION)
    write(os.path.join(folder, 'arch'), arch)
    # A new device has no screen of its own yet: it boots on $DISPLAY, or on an Xvfb of its own.
    for name in ('display', 'headless'):
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))
    device = Device(folder, arch, build)
    install_files(device)
    install_package(device)
    return device


def device_program(device, program, *args, **options):
    """The device's installer and "Remove Programs". A stopped device is not booted for them:
    the program runs on a Wine session of its own, which ends with it."""
    rc = device.wine(program, *args, **options)
    if not device.running():
        subprocess.run(['wineserver', '-w'], env=device.env())
    return rc


# --- boot and shut down --------------------------------------------------------------------

def display_free(display):
    number = display.lstrip(':')
    return not os.path.exists('/tmp/.X11-unix/X' + number) and not os.path.exists(
        '/tmp/.X%s-lock' % number)


def start_xvfb(log, preferred=''):
    """An Xvfb of its own, on the preferred display when that is free, so that programs started
    before a restart still reach it. Returns (pid, display)."""
    # Start from a number of the log's own folder, so that parallel runs seldom meet.
    first = zlib.crc32(os.fsencode(os.path.dirname(log))) % 400
    candidates = ([preferred] if preferred else []) + [
        ':%d' % ((first + i) % 400 + 100) for i in range(100)]
    for display in candidates:
        if not display_free(display):
            continue
        with open(log, 'w') as out:
            xvfb = subprocess.Popen(['Xvfb', display, '-screen', '0', SCREEN + 'x24', '-nolisten',
                                     'tcp', '-noreset'], stdout=out, stderr=out,
                                    start_new_session=True)
        poll(lambda: os.path.exists('/tmp/.X11-unix/X' + display[1:])
                   or xvfb.poll() is not None, 5)
        # Another run may have taken the number between the look and the start.
        if xvfb.poll() is None:
            return xvfb.pid, display
    raise Problem('no free X display')


def start(device):
    """Boots the device: its display ($DISPLAY, else an Xvfb of its own), its wineserver, the
    desktop of 240 x 320 and the device shell."""
    if device.running():
        return
    # What is left of an earlier boot would keep this one's server from starting.
    if device.processes():
        stop(device)
    saved = read(device.file('display'))
    display = os.environ.get('DISPLAY', '')
    # A device that ran headless stays headless: $DISPLAY is then most likely its own former
    # Xvfb (inherited by a test), not a screen to show on.
    if display and not (os.path.exists(device.file('headless')) and display == saved):
        for name in ('xvfb.pid', 'headless'):
            if os.path.exists(device.file(name)):
                os.remove(device.file(name))
    else:
        pid, display = start_xvfb(device.file('xvfb.log'), saved)
        write(device.file('xvfb.pid'), str(pid))
        write(device.file('headless'), '')
    write(device.file('display'), display)
    with open(device.file('wineserver.log'), 'w') as log:
        server = subprocess.Popen(['wineserver', '-f', '-p'], env=device.env(display),
                                  stdout=log, stderr=log, start_new_session=True)
    write(device.file('wineserver.pid'), str(server.pid))
    # A program started before the server holds its lock would start a server of its own,
    # which ends with its last program, and this one would give way to it.
    poll(lambda: device.server_locked() or not device.running(), 10)
    if not device.server_locked():
        raise Problem("start: the device's wineserver did not come up: " + server_log(device))
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # The first program of a session brings up the desktop (and any prefix update).
    device.devtool('desktop', **quiet)
    # The devices of the tests and the pictures stay on, also after a cold boot: what meets a
    # dark screen asks for it.
    if os.environ.get('VELMORA_STAY_ON') == '1':
        device.devtool('sleep', 'never', **quiet)
    if os.path.exists(os.path.join(device.windows, 'devshell.exe')):
        device.devtool('exec', 'devshell.exe', **quiet)
        # Programs size themselves to the work area that the shell sets: wait until it is up.
        if device.devtool('wait', '30', 'Shell_TrayWnd', 'Taskleiste', stdout=subprocess.DEVNULL):
            say('the device shell did not come up')
    if not device.running():
        raise Problem("start: the device's wineserver ended during the boot: " + server_log(device))


def server_log(device):
    return ' '.join(read(device.file('wineserver.log')).split())


def stop(device):
    """Shuts the device down; the wineserver saves the registry as it ends. The next boot needs
    the old server gone with all its programs: what still runs after 60 s is named."""
    if device.running() or device.processes():
        subprocess.run(['wineserver', '-k'], env=device.env(), stderr=subprocess.DEVNULL)
        if not poll(lambda: not device.processes(), 60, 0.2):
            raise Problem('stop: the device still runs 60 s after it was told to end: '
                          + ', '.join(device.processes()))
    if os.path.exists(device.file('wineserver.pid')):
        os.remove(device.file('wineserver.pid'))
    xvfb = device.pid('xvfb.pid')
    if xvfb:
        end_process(xvfb)
        os.remove(device.file('xvfb.pid'))


def end_process(pid, group=False):
    """Ends a process (or its group) and waits until it is gone, so that what it held (a
    display number, a port) is free for the next."""
    try:
        os.killpg(pid, signal.SIGTERM) if group else os.kill(pid, signal.SIGTERM)
    except OSError:
        return
    poll(lambda: not alive(pid) or read('/proc/%d/stat' % pid).split(') ')[-1][:1] == 'Z', 5)


def reset(device, clean):
    if not device.running():
        start(device)
    if device.devtool_text('cleanflag').strip() == '1':
        clean = True
    stop(device)
    if clean:
        image = read(device.file('image'), os.path.join(device.build, 'device-image'))
        if not os.path.isdir(os.path.join(image, 'prefix')):
            raise Problem('reset: the factory image %s is gone (./velmora run makes it)' % image)
        shutil.rmtree(device.prefix)
        subprocess.run(['cp', '-a', os.path.join(image, 'prefix'), device.dir], check=True)
        install_files(device)
        install_package(device)
        say('cold boot: factory state')
    # Back where it was: on its own Xvfb, or on the screen it showed on.
    start(device)


# --- `velmora device` -------------------------------------------------------------------------

def no_arguments(command, args):
    if args:
        raise Problem('%s: no arguments' % command)


def must_run(device):
    if not device.running():
        raise Problem('the device is not running (./velmora device start)')


def device_command(device, args):
    """The device's life is done here; every other command, and the help, is the device
    tool's, which owns the list of commands."""
    command, args = (args[0], args[1:]) if args else ('help', [])
    if command == 'start':
        no_arguments(command, args)
        start(device)
    elif command == 'stop':
        no_arguments(command, args)
        stop(device)
    elif command == 'status':
        no_arguments(command, args)
        if not device.running():
            print('stopped (%s, %s)' % (device.arch, device.dir))
            return 3
        print('running on display %s (%s, %s)' % (read(device.file('display')), device.arch,
                                                  device.dir), flush=True)
        device.devtool('screen')
    elif command == 'reset':
        if args not in ([], ['--clean']):
            raise Problem("reset: expected nothing or --clean, got '%s'" % ' '.join(args))
        reset(device, bool(args))
    elif command in ('install', 'packages', 'remove'):
        return package_command(device, command, args)
    elif command == 'help':
        return device_program(device, 'devtool.exe', 'help')
    else:
        must_run(device)
        if command == 'shot':
            if len(args) != 1:
                raise Problem('shot: expected one file name, such as screen.png')
            args = [windows_path(args[0])]
        elif command == 'exec':
            return detached_exec(device, args)
        return device.devtool(command, *args)
    return 0


def detached_exec(device, args, **options):
    """The tool gives the program it starts no handle of its own, but Wine passes on its
    standard error as it is: the tool's goes to a file, shown once the tool has ended, so that
    the program holds nothing of the caller's."""
    with tempfile.TemporaryFile() as errors:
        rc = device.devtool('exec', *args, stderr=errors, **options)
        errors.seek(0)
        sys.stderr.buffer.write(errors.read())
    return rc


def package_command(device, command, args):
    must_run(device)
    if command == 'install':
        reinstall = args[:1] == ['--reinstall']
        files = args[1:] if reinstall else args
        if len(files) != 1:
            raise Problem('install: expected [--reinstall] and one cabinet file, such as '
                          'build/%s/Velmora.%s.CAB' % (device.arch, device.arch))
        if not os.path.isfile(files[0]):
            raise Problem('install: no file ' + files[0])
        return device_program(device, 'wceload.exe', *args[:1 if reinstall else 0],
                              windows_path(files[0]))
    if command == 'packages':
        no_arguments(command, args)
        return device_program(device, 'unload.exe')
    if len(args) != 1 or not args[0]:
        raise Problem('remove: expected the name of an installed package, such as "Zilp Velmora"')
    return device_program(device, 'unload.exe', args[0])


# --- the test run's device ---------------------------------------------------------------------

def test_device(arch, build):
    return Device(os.path.join(build, 'test-device'), arch, build)


def test_setup(arch, build):
    """A factory-fresh device on a screen of the run's own: a test may stop, start and reset
    the device, and the display stays where every test program finds it."""
    device = test_device(arch, build)
    test_cleanup(arch, build)  # what an interrupted run left
    create_device(device.dir, arch, build)
    pid, display = start_xvfb(os.path.join(build, 'test-screen.log'))
    write(os.path.join(build, 'test-screen.pid'), str(pid))
    os.environ.update(DISPLAY=display, VELMORA_STAY_ON='1')
    start(device)
    print('the test device runs on display %s (%s)' % (display, device.dir))
    return 0


def test_cleanup(arch, build):
    device = test_device(arch, build)
    if os.path.isdir(device.prefix):
        stop(device)
    screen = os.path.join(build, 'test-screen.pid')
    if read(screen).isdigit():
        end_process(int(read(screen)))
    if os.path.exists(screen):
        os.remove(screen)
    return 0


def on_device(arch, build, args):
    """Runs one test program on the test device: one that an earlier test left down is booted
    again first, so that a fault fails the test that made it and no other."""
    device = test_device(arch, build)
    if not os.path.isdir(device.prefix):
        raise Problem('no test device at %s (ctest starts it with the fixture test_device)'
                      % device.dir)
    os.environ.update(VELMORA_ROOT=ROOT, VELMORA_BUILD=build, VELMORA_ARCH=arch,
                      VELMORA_DEVICE=device.dir, VELMORA_STAY_ON='1',
                      DISPLAY=read(device.file('display')))
    if not device.running():
        print('the device was down before this test: booting it again', flush=True)
        try:
            start(device)
        except Problem as problem:
            print('FAIL: the device does not boot: %s' % problem)
            return 1
    env = device.env(display=os.environ['DISPLAY'])
    os.execvpe(args[0], args, env)


def counts(paths):
    """Passed and failed of ctest JUnit files; a test that did not run has not passed."""
    passed = failed = 0
    for path in paths:
        for case in ElementTree.parse(path).getroot().iter('testcase'):
            if case.get('status') == 'run':
                passed += 1
            elif case.get('status') != 'disabled':
                failed += 1
    print(passed, failed)
    return 0


# --- the main job ------------------------------------------------------------------------------

def run_main(arch, build, args):
    port = web_port(args)
    folder = device_dir(arch)
    device = open_device(folder, arch, build)
    # A device from an older factory image lacks what the programs now expect of it.
    if os.path.isdir(device.prefix) and read(device.file('image-version')) != IMAGE_VERSION:
        stop(device)
        say('the device at %s is from an older factory image: it starts anew' % folder)
        shutil.rmtree(device.prefix)
    if not os.path.isdir(device.prefix):
        device = create_device(folder, arch, build)
    install_files(device)
    installed = device.file('package.cab')
    if not (os.path.exists(installed) and filecmp.cmp(
            os.path.join(build, 'Velmora.%s.CAB' % arch), installed, shallow=False)):
        install_package(device, reinstall=True)
    if port and device.running() and not device.pid('xvfb.pid'):
        raise Problem("run --web: the device shows on display %s, not a screen of its own; "
                      "'./velmora device stop' first" % read(device.file('display')))
    started = not device.running()
    if started:
        # The screen served is the device's own Xvfb, never the display of this session.
        if port:
            os.environ.pop('DISPLAY', None)
        start(device)
    say('device running on display %s (%s)' % (read(device.file('display')), folder))
    detached_exec(device, ['launcher.exe'], stdout=subprocess.DEVNULL)
    if port:
        return serve_web(device, started, port)
    if not device.pid('xvfb.pid'):
        say("the device shows on %s; './velmora device stop' shuts it down"
            % read(device.file('display')))
        return 0
    # Headless: nobody can look at the screen, so it is kept as one picture per page.
    shots = os.path.join(build, 'shots')
    shutil.rmtree(shots, ignore_errors=True)
    os.makedirs(shots)
    device.devtool('pages', APPLET_WINDOW, windows_path(shots), '15', stdout=subprocess.DEVNULL)
    say('screenshots in ' + shots)
    if started:
        stop(device)
        say('headless run done; the device was shut down (its state is kept in %s)' % folder)
    return 0


def web_port(args):
    """`run --web [PORT]`: the port, checked before anything is started."""
    if not args:
        return None
    if args[0] != '--web':
        raise Problem("run: expected nothing or --web [PORT], got '%s'" % args[0])
    if len(args) > 2:
        raise Problem('run: too many arguments')
    port = args[1] if len(args) == 2 else '6080'
    if not (port.isdigit() and len(port) <= 5 and 1 <= int(port) <= 65535):
        raise Problem("run --web: expected a port from 1 to 65535, got '%s'" % port)
    if not port_free(int(port)):
        raise Problem('run --web: port %s on 127.0.0.1 is in use (choose another: '
                      './velmora run --web PORT)' % int(port))
    return int(port)


def port_free(port):
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(('127.0.0.1', port))
            return True
        except OSError:
            return False


class Stopped(Exception):
    """Ctrl-C or a TERM: the run ends in order."""


def stopped(signum, frame):
    raise Stopped()


def serve_web(device, started, port):
    """Serves the device's screen at http://127.0.0.1:PORT/ until the device stops or the run
    is interrupted, then stops the servers (and the device when this run booted it). x11vnc
    listens on a Unix socket only and websockify on the loopback address, so nothing of the
    device is reachable from another machine."""
    web, sock = device.file('web'), device.file('vnc.sock')
    shutil.rmtree(web, ignore_errors=True)
    if os.path.exists(sock):
        os.remove(sock)
    os.makedirs(web)
    for part in ('core', 'vendor'):
        os.symlink('/usr/share/novnc/' + part, os.path.join(web, part))
    shutil.copy(os.path.join(ROOT, 'device', 'web', 'index.html'), web)
    display = read(device.file('display'))
    logs = 'see %s and %s' % (device.file('x11vnc.log'), device.file('websockify.log'))
    commands = [['x11vnc', '-display', display, '-rfbport', '0', '-rfbportv6', '0', '-no6',
                 '-unixsock', sock, '-forever', '-shared', '-nopw', '-noxdamage', '-quiet'],
                ['websockify', '--web', web, '--unix-target=' + sock, '127.0.0.1:%d' % port]]
    servers = []
    signal.signal(signal.SIGINT, stopped)
    signal.signal(signal.SIGTERM, stopped)
    try:
        for command, log in zip(commands, ('x11vnc.log', 'websockify.log')):
            with open(device.file(log), 'w') as out:
                # Each in a session of its own: the signal reaches this run, which stops them.
                servers.append(subprocess.Popen(command, stdout=out, stderr=out,
                                                start_new_session=True))
        poll(lambda: (os.path.exists(sock) and not port_free(port))
                   or any(s.poll() is not None for s in servers), 10, 0.1)
        if any(s.poll() is not None for s in servers):
            if 'in use' in read(device.file('websockify.log')).lower():
                raise Problem('run --web: port %d on 127.0.0.1 is in use (choose another: '
                              './velmora run --web PORT)' % port)
            raise Problem('run --web: the screen could not be served (%s)' % logs)
        print('http://127.0.0.1:%d/' % port, flush=True)
        say("the device's screen is served at http://127.0.0.1:%d/; Ctrl-C or "
            "'./velmora device stop' ends it" % port)
        while device.running():
            if any(s.poll() is not None for s in servers):
                # x11vnc ends with the display when the device is shut down.
                time.sleep(1)
                if device.running():
                    say('run --web: a server ended (%s)' % logs)
                    return 1
            time.sleep(0.5)
        say('the device was shut down')
        return 0
    except Stopped:
        return 0
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        for server in servers:
            end_process(server.pid, group=True)
        shutil.rmtree(web, ignore_errors=True)
        if os.path.exists(sock):
            os.remove(sock)
        if started and device.running():
            stop(device)
            say('the device was shut down (its state is kept in %s)' % device.dir)


# --- bench -------------------------------------------------------------------------------------

def median(values):
    numbers = sorted(v for v in values if v is not None)
    return numbers[(len(numbers) - 1) // 2] if numbers else None


def wakeups(pid):
    """A process's voluntary context switches, all its threads together: each is a time it
    went to sleep waiting (for a message, a timer, the wineserver) and was woken."""
    total = None
    try:
        for task in os.listdir('/proc/%d/task' % pid):
            for line in read('/proc/%d/task/%s/status' % (pid, task)).splitlines():
                if line.startswith('voluntary_ctxt_switches'):
                    total = (total or 0) + int(line.split()[1])
    except OSError:
        return None
    return total


def bench_row(figure, value, baseline, goal):
    if isinstance(value, (int, float)) and isinstance(baseline, (int, float)) and baseline > 0:
        ratio = '%.2f' % (value / baseline)
    else:
        ratio = 'n/a'
    shown = ['n/a' if v is None else ('%.1f' % v if isinstance(v, float) else str(v))
             for v in (value, baseline)]
    return '%-48s %9s %9s %6s  %s' % (figure, shown[0], shown[1], ratio, goal)


def started_pid(device, program, *args):
    """Starts a program of the device's \\Windows; the Linux process that it became."""
    before = set(device.pids_of(program))
    device.devtool('exec', program, *args, stdout=subprocess.DEVNULL)
    new = poll(lambda: sorted(set(device.pids_of(program)) - before), 30, 0.1)
    if not new:
        raise Problem('bench: %s did not start' % program)
    return new[0]


def bench_probe(device, *args):
    done = subprocess.run(['wine', 'bench_probe.exe', *args], cwd=device.windows, env=device.env(),
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return done.stdout.decode('utf-8', 'replace').replace('\r', '').strip()


def number(text):
    try:
        return float(text)
    except ValueError:
        return None


def bench_rows(device):
    for name, target in (('Ostrelle.exe', 10), ('launcher.exe', 3), ('powerg.cpl', 40)):
        size = os.path.getsize(os.path.join(device.build, 'device-files', name))
        yield bench_row('installed KB, %s, %s (baseline: its target)' % (name, device.arch),
                        round(size / 1024, 1), target, '<= 1')
    say('bench: opening, launcher against control.exe joy.cpl, 1 + 5 times each')
    ours, theirs = [], []
    for _ in range(6):
        ours.append(number(bench_probe(device, 'open', 'launcher.exe')))
        theirs.append(number(bench_probe(device, 'open', 'control.exe', 'joy.cpl')))
    # The first of each only warms the caches.
    yield bench_row('launcher to visible window, ms, median of 5', median(ours[1:]),
                    median(theirs[1:]), '<= 1 (baseline: control.exe joy.cpl)')
    say('bench: one Status-page refresh')
    counted = bench_probe(device, 'refresh').split()
    # A page that writes none of its controls even as it opens is still a stub.
    writes = int(counted[1]) if len(counted) == 2 and counted[0] not in ('0', '') else None
    yield bench_row('Status-page refresh, battery same: writes', writes, 0, 'none')
    say('bench: wake-ups over one minute')
    notifier = started_pid(device, 'Ostrelle.exe', 'ON')
    timer5 = started_pid(device, 'bench_timer.exe', '5000')
    device.devtool('exec', 'launcher.exe', stdout=subprocess.DEVNULL)
    timer2 = started_pid(device, 'bench_timer.exe', '2000')
    if device.devtool('wait', '60', APPLET_WINDOW, stdout=subprocess.DEVNULL):
        raise Problem('bench: the applet did not open')
    host, shell = device.pids_of('ctlpnl.exe')[:1], device.pids_of('devshell.exe')[:1]
    if not host or not shell:
        raise Problem("bench: the applet's host or the shell is not running")
    time.sleep(5)  # past their start, into their idle rhythm
    pids = [notifier, timer5, host[0], timer2, shell[0]]
    before, start_time = [wakeups(p) for p in pids], time.monotonic()
    time.sleep(60)
    after, seconds = [wakeups(p) for p in pids], time.monotonic() - start_time
    rate = [None if a is None or b is None else round((b - a) * 60 / seconds)
            for a, b in zip(before, after)]
    yield bench_row('notifier, wake-ups per minute', rate[0], rate[1], '<= 3 (baseline: 5 s timer)')
    yield bench_row('applet on Status page, wake-ups per minute', rate[2], rate[3],
                    '<= 3 (baseline: 2 s timer)')
    yield bench_row('device shell, wake-ups per minute', rate[4], rate[3],
                    '<= 1.5 (baseline: 2 s timer)')


BENCH_NOTES = """\
Sizes: the stripped files in build/ARCH/device-files, as installed. Wake-ups: Linux voluntary context
switches of a program's Wine process, all threads (/proc/PID/task/*/status), over the same 60 s,
beside bench_timer.exe with the same timer started with it on the same device; the applet is
counted in its host ctlpnl.exe. Opening: from CreateProcess to the first visible top-level window
of a new process, taken inside the device by bench_probe.exe. Refresh: the Status page's timer
message sent once to the page in bench_probe's own host a second after the page opened, counting
WM_SETTEXT, STM_SETIMAGE, WM_SETFONT and WM_SHOWWINDOW sent to its controls (n/a while the page
writes none of its controls even as it opens)."""


def run_bench(arch, build):
    """Every speed and size figure beside a baseline measured in the same run, on a device of
    its own that goes with the bench."""
    os.environ.pop('DISPLAY', None)
    # Stays on: a dimming inside the measured minute would count as the shell's idle cost.
    os.environ['VELMORA_STAY_ON'] = '1'
    device = create_device(os.path.join(build, 'bench-device'), arch, build)
    try:
        for name in ('bench_timer.exe', 'bench_probe.exe'):
            shutil.copy(os.path.join(build, 'tests', name), device.windows)
        start(device)
        say('bench: sizes')
        rows = list(bench_rows(device))
    finally:
        stop(device)
        shutil.rmtree(device.dir, ignore_errors=True)
    print('%-48s %9s %9s %6s  %s' % ('figure', 'velmora', 'baseline', 'ratio', 'goal'))
    print('\n'.join(rows))
    print(BENCH_NOTES)
    return 0


# --- the README's pictures ---------------------------------------------------------------------

def notifier_icon(device, unlike=None):
    """The notifier's line of `tray --at` once it has an image, and one other than the image of
    the line `unlike`."""
    image = lambda line: line.split(' image=')[-1]
    for line in device.devtool_text('tray', '--at').splitlines():
        if '"PowerSupplyZilpNotify"' in line and 'image=none' not in line:
            return line if unlike is None or image(line) != image(unlike) else None
    return None


def make_docs(arch, build):
    """From a factory-fresh device of their own: the applet's pages as a headless run shoots
    them, and the notification area before and after a tap on the notifier."""
    folder = os.path.join(build, 'docs-device')
    if os.path.isdir(os.path.join(folder, 'prefix')):
        stop(open_device(folder, arch, build))
    device = create_device(folder, arch, build)
    os.environ.pop('DISPLAY', None)
    os.environ['VELMORA_STAY_ON'] = '1'
    shots, docs = os.path.join(build, 'docs-shots'), os.path.join(ROOT, 'docs')
    compose = ['/usr/bin/python3', os.path.join(ROOT, 'tools', 'compose_docs.py')]
    try:
        start(device)
        shutil.rmtree(shots, ignore_errors=True)
        os.makedirs(shots)
        os.makedirs(docs, exist_ok=True)
        device.devtool('exec', 'launcher.exe', stdout=subprocess.DEVNULL)
        if device.devtool('pages', APPLET_WINDOW, windows_path(shots), '30', stdout=subprocess.DEVNULL):
            raise Problem("docs: the applet's pages could not be shot (see %s)" % shots)
        pages = sorted((f for f in os.listdir(shots) if f.startswith('page-')),
                       key=lambda f: int(f[5:-4]))
        subprocess.run(compose + ['pages', os.path.join(docs, 'pages.png')]
                       + [os.path.join(shots, f) for f in pages], check=True)
        device.devtool('reg', 'HKCU\\Software\\Zilp\\Velmora', 'ShowLockIcon=1',
                       stdout=subprocess.DEVNULL)
        device.devtool('exec', 'Ostrelle.exe', 'ON', stdout=subprocess.DEVNULL)
        shown, tray = poll(lambda: notifier_icon(device), 20, 0.2), []
        if not shown:
            raise Problem("docs: the notifier's icon did not appear")
        for state in ('first', 'second'):
            if state == 'second':
                device.devtool('tap', stdout=subprocess.DEVNULL)
                shown = poll(lambda: notifier_icon(device, unlike=shown), 10, 0.2)
                if not shown:
                    raise Problem("docs: a tap did not change the notifier's icon")
            time.sleep(1)  # let the taskbar paint
            shot = os.path.join(shots, 'tray-%s.png' % state)
            device.devtool('shot', windows_path(shot), stdout=subprocess.DEVNULL)
            # Left to right as they were shot: before the tap, then after it.
            tray += [shot, shown.split(' at=')[-1]]
        subprocess.run(compose + ['tray', os.path.join(docs, 'tray.png')] + tray, check=True)
    finally:
        stop(device)
    say('made %s/pages.png and %s/tray.png from %s' % (docs, docs, shots))
    return 0


# --- the command line --------------------------------------------------------------------------

def main(argv):
    arch, build, only = 'i686', None, False
    while argv[:1] in (['--arch'], ['--only'], ['--build']):
        if len(argv) < 2:
            raise Problem('%s: expected a value' % argv[0])
        if argv[0] == '--build':
            build = os.path.realpath(argv[1])
        else:
            arch, only = argv[1], only or argv[0] == '--only'
        argv = argv[2:]
    build = build or build_dir(arch)
    command, args = (argv[0], argv[1:]) if argv else ('', [])
    if command == 'device':
        device = open_device(device_dir(arch), arch)
        if not os.path.isdir(device.prefix):
            raise Problem('no device at %s (./velmora run makes one)' % device.dir)
        if only and device.arch != arch:
            raise Problem('the device at %s is an %s device, not %s' % (device.dir, device.arch, arch))
        return device_command(device, args)
    if command == 'on-device':
        return on_device(arch, build, args)
    if command == 'counts':
        return counts(args)
    if command == 'check-run':
        web_port(args)
        return 0
    jobs = {'run': lambda: run_main(arch, build, args), 'bench': lambda: run_bench(arch, build),
            'docs': lambda: make_docs(arch, build), 'test-setup': lambda: test_setup(arch, build),
            'test-cleanup': lambda: test_cleanup(arch, build)}
    if command not in jobs:
        raise Problem("device.py: unknown command '%s'" % command)
    if command != 'run':
        no_arguments(command, args)
    return jobs[command]()


if __name__ == '__main__':
    try:
        sys.exit(main(sys.argv[1:]))
    except Problem as problem:
        say(str(problem))
        sys.exit(2)
    except KeyboardInterrupt:
        sys.exit(130)
