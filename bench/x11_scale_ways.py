#!/usr/bin/env python3
"""Enlarging the frame on X, two ways side by side in one Xvfb of 3840x2160:
the core enlarges it and puts the big 1-bit image (quellora's way), or the X
server enlarges it with XRender (a nearest-neighbour transform). For each it
prints frames a second, the CPU share (of one core) of the program and of
the X server, the two together, and whether the last frame's pixels are the
renderer's frame, every pixel an n x n block.

usage: bench/x11_scale_ways.py [--seconds 20] [--scale 2] [--rounds 2]
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tests'))
from e2e_common import cpu_seconds, start_xvfb  # noqa: E402
BUILD = os.path.join(HERE, '..', 'build', 'native')
TICKS = os.sysconf('SC_CLK_TCK')
W, H = 3840, 2160


def exact(env, steps, n, size, work):
    """The screen's viewport (a screen of `size`, the picture enlarged n
    times) against the renderer's frame of that step, pure black and white."""
    w, h = size
    shot, frame = os.path.join(work, 'shot.ppm'), os.path.join(work, 'frame.bmp')
    subprocess.run([os.path.join(BUILD, 'tests', 'x11', 'xhelper'), 'grab', shot], env=env, check=True)
    subprocess.run([os.path.join(BUILD, 'quellora-render'), '--step', str(steps), '--out', frame], check=True,
                   stdout=subprocess.DEVNULL)
    data = open(shot, 'rb').read()
    m = re.match(rb'P6\n(\d+) (\d+)\n255\n', data)
    img = np.frombuffer(data, np.uint8, w * h * 3, m.end()).reshape(h, w, 3)
    vx, vy = (w - 1024 * n) // 2, (h - 768 * n) // 2
    view = img[vy:vy + 768 * n, vx:vx + 1024 * n]
    # Only pure black and pure white count.
    if not np.all((view == 0) | (view == 255)) or not np.all(view.min(axis=2) == view.max(axis=2)):
        return False
    got = view[:, :, 0] == 0
    bmp = open(frame, 'rb').read()
    offset = int.from_bytes(bmp[10:14], 'little')
    rows = np.frombuffer(bmp, np.uint8, 128 * 768, offset).reshape(768, 128)[::-1]
    want = np.unpackbits(rows, axis=1).astype(bool)  # index 1 is black
    return np.array_equal(np.repeat(np.repeat(want, n, axis=0), n, axis=1), got)


def measure(way, seconds, n, xvfb, env, work):
    proc = subprocess.Popen([os.path.join(BUILD, 'x11_scale_ways'), way, str(seconds), str(n)], env=env,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    time.sleep(0.5)
    x0, t0 = cpu_seconds(xvfb.pid), time.monotonic()
    line = proc.stdout.readline()
    x1, t1 = cpu_seconds(xvfb.pid), time.monotonic()
    fields = dict(kv.split('=') for kv in line.split())
    frames, cpu_ms, wall_ms = int(fields['frames']), float(fields['cpu_ms']), float(fields['wall_ms'])
    ok = exact(env, frames, n, (W, H), work)
    proc.stdin.close()
    proc.wait(10)
    return {'way': way, 'fps': frames * 1000.0 / wall_ms, 'cpu': 100.0 * cpu_ms / wall_ms,
            'xcpu': 100.0 * (x1 - x0) / (t1 - t0), 'exact': ok}


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    p.add_argument('--seconds', type=float, default=20)
    p.add_argument('--scale', type=int, default=2)
    p.add_argument('--rounds', type=int, default=2)
    a = p.parse_args()
    xvfb, display = start_xvfb(W, H)
    env = dict(os.environ, DISPLAY=display)
    rows = []
    try:
        with tempfile.TemporaryDirectory() as work:
            for _ in range(a.rounds):  # alternating, so that drift in the machine's load hits both
                for way in ('core', 'server'):
                    rows.append(measure(way, a.seconds, a.scale, xvfb, env, work))
    finally:
        xvfb.terminate()
        xvfb.wait(10)
    print('Xvfb %dx%dx24, enlarged %d times, %.0f s a run; CPU as a share of one core' % (W, H, a.scale, a.seconds))
    print('%-8s %9s %12s %10s %10s %7s' % ('way', 'frames/s', 'program CPU', 'Xvfb CPU', 'together', 'exact'))
    for r in rows:
        print('%-8s %9.2f %11.2f%% %9.2f%% %9.2f%% %7s' % (r['way'], r['fps'], r['cpu'], r['xcpu'],
                                                          r['cpu'] + r['xcpu'], 'yes' if r['exact'] else 'NO'))


if __name__ == '__main__':
    sys.exit(main())
