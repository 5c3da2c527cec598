#!/usr/bin/env python3
"""The saver on two outputs of each headless compositor of the test table
(tests/wayland/desktops_e2e.py), nothing captured meanwhile: frames a second
by its frame log, new buffers a second committed on each output (from the
protocol log of the socket in front of the compositor), how long the
compositor holds a buffer (commit to release: median and 90th percentile),
and the CPU share of one core of the saver and of the compositor.

usage: bench/wayland_compositors.py [--seconds 10] [--warmup 3] [sway kwin mutter cage]
                                    [--quellora build/native/quellora]
                                    [--input build/native/tests/wayland/wlinput]
"""
import argparse
import os
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tests'))
sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'wayland'))
from e2e_common import cpu_seconds  # noqa: E402
import desktops_e2e as de  # noqa: E402


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--seconds', type=float, default=10)
    p.add_argument('--warmup', type=float, default=3)
    p.add_argument('--quellora', default='build/native/quellora')
    p.add_argument('--input', default='build/native/tests/wayland/wlinput')
    p.add_argument('compositors', nargs='*', default=['sway', 'kwin', 'mutter', 'cage'])
    args = p.parse_args()
    args.work = tempfile.mkdtemp(prefix='quellora-bench-')
    args.renders = args.render = None
    de.ARGS = de.wl.ARGS = de.x11_e2e.ARGS = args
    for name in args.compositors:
        kind = de.COMPOSITORS[name]
        d = kind(de.TWO[name])
        try:
            q = d.saver()
            de.shown(d, len(d.outputs))
            time.sleep(args.warmup)
            comp = d.procs[-1] if name != 'mutter' else [p for p in d.procs if 'mutter' in p.args][0]
            c0, s0 = cpu_seconds(comp.pid), cpu_seconds(q.proc.pid)
            t0, f0 = de.log_written(q)
            time.sleep(args.seconds)
            t1, f1 = de.log_written(q)
            c1, s1 = cpu_seconds(comp.pid), cpu_seconds(q.proc.pid)
            s = d.summary()
            rates = {n or sid: round(s.buffers_per_second(sid, t0, t1), 1) for sid, n, _, _ in s.shown()}
            held = sorted(h for h in s.hold_times())
            print('%-7s %s: %.1f frames/s by the log; buffers/s %s; held median %.0f ms, p90 %.0f ms; '
                  'CPU saver %.1f %%, compositor %.1f %%' % (
                      name, ' + '.join('%dx%d@%d' % (o.w, o.h, o.scale) for o in d.outputs), (f1 - f0) / (t1 - t0),
                      rates, 1000 * held[len(held) // 2], 1000 * held[len(held) * 9 // 10],
                      100 * (s1 - s0) / (t1 - t0), 100 * (c1 - c0) / (t1 - t0)), flush=True)
            q.close()
        finally:
            d.close()


if __name__ == '__main__':
    main()
