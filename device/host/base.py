"""What every job of the host shares: the checkout, one-line problems, waiting with a bound, and
a device's folder with its Wine prefix and processes."""
import os
import signal
import subprocess
import sys
import time

# The checkout as the kernel names it: /proc shows the resolved paths of mapped images.
ROOT = os.path.realpath(os.path.join(os.path.dirname(__file__), '..', '..'))
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


def end_process(pid, group=False):
    """Ends a process (or its group) and waits until it is gone, so that what it held (a
    display number, a port) is free for the next."""
    try:
        os.killpg(pid, signal.SIGTERM) if group else os.kill(pid, signal.SIGTERM)
    except OSError:
        return
    poll(lambda: not alive(pid) or read('/proc/%d/stat' % pid).split(') ')[-1][:1] == 'Z', 5)


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
