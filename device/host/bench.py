"""`velmora bench`: every size and speed figure beside a baseline measured in the same run, on
a throwaway device of its own."""
import os
import shutil
import subprocess
import time

from .base import APPLET_WINDOW, Problem, poll, read, say
from .life import create_device, start, stop


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
            shutil.copy(os.path.join(build, 'bench', name), device.windows)
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

