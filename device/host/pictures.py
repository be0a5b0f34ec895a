"""`velmora docs`: the README's pictures, from the applet's pages and the notification area
before and after a tap, shot on a factory-fresh device of their own."""
import os
import shutil
import subprocess
import time

from .base import APPLET_WINDOW, ROOT, Problem, open_device, poll, say, windows_path
from .life import create_device, start, stop


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

