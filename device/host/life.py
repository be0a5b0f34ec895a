"""The device's life on this machine: the factory image, a new device, boot, shut-down and
reset."""
import os
import shutil
import subprocess
import zlib

from .base import (IMAGE_VERSION, ROOT, SCREEN, Device, Problem, end_process, poll, read, say,
                   windows_path, write)


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

