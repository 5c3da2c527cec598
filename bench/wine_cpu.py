#!/usr/bin/python3
"""Runs quellora.scr /s under Wine in Xvfb once for each way of putting its
1-bit frames on screen (QUELLORA_BLIT), one after the other for the same
time, and prints a table: frames a second that reached the screen, the CPU
share (of one core) of the saver process and of wineserver, and whether the
pixels on screen are exactly the renderer's frames.

    bench/wine_cpu.py [--seconds 20] [--methods dib,section,ddb] [--rounds 1] [--screen 1280x1024]
                      [--scr build/native/mingw/quellora.scr]
                      [--render build/native/quellora-render]

dib      SetDIBitsToDevice from a packed buffer
section  a 1-bit DIB section selected into a memory DC, then BitBlt
ddb      a monochrome device-dependent bitmap loaded with SetDIBits, then BitBlt

The goal is 25.0 frames a second (24.95 at least) for at most 2.5 % of one
core, saver and wineserver together. With --rounds N the methods take turns
N times and each run gets its own row. The first run makes a Wine prefix
under build/native (about 10 s); later runs reuse it.
"""
import argparse
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
sys.path.insert(0, os.path.join(ROOT, "tests"))

from e2e_common import cpu_seconds, wait_end  # noqa: E402
from wine_e2e import World, Frames, find_frame, make_template, viewport, windows_path  # noqa: E402

METHODS = ("dib", "section", "ddb")
CHECK_SECONDS = 4.0   # to find one exact frame on screen, while the title card shows
SETTLE_SECONDS = 1.0  # past the start-up, before measuring


class BenchError(Exception):
    pass


def find_process(name, prefix):
    """The process called `name` that runs in the Wine prefix `prefix`."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                comm = f.read().strip()
            with open("/proc/%s/environ" % entry, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if comm.startswith(name) and ("WINEPREFIX=" + prefix).encode() in environ:
            return int(entry)
    return None


def read_frame_log(path):
    """(frames, the tick of that count) from the saver's frame log, the one
    line "<frames> <tick>" it rewrites about once a second."""
    for _ in range(50):
        try:
            frames, tick = open(path).read().split()
            return int(frames), int(tick)
        except (OSError, ValueError):
            time.sleep(0.05)
    raise BenchError("cannot read the frame log %s" % path)


def exact_pixels(world, frames):
    """Whether a screenshot shows one of the renderer's frames bit for bit;
    'inverted' when it shows one with black and white swapped."""
    step, shot = find_frame(world, frames, time.monotonic() + CHECK_SECONDS)
    if step is not None:
        return "yes"
    if shot is not None and frames.find(~viewport(shot)) is not None:
        return "no (inverted)"
    return "no"


def measure(world, method, frames, seconds):
    frame_log = os.path.join(world.dir, "frames-%s.txt" % method)
    saver, _ = world.start_saver(QUELLORA_BLIT=method, QUELLORA_FRAME_LOG=windows_path(frame_log))
    exact = exact_pixels(world, frames) if world.screen == (1280, 1024) else "(not checked)"
    time.sleep(SETTLE_SECONDS)
    saver_pid = find_process("quellora.scr", world.prefix)
    server_pid = find_process("wineserver", world.prefix)
    if not saver_pid or not server_pid:
        raise BenchError("cannot find the saver or wineserver process")
    # Frames counted from one rewrite of the log to another, each made at a
    # frame, past the start-up (whose first two frames come at once).
    n0, ms0 = read_frame_log(frame_log)
    t0 = time.monotonic()
    s0, w0 = cpu_seconds(saver_pid), cpu_seconds(server_pid)
    time.sleep(seconds)
    s1, w1 = cpu_seconds(saver_pid), cpu_seconds(server_pid)
    elapsed = time.monotonic() - t0
    n1, ms1 = read_frame_log(frame_log)
    world.xdotool("key", "Escape")
    if not wait_end(saver, 10.0):
        raise BenchError("the saver did not end on Escape")
    # The count written at the end can only have grown.
    n2, _ = read_frame_log(frame_log)
    if n2 < n1:
        raise BenchError("the frame count went back from %d to %d" % (n1, n2))
    return {
        "method": method,
        "fps": (n1 - n0) * 1000.0 / (ms1 - ms0) if ms1 > ms0 else 0.0,
        "saver": 100.0 * (s1 - s0) / elapsed,
        "server": 100.0 * (w1 - w0) / elapsed,
        "exact": exact,
        "seconds": elapsed,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scr", default=os.path.join(ROOT, "build", "native", "mingw", "quellora.scr"))
    parser.add_argument("--render", default=os.path.join(ROOT, "build", "native", "quellora-render"))
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--methods", default=",".join(METHODS))
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "native", "wine-bench"))
    parser.add_argument("--screen", default="1280x1024",
                        help="the Xvfb screen; 2560x1600 shows the frame doubled (the pixel check is 1280x1024's)")
    args = parser.parse_args()
    methods = args.methods.split(",")
    if any(m not in METHODS for m in methods):
        parser.error("--methods takes some of %s" % ",".join(METHODS))
    for path in (args.scr, args.render):
        if not os.path.exists(path):
            print("wine_cpu: %s is missing; build with: cmake --build --preset native" % path, file=sys.stderr)
            return 1
    args.work = os.path.abspath(args.work)
    make_template(args.work)

    # The frames of the first seconds, title card and all.
    frames = Frames(args, 0, int(25 * (CHECK_SECONDS + 3)), title=True)
    rows = []
    try:
        screen = tuple(int(v) for v in args.screen.split("x"))
        with World(args, "bench", screen=screen) as w:
            for _ in range(args.rounds):
                for method in methods:
                    rows.append(measure(w, method, frames, args.seconds))
    except BenchError as e:
        print("wine_cpu:", e, file=sys.stderr)
        return 1

    print("%s, %d s a run, CPU in %% of one core (goal: 25.0 frames a second, together at most 2.5 %%)" %
          (args.screen, args.seconds))
    print("%-8s %9s %10s %15s %9s  %s" % ("method", "frames/s", "saver CPU", "wineserver CPU", "together",
                                          "exact pixels"))
    for r in rows:
        print("%-8s %9.2f %8.2f %% %13.2f %% %7.2f %%  %s" % (r["method"], r["fps"], r["saver"], r["server"],
                                                              r["saver"] + r["server"], r["exact"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
