#!/usr/bin/env python3
"""The saver on headless sway, natively on Wayland and as the X11 program
under XWayland in the same sway, side by side: for each, frames a second
(from QUELLORA_FRAME_LOG) and the CPU share of one core of quellora, of
sway, of Xwayland and of them all together (from /proc/PID/stat) and the program's resident set (VmRSS, its shared
buffers included), on a
1280x1024 output at scale 1 and on a 3840x2160 one at scale 2. Both are
started by sway (`swaymsg exec`), so both get the session's environment.

usage: bench/wayland_vs_xwayland.py [--seconds 20] [--warmup 2]
                                    [--quellora build/native/quellora]
                                    [--input build/native/tests/wayland/wlinput]
"""
import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tests'))
sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'wayland'))
from e2e_common import cpu_seconds, poll  # noqa: E402
import wayland_e2e  # noqa: E402


def pids_of(exe):
    out = []
    for p in os.listdir('/proc'):
        if p.isdigit():
            try:
                if os.path.realpath('/proc/%s/exe' % p) == exe:
                    out.append(int(p))
            except OSError:
                pass
    return out


def runtime_of(pid):
    """The XDG_RUNTIME_DIR a process runs with: its sway's."""
    try:
        env = open('/proc/%d/environ' % pid, 'rb').read().split(b'\0')
    except OSError:
        return None
    for e in env:
        if e.startswith(b'XDG_RUNTIME_DIR='):
            return e.split(b'=', 1)[1].decode()
    return None


def frame_log(path):
    text = open(path).read().split()
    return (int(text[0]), int(text[1])) if len(text) == 2 else None


def measure(sway, backend, seconds, warmup):
    log = os.path.join(sway.home, 'frames-' + backend)
    open(log, 'w').close()
    if sway.user:
        os.chown(log, sway.user.pw_uid, sway.user.pw_gid)
    sway.msg('exec', 'env QUELLORA_BACKEND=%s QUELLORA_FRAME_LOG=%s %s /s' % (backend, log, sway.bin['quellora']))
    pids = poll(lambda: pids_of(sway.bin['quellora']) or None, 20)
    if not pids:
        raise SystemExit('quellora did not start on ' + backend)
    q = pids[0]
    time.sleep(warmup)
    # Xwayland starts when the first X client comes.
    xw = [p for p in pids_of('/usr/bin/Xwayland') if runtime_of(p) == sway.runtime]
    watched = {'quellora': [q], 'sway': [sway.proc.pid], 'Xwayland': xw}
    c0 = {k: sum(cpu_seconds(p) for p in v) for k, v in watched.items()}
    f0, t0 = poll(lambda: frame_log(log), 10), time.monotonic()
    time.sleep(seconds)
    c1 = {k: sum(cpu_seconds(p) for p in v) for k, v in watched.items()}
    f1, t1 = frame_log(log), time.monotonic()
    rss = rss_mb(q)
    os.kill(q, 15)
    poll(lambda: not pids_of(sway.bin['quellora']) or None, 20)
    fps = (f1[0] - f0[0]) * 1000.0 / max(1, f1[1] - f0[1])
    cpu = {k: 100 * (c1[k] - c0[k]) / (t1 - t0) for k in watched}
    return fps, cpu, rss


def rss_mb(pid):
    """The resident set of a process in MB, shared memory (its wl_shm buffers) included."""
    for line in open('/proc/%d/status' % pid):
        if line.startswith('VmRSS:'):
            return int(line.split()[1]) / 1024.0
    return 0.0


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--seconds', type=float, default=20)
    p.add_argument('--warmup', type=float, default=2)
    p.add_argument('--quellora', default='build/native/quellora')
    p.add_argument('--input', default='build/native/tests/wayland/wlinput')
    a = p.parse_args()

    class Args:
        quellora = os.path.abspath(a.quellora)
        input = os.path.abspath(a.input)
        work = os.path.abspath('build/native/bench-wayland')
    os.makedirs(Args.work, exist_ok=True)
    wayland_e2e.ARGS = Args
    print('%-22s %-9s %8s %9s %7s %9s %7s %8s' % ('output', 'host', 'frames/s', 'quellora', 'sway', 'Xwayland', 'total',
                                                 'RSS'))
    for w, h, scale in ((1280, 1024, 1), (3840, 2160, 2)):
        sway = wayland_e2e.Sway(xwayland=True)
        try:
            sway.output('HEADLESS-1', w, h, scale, 0, 0)
            for backend, label in (('wayland', 'native'), ('x11', 'XWayland')):
                fps, cpu, rss = measure(sway, backend, a.seconds, a.warmup)
                print('%-22s %-9s %8.2f %8.1f%% %6.1f%% %8.1f%% %6.1f%% %6.0fMB' % (
                    '%dx%d scale %d' % (w, h, scale), label, fps, cpu['quellora'], cpu['sway'], cpu['Xwayland'],
                    sum(cpu.values()), rss), flush=True)
        finally:
            sway.close()


if __name__ == '__main__':
    main()
