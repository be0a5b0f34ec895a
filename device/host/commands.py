"""`velmora device`: the device's life is done here (start, stop, status, reset, install,
packages, remove); every other command, and the help, is the device tool's, which owns the list
of commands and checks their arguments."""
import os
import sys
import tempfile

from .base import Problem, read, windows_path
from .life import device_program, reset, start, stop


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

