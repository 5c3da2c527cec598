#!/usr/bin/python3
"""Runs quellora.scr /s under Wine in Xvfb and prints the CPU share (of one
core) of the saver process and of wineserver, and the frames per second that
reached the screen.

    bench/wine_cpu.py [--scr build/native/mingw/quellora.scr] [--seconds 20]

The goal is 25.0 frames a second for under 3 % of one core, saver and
wineserver together. The first run makes a Wine prefix under build/native
(about 10 s); later runs reuse it.
"""
import argparse
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))

from wine_e2e import World, make_template, windows_path, wait_end  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_ticks(pid):
    """utime + stime of a process, in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


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
    """(frames, tick of the last of them) from the saver's frame log, which
    it rewrites once a second."""
    for _ in range(50):
        try:
            fields = dict(kv.split("=") for kv in open(path).read().split())
            return int(fields["frames"]), int(fields["last_ms"])
        except (OSError, ValueError, KeyError):
            time.sleep(0.05)
    raise RuntimeError("cannot read the frame log %s" % path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scr", default=os.path.join(ROOT, "build", "native", "mingw", "quellora.scr"))
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "native", "wine-bench"))
    args = parser.parse_args()
    if not os.path.exists(args.scr):
        print("wine_cpu: %s is missing; build with: cmake --build --preset native" % args.scr, file=sys.stderr)
        return 1
    args.work = os.path.abspath(args.work)
    make_template(args.work)

    with World(args, "bench") as w:
        frame_log = os.path.join(w.dir, "frames.txt")
        saver, _ = w.start_saver(QUELLORA_FRAME_LOG=windows_path(frame_log))
        time.sleep(1.0)  # past the start-up
        saver_pid = find_process("quellora.scr", w.prefix)
        server_pid = find_process("wineserver", w.prefix)
        if not saver_pid or not server_pid:
            print("wine_cpu: cannot find the saver or wineserver process", file=sys.stderr)
            return 1
        # Frames counted from one rewrite of the log to another, past the
        # start-up, whose first two frames come at once.
        n0, first = read_frame_log(frame_log)
        t0 = time.monotonic()
        s0, w0 = cpu_ticks(saver_pid), cpu_ticks(server_pid)
        time.sleep(args.seconds)
        s1, w1 = cpu_ticks(saver_pid), cpu_ticks(server_pid)
        elapsed = time.monotonic() - t0
        n1, last = read_frame_log(frame_log)
        w.xdotool("key", "Escape")
        if not wait_end(saver, 10.0):
            print("wine_cpu: the saver did not end on Escape", file=sys.stderr)
            return 1

    saver_cpu = 100.0 * (s1 - s0) / TICKS / elapsed
    server_cpu = 100.0 * (w1 - w0) / TICKS / elapsed
    frames = n1 - n0
    fps = frames * 1000.0 / (last - first) if last > first else 0.0
    print("measured for %.1f s" % elapsed)
    print("saver       %5.1f %% of one core" % saver_cpu)
    print("wineserver  %5.1f %% of one core" % server_cpu)
    print("together    %5.1f %% of one core (goal: under 3 %%)" % (saver_cpu + server_cpu))
    print("frames      %d in %.1f s: %.1f frames a second (goal: 25.0)" % (frames, (last - first) / 1000.0, fps))
    return 0


if __name__ == "__main__":
    sys.exit(main())
