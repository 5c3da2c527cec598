#!/usr/bin/python3
"""Enlarging the frame under Wine, two ways side by side on one 2560x1600
screen: the core enlarges it and the backend puts the big 1-bit picture
(quellora's way), or GDI enlarges it (StretchBlt from the 1024x768 1-bit
section). For each it prints frames a second, the CPU share (of one core) of
the program and of wineserver, the two together, and whether the last
frame's pixels are the renderer's frame, every pixel an n x n block.

    bench/wine_scale_ways.py [--seconds 20] [--rounds 2]
"""
import argparse
import os
import subprocess
import sys
import time

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))

sys.path.insert(0, os.path.join(ROOT, "tests"))
from e2e_common import cpu_seconds  # noqa: E402
from wine_e2e import World, Frames, make_template  # noqa: E402
from wine_cpu import find_process  # noqa: E402

W, H, N = 2560, 1600, 2


def measure(world, way, seconds, frames):
    exe = os.path.join(world.args.helpers, "win32_scale_ways.exe")
    proc = subprocess.Popen(["wine", exe, way, str(seconds), str(N)], env=world.env(), stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True)
    world.procs.append(proc)
    time.sleep(2.0)
    # The program's name as /proc keeps it: 15 characters.
    pid, server = find_process("win32_scale_way", world.prefix), find_process("wineserver", world.prefix)
    s0, w0 = cpu_seconds(server), time.monotonic()
    line = proc.stdout.readline()
    w1 = time.monotonic()
    s1 = cpu_seconds(server)
    fields = dict(kv.split("=") for kv in line.split())
    count, cpu_ms, wall_ms = int(fields["frames"]), float(fields["cpu_ms"]), float(fields["wall_ms"])
    shot = world.screenshot()
    x0, y0 = (W - N * 1024) // 2, (H - N * 768) // 2
    big = shot[y0:y0 + N * 768, x0:x0 + N * 1024].min(axis=-1) > 127
    small = big[::N, ::N]
    exact = np.array_equal(np.repeat(np.repeat(small, N, axis=0), N, axis=1), big) and frames.find(small) == count
    proc.stdin.write("done\n")
    proc.stdin.close()
    proc.wait(20)
    return {"way": way, "fps": count * 1000.0 / wall_ms, "cpu": 100.0 * cpu_ms / wall_ms,
            "server": 100.0 * (s1 - s0) / (w1 - w0) if pid else 0.0, "exact": exact}


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--seconds", type=float, default=20)
    p.add_argument("--rounds", type=int, default=2)
    p.add_argument("--helpers", default=os.path.join(ROOT, "build", "native", "mingw", "wine-helpers"))
    p.add_argument("--render", default=os.path.join(ROOT, "build", "native", "quellora-render"))
    p.add_argument("--work", default=os.path.join(ROOT, "build", "native", "wine-bench"))
    a = p.parse_args()
    a.work = os.path.abspath(a.work)
    a.scr = None
    make_template(a.work)
    frames = Frames(a, int(25 * a.seconds) - 60, int(25 * a.seconds) + 60, title=False)
    rows = []
    with World(a, "scale", screen=(W, H)) as w:
        for _ in range(a.rounds):
            for way in ("core", "stretch"):
                rows.append(measure(w, way, a.seconds, frames))
    print("Wine on Xvfb %dx%d, enlarged %d times, %.0f s a run; CPU as a share of one core" % (W, H, N, a.seconds))
    print("%-8s %9s %12s %15s %10s %7s" % ("way", "frames/s", "program CPU", "wineserver CPU", "together", "exact"))
    for r in rows:
        print("%-8s %9.2f %11.2f%% %14.2f%% %9.2f%% %7s" % (r["way"], r["fps"], r["cpu"], r["server"],
                                                           r["cpu"] + r["server"], "yes" if r["exact"] else "NO"))


if __name__ == "__main__":
    sys.exit(main())
