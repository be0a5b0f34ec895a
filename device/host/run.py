"""`velmora run`: the persistent device with this build's package, the applet open; headless,
one screenshot per page."""
import filecmp
import os
import shutil
import subprocess

from .base import APPLET_WINDOW, IMAGE_VERSION, Problem, device_dir, open_device, read, say, windows_path
from .commands import detached_exec
from .life import create_device, install_files, install_package, start, stop
from .web import serve_web, web_port


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

