"""`velmora run --web [PORT]`: the device's screen in a browser on this machine, through x11vnc
on the device's own Xvfb and websockify with noVNC's client (index.html, beside this module)."""
import os
import shutil
import signal
import socket
import subprocess
import time

from .base import Problem, end_process, poll, read, say
from .life import stop

PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'index.html')


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


def clear(web, sock):
    shutil.rmtree(web, ignore_errors=True)
    if os.path.exists(sock):
        os.remove(sock)


def start_servers(servers, device, web, sock, port):
    """x11vnc on the device's display, listening on a Unix socket only, and websockify with the
    page on the loopback address, so that nothing of the device is reachable from another
    machine. Each in a session of its own: the signal reaches this run, which stops them. Into
    SERVERS as each starts, so that an interrupted start stops what it started."""
    commands = [['x11vnc', '-display', read(device.file('display')), '-rfbport', '0',
                 '-rfbportv6', '0', '-no6', '-unixsock', sock, '-forever', '-shared', '-nopw',
                 '-noxdamage', '-quiet'],
                ['websockify', '--web', web, '--unix-target=' + sock, '127.0.0.1:%d' % port]]
    for command, log in zip(commands, ('x11vnc.log', 'websockify.log')):
        with open(device.file(log), 'w') as out:
            servers.append(subprocess.Popen(command, stdout=out, stderr=out,
                                            start_new_session=True))


def watch(device, servers, port, logs):
    """Waits for the servers to listen, then until the device stops; the exit status."""
    poll(lambda: (os.path.exists(device.file('vnc.sock')) and not port_free(port))
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


def serve_web(device, started, port):
    """Serves the device's screen at http://127.0.0.1:PORT/ until the device stops or the run
    is interrupted, then stops the servers (and the device when this run booted it)."""
    web, sock = device.file('web'), device.file('vnc.sock')
    clear(web, sock)
    os.makedirs(web)
    for part in ('core', 'vendor'):
        os.symlink('/usr/share/novnc/' + part, os.path.join(web, part))
    shutil.copy(PAGE, web)
    logs = 'see %s and %s' % (device.file('x11vnc.log'), device.file('websockify.log'))
    servers = []
    signal.signal(signal.SIGINT, stopped)
    signal.signal(signal.SIGTERM, stopped)
    try:
        start_servers(servers, device, web, sock, port)
        return watch(device, servers, port, logs)
    except Stopped:
        return 0
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        for server in servers:
            end_process(server.pid, group=True)
        clear(web, sock)
        if started and device.running():
            stop(device)
            say('the device was shut down (its state is kept in %s)' % device.dir)
