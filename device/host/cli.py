"""The host's command line, and velmora's: every argument of a command is checked here (those
of the device's own commands by the device tool), once, before anything is built or started.

    host [--arch ARCH | --only ARCH] [--build DIR] COMMAND [ARGS]

Each problem is one line on standard error, "velmora: ...", and exit status 2.
"""
import argparse
import os
import shlex
import sys

from .base import Problem, build_dir, device_dir, open_device
from . import bench, commands, fixture, pictures, run, web

ARCHES = ('i686', 'x86_64')

USAGE = """\
usage: ./velmora [--arch i686|x86_64] run [--web [PORT]] | test [CTEST ARGS] | bench | docs
                 | package | setup | arches | device COMMAND [ARGS]

  --arch ARCH        the device's architecture (default: i686 where 32-bit programs run, else
                     x86_64; test: each that runs here)
  run --web [PORT]   the device's screen live at http://127.0.0.1:PORT/ (default 6080), mouse
                     clicks as stylus taps
  package            the installation cabinet build/ARCH/Velmora.ARCH.CAB (default i686)
  setup              install what is missing (every command does it first)
  arches             the architectures that run on this machine
  device help        the device's commands"""


def velmora_command(argv):
    """velmora's command line checked: (ARCH asked for or '', COMMAND, ARGS). --arch may stand
    anywhere; the arguments of test go to ctest, those of device to the device."""
    arch, words = '', []
    while argv:
        if argv[0] != '--arch':
            words.append(argv.pop(0))
            continue
        if len(argv) < 2:
            raise Problem('--arch: expected i686 or x86_64')
        arch, argv = argv[1], argv[2:]
    if arch and arch not in ARCHES:
        raise Problem("--arch: expected i686 or x86_64, got '%s'" % arch)
    command, args = (words[0], words[1:]) if words else ('', [])
    if command == 'run':
        web.web_port(args)  # before anything is built or started
    elif command in ('bench', 'docs', 'package', 'setup', 'arches'):
        commands.no_arguments(command, args)
    elif command in ('-h', '--help'):
        command = 'help'
    elif command not in ('test', 'device', 'help'):
        print(USAGE, file=sys.stderr)
        sys.exit(2)
    return arch, command, args


def check(args):
    """For velmora: its command line checked, as words for the shell's `eval set --`."""
    arch, command, args = velmora_command(list(args))
    print(' '.join(shlex.quote(word) for word in [arch, command, *args]))
    return 0


def device(options, args):
    arch = options.only or options.arch
    found = open_device(device_dir(arch), arch)
    if not os.path.isdir(found.prefix):
        raise Problem('no device at %s (./velmora run makes one)' % found.dir)
    if options.only and found.arch != arch:
        raise Problem('the device at %s is an %s device, not %s' % (found.dir, found.arch, arch))
    return commands.device_command(found, args)


# Each command with what it does, and whether it takes arguments: a job of the device that
# takes none gets them refused here.
JOBS = {
    'check': ('velmora\'s command line checked, as shell words', lambda o, a, b: check(a)),
    'help': ('velmora\'s usage', lambda o, a, b: print(USAGE) or 0),
    'device': ('a `velmora device` command', lambda o, a, b: device(o, a)),
    'run': ('the persistent device with the package, the applet open [--web PORT]',
            lambda o, a, b: run.run_main(o.arch, b, a)),
    'bench': ('every size and speed figure beside a baseline',
              lambda o, a, b: bench.run_bench(o.arch, b)),
    'docs': ("the README's pictures", lambda o, a, b: pictures.make_docs(o.arch, b)),
    'test-setup': ("the test run's throwaway device and its screen",
                   lambda o, a, b: fixture.test_setup(o.arch, b)),
    'test-cleanup': ('the same, stopped and gone', lambda o, a, b: fixture.test_cleanup(o.arch, b)),
    'on-device': ('PROGRAM [ARGS]: a test program on the test device, booted again if it is down',
                  lambda o, a, b: fixture.on_device(o.arch, b, a)),
    'counts': ('FILE.xml...: "PASSED FAILED" of ctest JUnit files',
               lambda o, a, b: fixture.counts(a)),
}
NO_ARGUMENTS = ('help', 'bench', 'docs', 'test-setup', 'test-cleanup')


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise Problem('host: ' + message)


def parser():
    top = Parser(prog='host', allow_abbrev=False,
                 description='The emulated device as this machine sees it; velmora calls it.',
                 formatter_class=argparse.RawDescriptionHelpFormatter)
    top.add_argument('--arch', choices=ARCHES, default='i686',
                     help='the architecture where nothing else picks one (a device runs the one '
                     'it was made for)')
    top.add_argument('--only', choices=ARCHES, help='refuse a device of another architecture')
    top.add_argument('--build', type=os.path.realpath, help='the build tree')
    jobs = top.add_subparsers(dest='command', required=True, metavar='COMMAND')
    for name, (text, _) in JOBS.items():
        jobs.add_parser(name, help=text, add_help=False)
    return top


def split(argv):
    """The host's own options with the command, and the command's arguments, which are the
    command's to check: they go on to ctest, the device tool or a test program as they are."""
    at = 0
    while at < len(argv) and argv[at] in ('--arch', '--only', '--build'):
        at += 2
    return argv[:at + 1], argv[at + 1:]


def main(argv):
    own, args = split(argv)
    options = parser().parse_args(own)
    if options.only:
        options.arch = options.only
    if options.command in NO_ARGUMENTS:
        commands.no_arguments(options.command, args)
    if options.command == 'on-device' and not args:
        raise Problem('on-device: expected a program and its arguments')
    return JOBS[options.command][1](options, args, options.build or build_dir(options.arch))
