#!/usr/bin/env python3
"""quellora --root and XScreenSaver's moire2 -root, side by side: each runs in
the same Xvfb for the same time, and the script prints, for both, frames a
second, the CPU share of the program and of the X server (of one core, from
/proc/PID/stat), the two together, and the program's peak memory (VmHWM).
It does so on a 1280x1024 screen, where quellora shows its 1024x768 picture
as it is, and on a 3840x2160 one, where it shows it doubled (2048x1536) and
moire2 fills the whole screen.

Frames: quellora keeps its own count in QUELLORA_FRAME_LOG. moire2 has no
such count, and its -fps overlay can't be read without a screen, so a tiny
LD_PRELOAD library counts its XCopyPlane calls: moire2 puts each frame on
screen with exactly one (a frame is XFillRectangle, two XCopyArea into its
work pixmap, one XCopyPlane to the window and XSync). The counter adds a few
instructions per frame.

usage: bench/x11_side_by_side.py [--seconds 20] [--warmup 2] [--screens 1280x1024,3840x2160]
                                 [--quellora build/native/quellora]
                                 [--moire2 /usr/libexec/xscreensaver/moire2]
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tests'))
from e2e_common import cpu_seconds, start_xvfb  # noqa: E402
TICKS = os.sysconf('SC_CLK_TCK')

COUNTER_C = r'''
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static unsigned long long frames, last_ms;
static int fd = -2;

static unsigned long long now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (unsigned long long)ts.tv_sec * 1000u + (unsigned long long)ts.tv_nsec / 1000000u;
}

int XCopyPlane(Display *d, Drawable s, Drawable t, GC g, int sx, int sy, unsigned w, unsigned h, int dx, int dy,
               unsigned long plane) {
    static int (*real)(Display *, Drawable, Drawable, GC, int, int, unsigned, unsigned, int, int, unsigned long);
    if (!real) real = dlsym(RTLD_NEXT, "XCopyPlane");
    int r = real(d, s, t, g, sx, sy, w, h, dx, dy, plane);
    ++frames;
    if (fd == -2) {
        const char *p = getenv("FRAME_COUNT_LOG");
        fd = p ? open(p, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
    }
    unsigned long long ms = now_ms();
    if (fd >= 0 && ms - last_ms >= 1000) {
        char line[64];
        int n = snprintf(line, sizeof line, "%20llu %20llu\n", frames, ms);
        last_ms = ms;
        if (n > 0 && pwrite(fd, line, (size_t)n, 0) < 0) fd = -1;
    }
    return r;
}
'''


def peak_kib(pid):
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            if line.startswith('VmHWM:'):
                return int(line.split()[1])
    return 0


def read_count(path):
    """(frames, ms) from a frame log, or None before its first line."""
    try:
        parts = open(path).read().split()
        return int(parts[0]), int(parts[1])
    except (OSError, IndexError, ValueError):
        return None


def next_count(log, previous, proc, name):
    """The frame log's next line after `previous` (it changes once a second)."""
    end = time.monotonic() + 5
    while time.monotonic() < end and proc.poll() is None:
        count = read_count(log)
        if count is not None and count != previous:
            return count
        time.sleep(0.01)
    sys.exit('x11_side_by_side: %s stopped counting frames' % name)


def measure(name, cmd, env, log, xvfb, seconds, warmup):
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # After start-up, from one count of the frame log to another.
        time.sleep(warmup)
        first = next_count(log, read_count(log), proc, name)
        cpu0, xcpu0, t0 = cpu_seconds(proc.pid), cpu_seconds(xvfb.pid), time.monotonic()
        time.sleep(seconds)
        last = next_count(log, read_count(log), proc, name)
        cpu1, xcpu1, t1 = cpu_seconds(proc.pid), cpu_seconds(xvfb.pid), time.monotonic()
        peak = peak_kib(proc.pid)
    finally:
        proc.send_signal(signal.SIGTERM)
        proc.wait(10)
    wall = t1 - t0
    return {
        'name': name,
        'fps': (last[0] - first[0]) * 1000.0 / max(1, last[1] - first[1]),
        'cpu': 100.0 * (cpu1 - cpu0) / wall,
        'xcpu': 100.0 * (xcpu1 - xcpu0) / wall,
        'peak': peak / 1024.0,
        'wall': wall,
    }


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    p.add_argument('--seconds', type=float, default=20)
    p.add_argument('--warmup', type=float, default=2)
    p.add_argument('--quellora', default=os.path.join(HERE, '..', 'build', 'native', 'quellora'))
    p.add_argument('--moire2', default='/usr/libexec/xscreensaver/moire2')
    p.add_argument('--screens', default='1280x1024,3840x2160')
    a = p.parse_args()
    for path in (a.quellora, a.moire2):
        if not os.access(path, os.X_OK):
            sys.exit('x11_side_by_side: %s is missing' % path)
    cc = shutil.which('cc') or shutil.which('gcc')
    if not cc or not shutil.which('Xvfb'):
        sys.exit('x11_side_by_side: needs a C compiler and Xvfb')

    work = tempfile.mkdtemp(prefix='quellora-bench-')
    results = []
    try:
        src, lib = os.path.join(work, 'count.c'), os.path.join(work, 'count.so')
        open(src, 'w').write(COUNTER_C)
        subprocess.run([cc, '-shared', '-fPIC', '-O2', '-o', lib, src, '-ldl'], check=True)
        for screen in a.screens.split(','):
            with open(os.path.join(work, 'xvfb.log'), 'w') as xlog:
                xvfb, display = start_xvfb(*(int(v) for v in screen.split('x')), log=xlog)
                try:
                    env = dict(os.environ, DISPLAY=display)
                    env.pop('XSCREENSAVER_WINDOW', None)
                    # The server alone, for reference.
                    x0, t0 = cpu_seconds(xvfb.pid), time.monotonic()
                    time.sleep(min(5, a.seconds))
                    idle = 100.0 * (cpu_seconds(xvfb.pid) - x0) / (time.monotonic() - t0)
                    qlog, mlog = os.path.join(work, 'quellora.frames'), os.path.join(work, 'moire2.frames')
                    rows = [
                        measure('quellora --root', [a.quellora, '--root'], dict(env, QUELLORA_FRAME_LOG=qlog), qlog,
                                xvfb, a.seconds, a.warmup),
                        measure('moire2 -root', [a.moire2, '-root'],
                                dict(env, LD_PRELOAD=lib, FRAME_COUNT_LOG=mlog), mlog, xvfb, a.seconds, a.warmup),
                    ]
                    results.append((screen, rows, idle))
                finally:
                    xvfb.terminate()
                    xvfb.wait(10)
    finally:
        if not os.environ.get('QUELLORA_BENCH_KEEP'):
            shutil.rmtree(work, ignore_errors=True)

    for screen, rows, idle in results:
        print('Xvfb %sx24, %.0f s each after %.0f s of start-up; CPU as a share of one core' %
              (screen, a.seconds, a.warmup))
        print('%-18s %8s %12s %10s %10s %12s' % ('', 'frames/s', 'program CPU', 'Xvfb CPU', 'together',
                                                 'peak memory'))
        for r in rows:
            print('%-18s %8.2f %11.2f%% %9.2f%% %9.2f%% %8.1f MiB' %
                  (r['name'], r['fps'], r['cpu'], r['xcpu'], r['cpu'] + r['xcpu'], r['peak']))
        print('(Xvfb with nothing to draw: %.2f%%)' % idle)
    print('(moire2 frames are its XCopyPlane calls to the window, counted by an LD_PRELOAD library)')


if __name__ == '__main__':
    main()
