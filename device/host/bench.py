"""`velmora bench`: every size and speed figure beside a baseline measured in the same run, on
a throwaway device of its own."""
import os
import shutil
import subprocess
import tempfile
import time

from .base import APPLET_WINDOW, Problem, build_dir, poll, read, say
from .life import create_device, start, stop


def median(values):
    numbers = sorted(v for v in values if v is not None)
    return numbers[(len(numbers) - 1) // 2] if numbers else None


def thread_wakeups(pid):
    """A process's voluntary context switches by thread, {tid: (name, count)}: each is a time a
    thread went to sleep waiting (for a message, a timer, a reply of the wineserver) and was
    woken. None once the process is gone."""
    found = {}
    try:
        for task in os.listdir('/proc/%d/task' % pid):
            for line in read('/proc/%d/task/%s/status' % (pid, task)).splitlines():
                if line.startswith('voluntary_ctxt_switches'):
                    found[task] = (read('/proc/%d/task/%s/comm' % (pid, task)).strip(),
                                   int(line.split()[1]))
    except OSError:
        return None
    return found


def private_kb(pid):
    """The memory of a process that no other shares: the Private_* lines of smaps_rollup."""
    text = read('/proc/%d/smaps_rollup' % pid)
    sizes = [int(line.split()[1]) for line in text.splitlines() if line.startswith('Private_')]
    return sum(sizes) if sizes else None


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
    # Into a file, not a pipe: a program the probe leaves running ("show") holds what the probe
    # had as its output, and a pipe would not end before that program.
    with tempfile.TemporaryFile() as out:
        subprocess.run(['wine', 'bench_probe.exe', *args], cwd=device.windows, env=device.env(),
                       stdout=out, stderr=subprocess.DEVNULL)
        out.seek(0)
        return out.read().decode('utf-8', 'replace').replace('\r', '').strip()


def number(text):
    try:
        return float(text)
    except ValueError:
        return None


def new_pid(device, comm, before):
    """The one process named COMM among the device's processes that is not in BEFORE."""
    pids = [int(p.rsplit(' ', 1)[1]) for p in device.processes() if p.rsplit(' ', 1)[0] == comm]
    new = sorted(set(pids) - set(before))
    return new[0] if new else None


def size_rows():
    # The files that ship are the i686 ones, whatever device the bench runs on.
    files = os.path.join(build_dir('i686'), 'device-files')
    for name, target in (('Ostrelle.exe', 10), ('launcher.exe', 3), ('powerg.cpl', 40)):
        path = os.path.join(files, name)
        size = round(os.path.getsize(path) / 1024, 1) if os.path.exists(path) else None
        yield bench_row('installed KB, %s, i686 (baseline: its target)' % name, size, target,
                        '<= 1.0')


def opening_rows(device):
    say('bench: opening, launcher against control.exe joy.cpl, 1 + 5 times each')
    ours, theirs = [], []
    for _ in range(6):
        ours.append(number(bench_probe(device, 'open', 'launcher.exe')))
        theirs.append(number(bench_probe(device, 'open', 'control.exe', 'joy.cpl')))
    # The first of each only warms the caches.
    yield bench_row('launcher to visible window, ms, median of 5', median(ours[1:]),
                    median(theirs[1:]), '<= 1.0 (baseline: control.exe joy.cpl)')
    say('bench: one Status-page refresh')
    counted = bench_probe(device, 'refresh').split()
    # A page that writes none of its controls even as it opens is still a stub.
    writes = int(counted[1]) if len(counted) == 2 and counted[0] not in ('0', '') else None
    yield bench_row('Status-page refresh, battery same: writes', writes, 0, 'none')


def idle_processes(device):
    """The programs of the idle minute, started together: {name: Linux pid}."""
    pids = {'notifier': started_pid(device, 'Ostrelle.exe', 'ON'),
            'timer5': started_pid(device, 'bench_timer.exe', '5000')}
    device.devtool('exec', 'launcher.exe', stdout=subprocess.DEVNULL)
    pids['timer2'] = started_pid(device, 'bench_timer.exe', '2000')
    if device.devtool('wait', '60', APPLET_WINDOW, stdout=subprocess.DEVNULL):
        raise Problem('bench: the applet did not open')
    host, shell = device.pids_of('ctlpnl.exe')[:1], device.pids_of('devshell.exe')[:1]
    if not host or not shell:
        raise Problem("bench: the applet's host or the shell is not running")
    pids.update(host=host[0], shell=shell[0])
    return pids


# Who wakes, thread by thread, for the lines under the table.
WakeupDetail = []


def idle_rows(device):
    say('bench: wake-ups over one minute')
    pids = idle_processes(device)
    time.sleep(5)  # past their start, into their idle rhythm
    before, start_time = {k: thread_wakeups(p) for k, p in pids.items()}, time.monotonic()
    time.sleep(60)
    after, seconds = {k: thread_wakeups(p) for k, p in pids.items()}, time.monotonic() - start_time
    rate = {}
    for key in pids:
        if before[key] is None or after[key] is None:
            rate[key] = None
            continue
        counts = {tid: (name, n - before[key].get(tid, (name, 0))[1])
                  for tid, (name, n) in after[key].items()}
        rate[key] = round(sum(n for _, n in counts.values()) * 60 / seconds)
        woke = ['%s %s: %d' % (tid, name, n) for tid, (name, n) in sorted(counts.items()) if n]
        WakeupDetail.append('%-8s %s' % (key, ', '.join(woke) or 'none'))
    yield bench_row('notifier, wake-ups per minute', rate['notifier'], rate['timer5'],
                    '<= 1.0 (baseline: 5 s timer)')
    yield bench_row('applet on Status page, wake-ups per minute', rate['host'], rate['timer2'],
                    '<= 1.2 (baseline: 2 s timer)')
    yield bench_row('device shell, wake-ups per minute', rate['shell'], rate['timer2'],
                    '<= 0.1 (baseline: 2 s timer)')
    yield from memory_rows(device, pids)


def memory_rows(device, pids):
    say('bench: private memory beside control.exe joy.cpl and the 5 s timer')
    before = [int(p.rsplit(' ', 1)[1]) for p in device.processes()]
    bench_probe(device, 'show', 'control.exe', 'joy.cpl')
    panel = new_pid(device, 'control.exe', before)
    theirs = private_kb(panel) if panel else None
    yield bench_row("applet's host on Status page, private KB", private_kb(pids['host']), theirs,
                    '<= 1.0 (baseline: control.exe joy.cpl)')
    yield bench_row('notifier, private KB', private_kb(pids['notifier']),
                    private_kb(pids['timer5']), '<= 1.0 (baseline: 5 s timer)')


def bench_rows(device):
    yield from size_rows()
    yield from opening_rows(device)
    yield from idle_rows(device)


BENCH_NOTES = """\
Sizes: the stripped i686 files in build/i686/device-files, as they ship. Wake-ups: Linux voluntary
context switches of a program's Wine process, all threads (/proc/PID/task/*/status), over the same
60 s, beside bench_timer.exe with the same timer started with it on the same device; the applet is
counted in its host ctlpnl.exe. Opening: from CreateProcess to the first visible top-level window
of a new process, taken inside the device by bench_probe.exe. Refresh: the Status page's timer
message sent once to the page in bench_probe's own host a second after the page opened, counting
WM_SETTEXT, STM_SETIMAGE, WM_SETFONT and WM_SHOWWINDOW sent to its controls (n/a while the page
writes none of its controls even as it opens). Memory: Private_Clean + Private_Dirty of the Wine
process (/proc/PID/smaps_rollup) after the idle minute, control.exe joy.cpl with its window open."""


def run_bench(arch, build):
    """Every speed and size figure beside a baseline measured in the same run, on a device of
    its own that goes with the bench."""
    os.environ.pop('DISPLAY', None)
    # Stays on: a dimming inside the measured minute would count as the shell's idle cost.
    os.environ['VELMORA_STAY_ON'] = '1'
    device = create_device(os.path.join(build, 'bench-device'), arch, build)
    # The figures of a busy machine are not those of an idle one: the load goes with them.
    load = [' '.join(read('/proc/loadavg').split()[:3])]
    try:
        for name in ('bench_timer.exe', 'bench_probe.exe'):
            shutil.copy(os.path.join(build, 'bench', name), device.windows)
        start(device)
        say('bench: sizes')
        rows = list(bench_rows(device))
    finally:
        stop(device)
        shutil.rmtree(device.dir, ignore_errors=True)
    load.append(' '.join(read('/proc/loadavg').split()[:3]))
    print('%-48s %9s %9s %6s  %s' % ('figure', 'velmora', 'baseline', 'ratio', 'goal'))
    print('\n'.join(rows))
    print('wake-ups in the minute by thread (Linux thread id, name: count):')
    print('\n'.join('  ' + line for line in WakeupDetail))
    print('load average (1, 5, 15 min): %s at the start, %s at the end' % tuple(load))
    print(BENCH_NOTES)
    return 0
