#!/usr/bin/env python3
"""The ways of putting the 1-bit frame into a 24-bit X window, side by side
with XScreenSaver's moire2 -root in one Xvfb per screen size: each way (see
bench/x11_upload_ways.cpp) runs the sweep at 25 frames a second for the same
time, in alternating rounds with moire2, so that drift in the machine's load
hits them all. For each it prints frames a second, the CPU share (of one
core) of the program and of the X server, the two together, the CPU per
frame as a multiple of moire2's in the same run, and whether the last frame's
pixels are the renderer's frame (every pixel an n x n block where the
picture is enlarged: 2 on 3840x2160).

The program itself, quellora --root, runs in the same rounds, for its own
figures beside the ways (its frames from QUELLORA_FRAME_LOG).

usage: bench/x11_upload_ways.py [--seconds 10] [--rounds 2] [--screens 1280x1024,3840x2160]
                                [--ways bitmap,zpixmap32,...] [--moire2 /usr/libexec/xscreensaver/moire2]
                                [--quellora build/native/quellora]
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
from e2e_common import cpu_seconds, start_xvfb  # noqa: E402
from x11_scale_ways import exact  # noqa: E402
from x11_side_by_side import COUNTER_C, measure as measure_program  # noqa: E402
BUILD = os.path.join(HERE, '..', 'build', 'native')
WAYS = ['bitmap', 'bitmap-plain', 'zpixmap32', 'pixmap32', 'plane', 'put-plane', 'render-a1', 'xor-stipple']


def auto_scale(w, h):
    """The largest n that shows the 1024x768 picture whole, as Scale=auto does."""
    return max(1, min(8, w // 1024, h // 768))


def measure_way(way, seconds, n, size, xvfb, env, work):
    proc = subprocess.Popen([os.path.join(BUILD, 'x11_upload_ways'), way, str(seconds), str(n)], env=env,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        if proc.stdout.readline().strip() != 'ready':
            proc.stdin.close()
            return {'name': way, 'missing': proc.stderr.read().strip() or 'failed'}
        x0, t0 = cpu_seconds(xvfb.pid), time.monotonic()
        line = proc.stdout.readline()
        x1, t1 = cpu_seconds(xvfb.pid), time.monotonic()
        fields = dict(kv.split('=') for kv in line.split())
        frames, cpu_ms, wall_ms = int(fields['frames']), float(fields['cpu_ms']), float(fields['wall_ms'])
        ok = exact(env, int(fields['steps']), n, size, work)
    finally:
        if not proc.stdin.closed:
            proc.stdin.close()
        proc.wait(10)
    return {'name': way, 'fps': frames * 1000.0 / wall_ms, 'cpu': 100.0 * cpu_ms / wall_ms,
            'xcpu': 100.0 * (x1 - x0) / (t1 - t0), 'wall': wall_ms / 1000.0, 'exact': ok}


def combine(rows):
    """One row per name: frames and CPU added up over the rounds, weighted by time."""
    out = {}
    for r in rows:
        if 'missing' in r:
            out.setdefault(r['name'], r)
            continue
        o = out.setdefault(r['name'], {'name': r['name'], 'frames': 0.0, 'cpu': 0.0, 'xcpu': 0.0, 'wall': 0.0,
                                       'exact': r.get('exact')})
        o['frames'] += r['fps'] * r['wall']
        o['cpu'] += r['cpu'] * r['wall']
        o['xcpu'] += r['xcpu'] * r['wall']
        o['wall'] += r['wall']
        if r.get('exact') is False:
            o['exact'] = False
    for o in out.values():
        if 'missing' not in o:
            o['fps'], o['cpu'], o['xcpu'] = o['frames'] / o['wall'], o['cpu'] / o['wall'], o['xcpu'] / o['wall']
    return list(out.values())


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    p.add_argument('--seconds', type=float, default=10)
    p.add_argument('--rounds', type=int, default=2)
    p.add_argument('--screens', default='1280x1024,3840x2160')
    p.add_argument('--ways', default=','.join(WAYS))
    p.add_argument('--moire2', default='/usr/libexec/xscreensaver/moire2')
    p.add_argument('--quellora', default=os.path.join(BUILD, 'quellora'),
                   help='also measure this program with --root (an empty name: not)')
    a = p.parse_args()
    for path in (os.path.join(BUILD, 'x11_upload_ways'), os.path.join(BUILD, 'quellora-render'), a.moire2,
                 a.quellora or a.moire2):
        if not os.access(path, os.X_OK):
            sys.exit('x11_upload_ways: %s is missing' % path)
    cc = shutil.which('cc') or shutil.which('gcc')
    if not cc or not shutil.which('Xvfb'):
        sys.exit('x11_upload_ways: needs a C compiler and Xvfb')
    ways = a.ways.split(',')
    results = []
    with tempfile.TemporaryDirectory(prefix='quellora-bench-') as work:
        lib = os.path.join(work, 'count.so')
        open(os.path.join(work, 'count.c'), 'w').write(COUNTER_C)
        subprocess.run([cc, '-shared', '-fPIC', '-O2', '-o', lib, os.path.join(work, 'count.c'), '-ldl'], check=True)
        for screen in a.screens.split(','):
            size = tuple(int(v) for v in screen.split('x'))
            n = auto_scale(*size)
            xvfb, display = start_xvfb(*size)
            rows = []
            try:
                env = dict(os.environ, DISPLAY=display)
                env.pop('XSCREENSAVER_WINDOW', None)
                mlog, qlog = os.path.join(work, 'moire2.frames'), os.path.join(work, 'quellora.frames')
                for _ in range(a.rounds):
                    for way in ways:
                        rows.append(measure_way(way, a.seconds, n, size, xvfb, env, work))
                    if a.quellora:
                        rows.append(measure_program('quellora --root', [a.quellora, '--root'],
                                                    dict(env, QUELLORA_FRAME_LOG=qlog), qlog, xvfb, a.seconds, 1))
                    rows.append(measure_program('moire2 -root', [a.moire2, '-root'],
                                                dict(env, LD_PRELOAD=lib, FRAME_COUNT_LOG=mlog), mlog, xvfb,
                                                a.seconds, 1))
            finally:
                xvfb.terminate()
                xvfb.wait(10)
            results.append((screen, n, combine(rows)))

    for screen, n, rows in results:
        print('Xvfb %sx24, picture %dx%d, %d rounds of %.0f s each; CPU as a share of one core' %
              (screen, 1024 * n, 768 * n, a.rounds, a.seconds))
        moire2 = next(r for r in rows if r['name'] == 'moire2 -root')
        per_frame = (moire2['cpu'] + moire2['xcpu']) / moire2['fps']
        print('%-14s %9s %12s %10s %10s %14s %6s' % ('way', 'frames/s', 'program CPU', 'Xvfb CPU', 'together',
                                                     'CPU/frame', 'exact'))
        for r in rows:
            if 'missing' in r:
                print('%-14s  not measured: %s' % (r['name'], r['missing']))
                continue
            both = r['cpu'] + r['xcpu']
            print('%-14s %9.2f %11.2f%% %9.2f%% %9.2f%% %10.2f×m2 %6s' %
                  (r['name'], r['fps'], r['cpu'], r['xcpu'], both, both / r['fps'] / per_frame,
                   '' if r.get('exact') is None else 'yes' if r['exact'] else 'NO'))
    print('(×m2: CPU per frame, program and Xvfb together, over moire2 -root\'s in the same Xvfb; moire2 frames are '
          'its XCopyPlane calls, counted by an LD_PRELOAD library)')


if __name__ == '__main__':
    sys.exit(main())
