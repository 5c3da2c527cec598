#!/usr/bin/env python3
"""The saver on two outputs of each headless compositor of the test table
(tests/wayland/desktops_e2e.py), nothing captured meanwhile: frames a second
by its frame log; new buffers a second committed on each output and the
frames the compositor says it presented there (wp_presentation), both from
the protocol log of the socket in front of the compositor; how long the
compositor holds a buffer (commit to release: median and 90th percentile);
the CPU share of one core of the saver and of the compositor; the saver's
resident set now and at its most (VmRSS, VmHWM: its shared buffers
included). Then, where the compositor's outputs can be switched off (sway
one by one, Mutter all at once): the buffers each output gets and the
saver's CPU while one is off and while all are, and how long after they
come on again each output gets its first frame. Last, in the same
compositor, the control (wlcontrol): a plain client committing a buffer of
each output's size, damaged whole, 25 times a second; what the compositor
presents of it is what it can present, and the saver's presented frames are
given as a share of it. `--compare BIN` measures a second saver binary the
same way, in the same compositor, right after the first.

usage: bench/wayland_compositors.py [--seconds 10] [--warmup 3] [--dark 10] [sway kwin mutter cage]
                                    [--quellora build/native/quellora] [--compare OTHER]
                                    [--input build/native/tests/wayland/wlinput]
                                    [--control build/native/wlcontrol]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tests'))
sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'wayland'))
from e2e_common import cpu_seconds  # noqa: E402
import desktops_e2e as de  # noqa: E402


def memory(pid):
    """VmRSS and VmHWM of a process, in MiB."""
    fields = {}
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            key, _, value = line.partition(':')
            fields[key] = value.split()
    return int(fields['VmRSS'][0]) / 1024, int(fields['VmHWM'][0]) / 1024


def compositor_of(d):
    return [p for p in d.procs if 'mutter' in p.args][0] if d.name == 'mutter' else d.procs[-1]


def per_output(s, since, until):
    """Buffers/s and presented/s of each output's picture between two times."""
    out = {}
    for sid, name, _, _ in s.shown():
        pic = s.picture(sid)
        out[name or sid] = (s.buffers_per_second(pic, since, until), s.presented_per_second(pic, since, until))
    return out


def first_commits(s, since):
    """Seconds from `since` to each output's first buffer after it."""
    out = {}
    for sid, name, _, _ in s.shown():
        times = [t for pic in {sid, s.picture(sid)} for t, b, _ in s.surfaces[pic]['commits'] if b and t >= since]
        out[name or sid] = round(min(times) - since, 2) if times else None
    return out


