"""The test run's device, a CTest fixture: a factory-fresh device on a screen of the run's own,
booted before the first test of the device and shut down after the last; each test program
runs on it, and one that an earlier test left down is booted again first."""
import os
import xml.etree.ElementTree as ElementTree

from .base import ROOT, Device, Problem, end_process, read, write
from .life import create_device, start, start_xvfb, stop


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