def measure(d, args, binary):
    """One saver binary on the compositor `d`: prints its figures, returns its
    presented frames a second per output."""
    shutil.copy(binary, d.bin['quellora'])
    os.chmod(d.bin['quellora'], 0o755)
    q = d.saver()
    try:
        de.shown(d, len(d.outputs))
        time.sleep(args.warmup)
        comp = compositor_of(d)
        c0, s0 = cpu_seconds(comp.pid), cpu_seconds(q.proc.pid)
        t0, f0 = de.log_written(q)
        time.sleep(args.seconds)
        t1, f1 = de.log_written(q)
        c1, s1 = cpu_seconds(comp.pid), cpu_seconds(q.proc.pid)
        s = d.summary()
        rates = per_output(s, t0, t1)
        held = sorted(s.hold_times())
        rss, hwm = memory(q.proc.pid)
        print('  %s: %.1f frames/s by the log; buffers/s, presented/s %s; held median %.0f ms, p90 %.0f ms; '
              'CPU saver %.2f %%, compositor %.1f %%; RSS %.0f MiB, at most %.0f MiB' % (
                  binary, (f1 - f0) / (t1 - t0),
                  {k: (round(b, 1), p if p is None else round(p, 1)) for k, (b, p) in rates.items()},
                  1000 * held[len(held) // 2] if held else -1, 1000 * held[len(held) * 9 // 10] if held else -1,
                  100 * (s1 - s0) / (t1 - t0), 100 * (c1 - c0) / (t1 - t0), rss, hwm), flush=True)
        if d.power.__func__ is not de.Desktop.power:
            try:
                dark(d, q, args)
            except de.Failure as e:
                print('  (outputs off: %s)' % e, flush=True)
        return {k: p for k, (b, p) in rates.items()}
    finally:
        q.close()


def dark(d, q, args):
    """The saver while outputs are off, and when they come on again."""
    names = [o.name for o in d.outputs]
    if d.power_each:
        d.power(False, d.outputs[1])
        time.sleep(1)
        t0 = time.monotonic()
        time.sleep(args.seconds)
        t1 = time.monotonic()
        rates = per_output(d.summary(), t0, t1)
        print('    %s off: buffers/s %s' % (names[1], {k: round(b, 1) for k, (b, _) in rates.items()}), flush=True)
    d.power(False)
    time.sleep(1)
    t0, c0 = time.monotonic(), cpu_seconds(q.proc.pid)
    time.sleep(args.dark)
    t1, c1 = time.monotonic(), cpu_seconds(q.proc.pid)
    rates = per_output(d.summary(), t0, t1)
    print('    every output off: buffers/s %s; CPU saver %.2f %% over %.0f s (%d ticks)' % (
        {k: round(b, 1) for k, (b, _) in rates.items()}, 100 * (c1 - c0) / (t1 - t0), t1 - t0,
        round((c1 - c0) * os.sysconf('SC_CLK_TCK'))), flush=True)
    on = time.monotonic()
    d.power(True)
    time.sleep(2)
    print('    on again: the first frame after %s s' % first_commits(d.summary(), on), flush=True)


def control(d, args):
    """wlcontrol on the compositor itself: presented/s per output."""
    path = os.path.join(d.home, 'wlcontrol')
    shutil.copy(args.control, path)
    os.chmod(path, 0o755)
    out = subprocess.run(d.as_user + [path, str(args.seconds)], env=d.env, cwd=d.home, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, timeout=args.seconds + 60)
    rates = {}
    for line in out.stdout.splitlines():
        words = line.split()
        rates[words[0]] = float(words[2].rstrip('/s'))
        print('  control %s' % line, flush=True)
    if out.returncode:
        print('  control failed: %s' % out.stderr.strip(), flush=True)
    return rates


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--seconds', type=float, default=10)
    p.add_argument('--warmup', type=float, default=3)
    p.add_argument('--dark', type=float, default=10)
    p.add_argument('--quellora', default='build/native/quellora')
    p.add_argument('--compare')
    p.add_argument('--input', default='build/native/tests/wayland/wlinput')
    p.add_argument('--control', default='build/native/wlcontrol')
    p.add_argument('compositors', nargs='*', default=['sway', 'kwin', 'mutter', 'cage'])
    args = p.parse_args()
    args.work = tempfile.mkdtemp(prefix='quellora-bench-')
    args.renders = args.render = None
    de.ARGS = de.wl.ARGS = de.x11_e2e.ARGS = args
    for name in args.compositors:
        kind = de.COMPOSITORS[name]
        d = kind(de.TWO[name])
        try:
            print('%s %s:' % (name, ' + '.join('%dx%d@%d' % (o.w, o.h, o.scale) for o in d.outputs)), flush=True)
            presented = measure(d, args, os.path.abspath(args.quellora))
            if args.compare:
                measure(d, args, os.path.abspath(args.compare))
            if os.path.exists(args.control):
                ctl = control(d, args)
                print('  presented, the saver as a share of the control: %s' % {
                    k: round(v / ctl[k], 2) if v is not None and ctl.get(k) else None
                    for k, v in presented.items()}, flush=True)
        finally:
            d.close()


if __name__ == '__main__':
    main()
