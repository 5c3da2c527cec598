#!/usr/bin/python3
"""End-to-end tests of quellora.scr under Wine, each in its own Wine prefix
and its own Xvfb display.

    wine_e2e.py prefix --work DIR
        makes the prefix template that every test copies (once per build dir)
    wine_e2e.py CASE --work DIR --scr SCR --helpers DIR --render RENDER
        runs one case (see CASES at the end)

The screen is 1280x1024, so the 1024x768 viewport sits at (128, 128) with a
black border around it.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from e2e_common import (Failure, alive_after, check, die_with_parent, files_under,  # noqa: E402
                        only_black_and_white, poll, start_xvfb, wait_end)

SCREEN_W, SCREEN_H = 1280, 1024
VIEW_W, VIEW_H = 1024, 768
VIEW_X, VIEW_Y = (SCREEN_W - VIEW_W) // 2, (SCREEN_H - VIEW_H) // 2
END_DEADLINE = 1.0        # "ends within a second"
START_DEADLINE = 30.0     # Wine's first process in a prefix starts its services
TITLE_MS = 4500
OUTSIDE = (40, 40)        # on the black border
OVER_PICTURE = (640, 500)  # inside the viewport
TEMPLATE_STAMP = "quellora-template-ready"
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def log(*args):
    print(*args, flush=True)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# --- the prefix template ---------------------------------------------------

def wine_version():
    return subprocess.run(["wine", "--version"], capture_output=True, text=True,
                          env=dict(os.environ, WINEDEBUG="-all")).stdout.strip()


def make_template(work):
    template = os.path.join(work, "template")
    stamp = os.path.join(template, TEMPLATE_STAMP)
    version = wine_version()
    if os.path.exists(stamp) and open(stamp).read() == version:
        log("prefix template is ready:", template)
        return
    shutil.rmtree(template, ignore_errors=True)
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, WINEPREFIX=template, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    env.pop("DISPLAY", None)
    start = time.monotonic()
    subprocess.run(["wineboot", "-i"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Unmanaged windows: no window manager is asked, and a full-screen window
    # closes at once.
    subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                    "/d", "N", "/f"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, check=True)
    with open(stamp, "w") as f:
        f.write(version)
    log("prefix template made in %.1f s: %s" % (time.monotonic() - start, template))


# --- one test's world: a prefix copy, a display, the saver -----------------

class World:
    def __init__(self, args, name, screen=(SCREEN_W, SCREEN_H)):
        self.screen = screen
        self.args = args
        self.dir = tempfile.mkdtemp(prefix=name + "-", dir=args.work)
        self.prefix = os.path.join(self.dir, "prefix")
        self.xvfb = None
        self.display = None
        self.procs = []

    def __enter__(self):
        template = os.path.join(self.args.work, "template")
        check(os.path.exists(os.path.join(template, TEMPLATE_STAMP)),
              "no prefix template in %s (run the wine_prefix test first)" % template)
        # The system files are shared with the template through hard links;
        # the registry files, which Wine rewrites in place, are copied.
        os.makedirs(self.prefix)
        for entry in os.listdir(template):
            src, dst = os.path.join(template, entry), os.path.join(self.prefix, entry)
            if entry == "drive_c":
                subprocess.run(["cp", "-al", src, dst], check=True)
            elif os.path.isdir(src) and not os.path.islink(src):
                shutil.copytree(src, dst, symlinks=True)
            elif entry != TEMPLATE_STAMP:
                shutil.copy2(src, dst, follow_symlinks=False)
        self.start_display()
        return self

    def __exit__(self, *exc):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        subprocess.run(["wineserver", "-k"], env=self.env(), stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env(), stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.send_signal(signal.SIGTERM)
            self.xvfb.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start_display(self):
        self.xvfb, self.display = start_xvfb(*self.screen)

    def env(self, **extra):
        env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all")
        if self.display:
            env["DISPLAY"] = self.display
        env.update(extra)
        return env

    def wine(self, *argv, **extra):
        return subprocess.run(["wine", *argv], env=self.env(**extra), capture_output=True, text=True)

    def reg_add(self, key, name, value, kind="REG_SZ"):
        r = self.wine("reg", "add", key, "/v", name, "/t", kind, "/d", str(value), "/f")
        check(r.returncode == 0, "reg add %s %s failed: %s" % (key, name, r.stderr))

    def reg_query(self, key):
        """What `reg query` lists of a key ("" for a key without values), or
        None when the key is not there. A failure of wine itself (on a loaded
        machine) is tried again, never taken for a missing key."""
        for attempt in range(5):
            r = self.wine("reg", "query", key)
            if r.returncode == 0:
                return r.stdout
            if r.returncode == 1 and "unable to find the specified registry key" in r.stdout.lower():
                return None
            print("reg query %s: status %d, %r; again" % (key, r.returncode, (r.stdout + r.stderr).strip()[:200]),
                  file=sys.stderr)
            time.sleep(0.5 * (attempt + 1))
        raise Failure("reg query %s failed with %d: %s %s" % (key, r.returncode, r.stdout.strip(), r.stderr.strip()))

    def key_exists(self, key):
        return self.reg_query(key) is not None

    def reg_values(self, key):
        """The values of a key as {name: (type, data)}; {} when it does not
        exist. A key read without values is read again: on a loaded machine
        reg.exe now and then exits 0 having printed nothing, and the keys read
        here hold values whenever they exist."""
        for attempt in range(5):
            out = self.reg_query(key)
            if out is None:
                return {}
            values = {}
            for line in out.splitlines():
                if line.startswith("    "):
                    parts = line.strip().split("    ")
                    values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
            if values:
                return values
            print("reg query %s: no values; again" % key, file=sys.stderr)
            time.sleep(0.5 * (attempt + 1))
        return {}

    def unix_path(self, path):
        return self.wine("winepath", "-u", path).stdout.strip()

    def start(self, *argv, **extra):
        p = subprocess.Popen(["wine", *argv], env=self.env(**extra), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, text=True, preexec_fn=die_with_parent)
        self.procs.append(p)
        return p

    def xdotool(self, *argv):
        subprocess.run(["xdotool", *argv], env=self.env(), check=True)

    def screenshot(self):
        raw = subprocess.run(["xwd", "-root", "-silent"], env=self.env(), capture_output=True,
                             check=True).stdout
        return parse_xwd(raw)

    # The saver, from its start to its picture on screen.
    def start_saver(self, pointer=OUTSIDE, scr=None, **extra):
        self.xdotool("mousemove", str(pointer[0]), str(pointer[1]))
        saver = self.start(scr or self.args.scr, "/s", **extra)
        deadline = time.monotonic() + START_DEADLINE
        while time.monotonic() < deadline:
            check(saver.poll() is None, "the saver ended before showing anything")
            if viewport(self.screenshot()).any():
                return saver, time.monotonic()
            time.sleep(0.1)
        raise Failure("the saver showed no picture within %d s" % START_DEADLINE)


def parse_xwd(raw):
    """An RGB array of a 24-bit TrueColor xwd dump."""
    h = np.frombuffer(raw[:100], dtype=">u4")
    header_size, width, height = int(h[0]), int(h[4]), int(h[5])
    byte_order, bits_per_pixel, bytes_per_line = int(h[7]), int(h[11]), int(h[12])
    ncolors = int(h[19])
    check(bits_per_pixel == 32, "expected 32 bits per pixel, got %d" % bits_per_pixel)
    offset = header_size + ncolors * 12
    pixels = np.frombuffer(raw[offset:offset + bytes_per_line * height], dtype="<u4" if byte_order == 0 else ">u4")
    pixels = pixels.reshape(height, bytes_per_line // 4)[:, :width]
    rgb = np.stack([(pixels >> 16) & 255, (pixels >> 8) & 255, pixels & 255], axis=-1)
    return rgb.astype(np.uint8)


def viewport(shot):
    """The viewport as booleans, True for white."""
    crop = shot[VIEW_Y:VIEW_Y + VIEW_H, VIEW_X:VIEW_X + VIEW_W]
    return crop.min(axis=-1) > 127


def outside_is_black(shot):
    mask = np.ones(shot.shape[:2], dtype=bool)
    mask[VIEW_Y:VIEW_Y + VIEW_H, VIEW_X:VIEW_X + VIEW_W] = False
    return not shot[mask].any()


def enlarged_viewport(shot, n, x0, y0):
    """The viewport of a picture enlarged n times at (x0, y0), one boolean a
    picture pixel (True for white); None unless every n x n block is of one
    colour."""
    big = shot[y0:y0 + n * VIEW_H, x0:x0 + n * VIEW_W].min(axis=-1) > 127
    small = big[::n, ::n]
    if big.shape != (n * VIEW_H, n * VIEW_W) or not np.array_equal(
            np.repeat(np.repeat(small, n, axis=0), n, axis=1), big):
        return None
    return small


def viewport_black_and_white(shot):
    return only_black_and_white(shot[VIEW_Y:VIEW_Y + VIEW_H, VIEW_X:VIEW_X + VIEW_W])


# --- the renderer's frames ------------------------------------------------

class Frames:
    """The renderer's frames of steps first..last, looked up by their pixels."""

    def __init__(self, args, first, last, title):
        self.steps = {}
        out = tempfile.mkdtemp(prefix="frames-", dir=args.work)
        try:
            argv = [args.render, "--steps", "%d:%d" % (first, last), "--out", out, "--format", "bmp"]
            if title:
                argv.append("--title")
            subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
            for step in range(first, last + 1):
                img = Image.open(os.path.join(out, "step%05d.bmp" % step)).convert("L")
                self.steps[np.packbits(np.asarray(img) > 127).tobytes()] = step
        finally:
            shutil.rmtree(out, ignore_errors=True)

    def find(self, view):
        return self.steps.get(np.packbits(view).tobytes())


class CountedFrames:
    """The renderer's frames near the count in the saver's frame log: the saver
    puts one frame on screen a step, whatever the load, and rewrites the log
    about once a second, so the step on screen lies a little past the count
    read. Rendered in blocks as the count moves on; the title card's blocks
    beside the plain ones for the first steps (the card shows for 4.5 s, at
    most 113 steps). While the display is off the saver goes on with its
    steps but counts no frame: `uncounted` is how many steps it may have made
    so, at most 25 a second."""

    BLOCK = 100
    TITLE_STEPS = 150

    def __init__(self, args, log_path):
        self.args, self.log_path = args, log_path
        self.blocks = {}
        self.uncounted = 0

    def count(self):
        try:
            with open(self.log_path) as f:
                return int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            return None

    def find(self, view):
        count = self.count()
        if count is None:
            return None
        lowest = max(0, count - 10) // self.BLOCK * self.BLOCK
        for first in range(lowest, count + self.uncounted + 150, self.BLOCK):
            for title in (False, True) if first < self.TITLE_STEPS else (False,):
                if (first, title) not in self.blocks:
                    self.blocks[first, title] = Frames(self.args, first, first + self.BLOCK - 1, title)
                step = self.blocks[first, title].find(view)
                if step is not None:
                    return step
        return None


def find_frame(world, frames, until):
    """Screenshots until one shows a frame of `frames` (a shot can catch a
    frame half drawn); returns (step, shot) or (None, last shot)."""
    shot = None
    while time.monotonic() < until:
        shot = world.screenshot()
        step = frames.find(viewport(shot))
        if step is not None:
            return step, shot
    return None, shot


# --- the cases ---------------------------------------------------------------

def case_saver_picture(args):
    """/s: black around the centred viewport, the renderer's frames in it, the
    title card first and gone after 4.5 s; Escape ends it within a second;
    the settings key exists afterwards."""
    titled = Frames(args, 0, 130, title=True)
    plain = Frames(args, 0, 350, title=False)
    with World(args, "saver_picture") as w:
        check(not w.key_exists(r"HKCU\Software\Orvandel"), "the settings key exists before the first run")
        saver, shown = w.start_saver()
        step, shot = find_frame(w, titled, shown + 3.0)
        check(step is not None, "no frame with the title card during the first seconds")
        check(outside_is_black(shot), "the border around the viewport is not black")
        log("title card over step", step)

        time.sleep(max(0.0, shown + TITLE_MS / 1000 + 1.0 - time.monotonic()))
        step, shot = find_frame(w, plain, time.monotonic() + 3.0)
        check(step is not None, "after 4.5 s the viewport shows none of the renderer's frames")
        check(outside_is_black(shot), "the border around the viewport is not black")
        check(viewport_black_and_white(shot), "the viewport holds colours other than black and white")
        later, _ = find_frame(w, plain, time.monotonic() + 3.0)
        check(later is not None and later > step, "the picture does not move on (%s, %s)" % (step, later))
        log("frames", step, "and", later)

        w.xdotool("key", "Escape")
        check(wait_end(saver, END_DEADLINE), "Escape did not end the saver within a second")
        check(saver.returncode == 0, "the saver exited with %d" % saver.returncode)
        check(w.key_exists(r"HKCU\Software\Orvandel"), r"HKCU\Software\Orvandel does not exist afterwards")


# Input that ends the saver, and input just short of it: (pointer start,
# actions before the last, the last action). Each move is one pixel.
INPUT_CASES = {
    "outside_moves": (OUTSIDE, [("move", 8)], ("move", 1)),
    "picture_moves": (OVER_PICTURE, [("move", 10)], ("move", 1)),
    "picture_click": (OVER_PICTURE, [], ("click", 1)),
    "outside_click_then_escape": (OUTSIDE, [("click", 1)], ("key", "Escape")),
    "shift_escape": (OVER_PICTURE, [("key", "Return"), ("key", "a"), ("key", "F1")], ("key", "shift+Escape")),
}


def run_input_case(args, name):
    start, before, last = INPUT_CASES[name]
    with World(args, name) as w:
        saver, _ = w.start_saver(pointer=start)
        x, y = start

        def act(action):
            nonlocal x
            kind, what = action
            if kind == "move":
                for _ in range(what):
                    x += 1
                    w.xdotool("mousemove", str(x), str(y))
                    time.sleep(0.15)  # one event each, never merged
            elif kind == "click":
                for _ in range(what):
                    w.xdotool("click", "1")
                    time.sleep(0.15)
            else:
                w.xdotool("key", what)
                time.sleep(0.15)

        for action in before:
            act(action)
        check(alive_after(saver, 0.7), "%s: the saver ended too early, after %s" % (name, before))
        act(last)
        check(wait_end(saver, END_DEADLINE), "%s: %s did not end the saver within a second" % (name, last))
        check(saver.returncode == 0, "the saver exited with %d" % saver.returncode)


def case_saver_space(args):
    """Space held freezes the picture; releasing it resumes the motion. The
    window is a top-most pop-up over the virtual screen with no taskbar entry
    and swallows SC_SCREENSAVE."""
    with World(args, "saver_space") as w:
        saver, _ = w.start_saver(pointer=OUTSIDE)
        time.sleep(1.0)
        w.xdotool("keydown", "space")
        time.sleep(0.5)
        a = viewport(w.screenshot())
        time.sleep(1.5)
        b = viewport(w.screenshot())
        check(np.array_equal(a, b), "the picture moved while Space was held")
        w.xdotool("keyup", "space")
        time.sleep(0.5)
        c = viewport(w.screenshot())
        check(not np.array_equal(b, c), "the picture stood still after Space was released")
        check(saver.poll() is None, "Space ended the saver")

        # The window itself: a top-most pop-up over the whole virtual screen,
        # owned by a hidden window (so no taskbar entry), that swallows
        # SC_SCREENSAVE.
        r = w.wine(os.path.join(args.helpers, "test_host.exe"), "saver-window")
        facts, _ = parse_facts(r.stdout)
        log("saver window", facts)
        expect_facts(facts, {"found": "1", "owner_hidden": "1", "class_style": "0x8",
                             "rect": facts.get("virtual_screen"), "screensave_result": "1",
                             "alive_after": "1"}, "saver window")
        style, exstyle = int(facts["style"], 16), int(facts["exstyle"], 16)
        check(style & 0x80000000 and not style & 0x40000000, "not a pop-up: style 0x%08X" % style)
        check(exstyle & 0x8 and not exstyle & 0x40000, "not top-most, or on the taskbar: 0x%08X" % exstyle)
        check(alive_after(saver, 0.5), "SC_SCREENSAVE ended the saver")
        w.xdotool("key", "Escape")
        check(wait_end(saver, END_DEADLINE), "Escape did not end the saver within a second")


def parse_facts(text):
    facts, controls = {}, []
    for line in text.splitlines():
        if line.startswith("control="):
            cls, ctext, rect, visible, enabled, style = line[len("control="):].split("|")
            controls.append({"class": cls, "text": ctext, "rect": tuple(int(v) for v in rect.split(",")),
                             "visible": visible == "visible=1", "enabled": enabled == "enabled=1"})
        elif "=" in line:
            k, v = line.split("=", 1)
            facts[k] = v
    return facts, controls


def expect_facts(facts, expected, what):
    for k, v in expected.items():
        check(facts.get(k) == v, "%s: %s is %r, expected %r" % (what, k, facts.get(k), v))


def case_preview(args):
    """/p HWND: the disabled child with the exact styles, as big as the host's
    window; it ends on WM_CLOSE and when the host destroys its window; with
    no handle it returns at once."""
    with World(args, "preview") as w:
        for how in ("close", "destroy"):
            r = w.wine(os.path.join(args.helpers, "test_host.exe"), "preview", windows_path(args.scr), how)
            facts, _ = parse_facts(r.stdout)
            log(how, facts)
            expect_facts(facts, {"started": "1", "child_found": "1", "child_of_saver": "1",
                                 "child_style": "0x58000000", "child_class_style": "0x80",
                                 "alive_before": "1", "ended": "1", "exit_code": "0"}, "preview/" + how)
            check(facts["child_rect"] == facts["host_rect"],
                  "preview/%s: the child %s does not fill the host %s" % (how, facts["child_rect"],
                                                                          facts["host_rect"]))
        start = time.monotonic()
        saver = w.start(args.scr, "/p")
        check(wait_end(saver, 10.0), "/p without a handle did not return")
        check(saver.returncode == 0, "/p without a handle exited with %d" % saver.returncode)
        log("/p without a handle returned after %.2f s" % (time.monotonic() - start))


def about_controls(client_width):
    """The About dialog's controls as laid out for a client area of this
    width: (class, text, left, top, width or None for a label that grows to
    fit its text, height, enabled, seen). The copyright line stretches with the dialog, the
    address moves with its right edge, and OK is centred."""
    grow = client_width - 292
    return [
        ("static", "QUELLORA", 47, 10, None, 19, True, True),
        ("static", "Version 0.5  (July 5, 2002)", 131, 34, None, 12, True, True),
        ("static", "Copyright (C) 2002 Orvandel", 0, 60, 292 + grow, 12, True, True),
        ("static", "You can get the latest version from", 16, 86, None, 12, True, True),
        ("edit", "https://orvandel.example/quellora/", 88 + grow, 102, 201, 18, True, True),
        ("button", "OK", round((client_width - 73) / 2), 132, 73, 24, True, True),
        # The settings area: hidden, or below the dialog's visible height.
        ("static", "test", 32, 185, None, 12, True, False),
        ("edit", "Screen Saver Sample", 32, 202, 214, 20, False, False),
        ("static", "Speed : 10", 32, 233, None, 12, True, False),
        ("msctls_trackbar32", "", 32, 256, 214, 33, False, False),
        ("button", "Cancel", 132, 322, 74, 24, False, False),
    ]


# Preview window sizes and where the 210x156 sample picture lands in them:
# centred, half pixels rounded to the even neighbour.
PREVIEW_PIXEL_CASES = [((152, 112), (-29, -22)), ((211, 160), (0, 2)), ((300, 200), (45, 22))]


def case_preview_pixels(args):
    """The preview's pixels, drawn in-process: the sample picture centred on
    black, its middle shown when the window is smaller."""
    sample = np.asarray(Image.open(os.path.join(SOURCE_DIR, "assets", "sample.bmp")).convert("RGB"))
    with World(args, "preview_pixels") as w:
        for (width, height), (x, y) in PREVIEW_PIXEL_CASES:
            out = os.path.join(w.dir, "preview.ppm")
            r = w.wine(os.path.join(args.helpers, "test_preview.exe"), str(width), str(height), windows_path(out))
            facts, _ = parse_facts(r.stdout)
            expect_facts(facts, {"child_found": "1", "returned": "1"}, "preview %dx%d" % (width, height))
            got = np.asarray(Image.open(out).convert("RGB"))
            want = np.zeros((height, width, 3), dtype=np.uint8)
            sx, sy = max(0, -x), max(0, -y)
            dx, dy = max(0, x), max(0, y)
            cw, ch = min(sample.shape[1] - sx, width - dx), min(sample.shape[0] - sy, height - dy)
            want[dy:dy + ch, dx:dx + cw] = sample[sy:sy + ch, sx:sx + cw]
            check(got.shape == want.shape, "preview %dx%d: got %s" % (width, height, got.shape))
            wrong = int(np.count_nonzero((got != want).any(axis=-1)))
            check(wrong == 0, "preview %dx%d: %d pixels differ from the sample at %s" % (width, height, wrong,
                                                                                         (x, y)))


# (display scaling in dots per inch, how the dialog is closed)
CONFIGURE_CASES = [(96, "enter"), (96, "close_box"), (144, "enter"), (192, "enter")]


def case_configure(args):
    """/c: the About dialog over the foreground window, which stays disabled
    until the dialog closes; laid out at 100 %, 150 % and 200 % display
    scaling; Escape does nothing; Enter closes it, and so does the close box."""
    for dpi, how in CONFIGURE_CASES:
        with World(args, "configure_%d_%s" % (dpi, how)) as w:
            # Read by every Wine process when it starts.
            w.reg_add(r"HKCU\Control Panel\Desktop", "LogPixels", dpi, "REG_DWORD")
            host = subprocess.Popen(["wine", os.path.join(args.helpers, "test_host.exe"), "configure",
                                     windows_path(args.scr)], env=w.env(), stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL, text=True, preexec_fn=die_with_parent)
            w.procs.append(host)
            lines = []
            for line in host.stdout:
                lines.append(line.rstrip("\n"))
                if line.startswith("READY"):
                    break
            facts, controls = parse_facts("\n".join(lines))
            what = "configure at %d dpi" % dpi
            expect_facts(facts, {"host_foreground": "1", "started": "1", "about_found": "1",
                                 "about_owner_is_host": "1", "host_enabled_during": "0"}, what)
            if how == "enter":
                check_about_layout(facts, controls, dpi)
                w.xdotool("key", "Escape")
                check(alive_after(host, 0.7), "Escape closed the About dialog")
                w.xdotool("key", "Return")
            else:
                check("close_box" in facts, "the dialog has no close box")
                x, y = facts["close_box"].split(",")
                w.xdotool("mousemove", x, y, "click", "1")
            rest, _ = host.communicate(timeout=30)
            facts, _ = parse_facts(rest)
            expect_facts(facts, {"ended": "1", "exit_code": "0", "host_enabled_after": "1"}, what + "/" + how)


# The dialog's outer size at 96 dpi, as its model sets it; its client area is
# what the frame the dialog has at 96 dpi leaves of it.
ABOUT_OUTER_96 = (309, 190)


def scaled(v, dpi):
    """A length at 96 dpi at `dpi`, rounded as MulDiv does (halves up)."""
    return (v * dpi + 48) // 96


def check_about_layout(facts, controls, dpi):
    """The whole layout scales together: client area, controls and the gap
    below OK are the 96-dpi model's scaled; the frame is the real one."""
    left, top, right, bottom = (int(v) for v in facts["about_rect"].split(","))
    outer = (right - left, bottom - top)
    client = tuple(int(v) for v in facts["about_client"].split(",")[2:])
    what = "at %d dpi" % dpi
    if dpi == 96:
        check(outer == ABOUT_OUTER_96, "%s the dialog is %dx%d" % (what, *outer))
    check("about_frame_96" in facts, "the host cannot tell the dialog's frame at 96 dpi")
    client_96 = tuple(o - int(f) for o, f in zip(ABOUT_OUTER_96, facts["about_frame_96"].split(",")))
    want = tuple(scaled(v, dpi) for v in client_96)
    check(client == want, "%s the client area is %dx%d, expected %dx%d" % (what, *client, *want))
    sw, sh = (int(v) for v in facts["screen"].split(","))
    check(abs(left - (sw - outer[0]) / 2) <= 1 and abs(top - (sh - outer[1]) / 2) <= 1,
          "%s the dialog is not centred" % what)
    check(len(controls) == 11, "%d controls: %s" % (len(controls), controls))
    ok = [c for c in controls if c["class"].lower() == "button" and c["text"] == "OK"]
    check(ok, "no OK button in %s" % controls)
    ok_rect = ok[0]["rect"]
    ok_96 = next(c[2:6] for c in about_controls(client_96[0]) if c[1] == "OK")
    want = tuple(scaled(v, dpi) for v in ok_96)
    check(ok_rect == want, "%s OK is at %s, expected %s" % (what, ok_rect, want))
    gap = client[1] - (ok_rect[1] + ok_rect[3])
    want_gap = (client_96[1] - ok_96[1] - ok_96[3]) * dpi / 96
    check(abs(gap - want_gap) <= 1, "%s the gap below OK is %d pixels, expected %.1f" % (what, gap, want_gap))
    for cls, text, x, y, width, height, enabled, seen in about_controls(client_96[0]):
        found = [c for c in controls if c["class"].lower() == cls and c["text"] == text]
        check(found, "no %s control with text %r in %s" % (cls, text, controls))
        c = found[0]
        cx, cy, cw, ch = c["rect"]
        x, y, height = scaled(x, dpi), scaled(y, dpi), scaled(height, dpi)
        width = None if width is None else scaled(width, dpi)
        check((cx, cy) == (x, y), "%s %r is at %s, expected %s" % (what, text, (cx, cy), (x, y)))
        check(ch == height and (width is None or cw == width),
              "%s %r is %dx%d, expected %sx%d" % (what, text, cw, ch, width, height))
        check(c["enabled"] == enabled, "%r: enabled is %s" % (text, c["enabled"]))
        check((c["visible"] and cy < client[1]) == seen, "%s %r: seen is %s" % (what, text, not seen))
    log("About dialog at %d dpi:" % dpi, facts["about_rect"], "client %dx%d" % client, "OK", ok_rect,
        "gap %d" % gap)


def case_password_change(args):
    """/a HWND: PwdChangePasswordA of MPR.DLL called once with SCRSAVE, the
    handle, 0, 0; without the library the saver just exits."""
    with World(args, "password_change") as w:
        folder = os.path.join(w.dir, "saver")
        os.makedirs(folder)
        scr = os.path.join(folder, "quellora.scr")
        shutil.copy(args.scr, scr)
        shutil.copy(os.path.join(args.helpers, "mpr.dll"), folder)
        record = os.path.join(w.dir, "calls.log")
        cases = [("mpr=n,b", "1234", ["PwdChangePasswordA SCRSAVE 1234 0 0"]),
                 ("mpr=n,b", "-5", ["PwdChangePasswordA SCRSAVE -5 0 0"]),
                 ("mpr=", "1234", [])]
        for overrides, handle, expected in cases:
            if os.path.exists(record):
                os.remove(record)
            saver = w.start(scr, "/a", handle, WINEDLLOVERRIDES=overrides,
                            QUELLORA_TEST_LOG=windows_path(record))
            check(wait_end(saver, 20.0), "/a %s with %s did not return" % (handle, overrides))
            check(saver.returncode == 0, "/a exited with %d" % saver.returncode)
            calls = open(record).read().splitlines() if os.path.exists(record) else []
            check(calls == expected, "/a %s with %s: calls %s, expected %s" % (handle, overrides, calls, expected))


def case_password_check(args):
    """Windows 95 family with ScreenSaveUsePassword: the first Escape is
    refused by PASSWORD.CPL and leaves the saver running with the cursor
    shown, the second ends it; the screen-saver-running flag is set while it
    runs and cleared at the end. On the NT family nothing is asked."""
    for family in ("win98", "win10"):
        with World(args, "password_" + family) as w:
            w.reg_add(r"HKCU\Software\Wine", "Version", family)
            w.reg_add(r"HKCU\Control Panel\desktop", "ScreenSaveUsePassword", 1, "REG_DWORD")
            shutil.copy(os.path.join(args.helpers, "password.cpl"),
                        os.path.join(w.prefix, "drive_c", "windows", "system32", "password.cpl"))
            record = os.path.join(w.dir, "calls.log")
            saver, _ = w.start_saver(pointer=OVER_PICTURE, QUELLORA_TEST_LOG=windows_path(record))

            def calls():
                return open(record).read().splitlines() if os.path.exists(record) else []

            w.xdotool("key", "Escape")
            if family == "win10":
                check(wait_end(saver, END_DEADLINE), "NT family: Escape did not end the saver within a second")
                check(calls() == [], "NT family: the password library was asked: %s" % calls())
                continue
            check(alive_after(saver, 1.0), "the refused close ended the saver")
            first = calls()
            check(len(first) == 1 and first[0].startswith("verify call=1 "), "calls: %s" % first)
            for fact in ("class=QuelloraSaver", "own=1", "cursor=1", "running=1", "result=0"):
                check(fact in first[0], "first check: no %r in %s" % (fact, first[0]))
            w.xdotool("key", "Escape")
            check(wait_end(saver, END_DEADLINE), "the accepted close did not end the saver within a second")
            check(saver.returncode == 0, "the saver exited with %d" % saver.returncode)
            rest = calls()[1:]
            check(len(rest) == 2 and rest[0].startswith("verify call=2 ") and "result=1" in rest[0],
                  "second check: %s" % rest)
            check(rest[1] == "exit running=0", "the running flag at the end: %s" % rest[1])
            window = first[0].split()[2]
            check(window == rest[0].split()[2], "the two checks got different windows")


def case_resources(args):
    """The version, the saver's name, the icon (16, 32 and 48 pixels as
    bitmaps, 256 as PNG), the manifest (per-monitor DPI awareness, common
    controls 6) and the four pictures."""
    with World(args, "resources") as w:
        r = w.wine(os.path.join(args.helpers, "test_host.exe"), "resources", windows_path(args.scr))
        facts, _ = parse_facts(r.stdout)
        expect_facts(facts, {"ProductName": "QUELLORA", "CompanyName": "Orvandel", "ProductVersion": "0.5",
                             "FileVersion": "0.5",
                             "loaded": "1", "description": "Quellora", "icon": "1"}, "resources")
        manifest = [line for line in r.stdout.splitlines() if line.startswith("manifest_has=")]
        check(len(manifest) == 3 and all(line.endswith("|1") for line in manifest), "manifest: %s" % manifest)
        icons = [line.split("=", 1)[1] for line in r.stdout.splitlines() if line.startswith("icon_image=")]
        check(icons == ["16x16|bitmap", "32x32|bitmap", "48x48|bitmap", "256x256|png"], "icon images: %s" % icons)
        bitmaps = sorted(line.split("|", 1)[1] for line in r.stdout.splitlines() if line.startswith("bitmap="))
        check(bitmaps == ["1600x768|1", "1600x768|1", "210x156|8", "320x240|1"], "bitmaps: %s" % bitmaps)


UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quellora"
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
SETUP_KEYS = r"HKCU\Software\Orvandel\Quellora"
INSTALLED_SCR = r"C:\windows\system32\quellora.scr"
SAVER_VALUES = ("SCRNSAVE.EXE", "ScreenSaveActive")

# The user's screen saver values before a round: text as Windows keeps them
# (REG_SZ), a number as a REG_DWORD; a name not given is not there (as in a
# new prefix).
SAVER_OFF = {"SCRNSAVE.EXE": r"C:\windows\system32\other.scr", "ScreenSaveActive": "0"}
OFF_AS_NUMBER = {"SCRNSAVE.EXE": r"C:\windows\system32\other.scr", "ScreenSaveActive": 0}
NONE_SET = {}
EMPTY_SAVER = {"SCRNSAVE.EXE": "", "ScreenSaveActive": "1"}
PICKED = r"C:\windows\system32\picked.scr"

# The setup program, installed and removed again in one prefix, round after
# round: (the user's values before; how the setup program and the uninstaller
# run: "silent" with /S, "dialogs" through their pages with the defaults,
# "untick" the same without the component "Make it the current screen saver";
# installs before the removal; the screen saver the user picks before the
# removal, or None; whether the installed saver is started).
INSTALLER_ROUNDS = [
    (SAVER_OFF, "silent", 2, None, True),
    (SAVER_OFF, "dialogs", 1, None, False),
    (NONE_SET, "silent", 1, None, False),
    (NONE_SET, "dialogs", 2, None, False),
    (EMPTY_SAVER, "silent", 1, None, False),
    (OFF_AS_NUMBER, "silent", 1, None, False),
    (SAVER_OFF, "dialogs", 1, PICKED, False),
    (NONE_SET, "silent", 1, PICKED, False),
    (SAVER_OFF, "untick", 1, None, False),
]


def saver_values(w):
    values = w.reg_values(DESKTOP_KEY)
    return {name: values[name] for name in SAVER_VALUES if name in values}


def set_saver_values(w, wanted):
    for name in SAVER_VALUES:
        if name in wanted:
            data = wanted[name]
            w.reg_add(DESKTOP_KEY, name, data, "REG_DWORD" if isinstance(data, int) else "REG_SZ")
        else:
            w.wine("reg", "delete", DESKTOP_KEY, "/v", name, "/f")
    check(saver_values(w) == as_listed(wanted), "could not set %s: %s" % (wanted, saver_values(w)))


def as_listed(values):
    """Values as reg_values() lists them."""
    return {name: ("REG_DWORD", "0x%x" % data) if isinstance(data, int) else ("REG_SZ", data)
            for name, data in values.items()}


def windows_named(w, title):
    r = subprocess.run(["xdotool", "search", "--name", "^" + title], env=w.env(), capture_output=True, text=True)
    return r.stdout.split()


def through_pages(w, title, pages, done, timeout=120):
    """Answers the dialogs of a setup program or uninstaller titled `title`:
    the key lists of `pages` one every two seconds (time enough for the next
    page on a loaded machine), page after page, then Return (the Close button
    at the end) until done()."""
    deadline = time.monotonic() + timeout
    while not windows_named(w, title):
        check(time.monotonic() < deadline, "no window %r" % title)
        time.sleep(0.2)
    time.sleep(0.5)
    for keys in pages:
        w.xdotool("key", "--delay", "200", *keys)
        time.sleep(2.0)
    while not done():
        check(time.monotonic() < deadline, "%r did not finish within %d s" % (title, timeout))
        if windows_named(w, title):
            w.xdotool("key", "Return")
        time.sleep(1.0)


def install(w, args, how):
    if how == "silent":
        r = w.wine(args.setup, "/S")
        check(r.returncode == 0, "setup /S exited with %d: %s" % (r.returncode, r.stderr))
        return
    # The licence (I Agree), the components (Install), the end (Close).
    components = ["Down", "space", "Return"] if how == "untick" else ["Return"]
    setup = w.start(args.setup)
    through_pages(w, "Quellora %s Setup" % args.version, [["Return"], components],
                  lambda: setup.poll() is not None)
    check(setup.returncode == 0, "setup exited with %d" % setup.returncode)


def uninstall(w, args, how, uninstaller):
    # The uninstaller copies itself to the temporary folder and runs from
    # there: done once its last step, the key's removal, is (and, with its
    # dialogs, once they are closed).
    if how == "silent":
        r = w.wine(uninstaller, "/S")
        check(r.returncode == 0, "uninstall /S exited with %d" % r.returncode)
        check(poll(lambda: not w.key_exists(UNINSTALL_KEY), 120, 0.5), "the uninstall key is still there")
        return
    w.start(uninstaller)
    title = "Quellora %s Uninstall" % args.version
    # The confirmation (Uninstall), the end (Close).
    through_pages(w, title, [["Return"]], lambda: not w.key_exists(UNINSTALL_KEY) and not windows_named(w, title))


def case_installer(args):
    """quellora-<version>-setup.exe, silent and with its dialogs: quellora.scr
    in system32, made the current screen saver and turned on, listed among the
    installed programs; the installed saver runs and ends on Escape; the
    uninstaller removes the file, itself, its folder and the key, and gives
    back the screen saver values the user had before (also after a second
    install), only while Quellora is still the current screen saver."""
    check(args.setup and os.path.exists(args.setup), "no setup program (QUELLORA_SETUP): %s" % args.setup)
    with World(args, "installer") as w:
        drive_c = os.path.join(w.prefix, "drive_c")
        installed = os.path.join(drive_c, "windows", "system32", "quellora.scr")
        before = files_under(drive_c)
        for start_values, how, installs, picked, run_saver in INSTALLER_ROUNDS:
            what = "%s, %s, %d install(s), %s picked" % (start_values or "no values", how, installs, picked)
            set_saver_values(w, start_values)
            for _ in range(installs):
                install(w, args, how)
            check(os.path.exists(installed), "no quellora.scr in system32 after setup")
            check(open(installed, "rb").read() == open(args.scr, "rb").read(),
                  "the installed quellora.scr is not the one built")
            values = w.reg_values(UNINSTALL_KEY)
            expected = {"DisplayName": ("REG_SZ", "Quellora"), "DisplayVersion": ("REG_SZ", args.version),
                        "Publisher": ("REG_SZ", "Orvandel"), "NoModify": ("REG_DWORD", "0x1"),
                        "NoRepair": ("REG_DWORD", "0x1")}
            for name, value in expected.items():
                check(values.get(name) == value, "%s: %s is %s, expected %s (the key holds %s)" % (
                    what, name, values.get(name), value, values))
            check(values.get("DisplayIcon", ("", ""))[1].lower() == INSTALLED_SCR.lower() + ",0",
                  "DisplayIcon is %s" % (values.get("DisplayIcon"),))
            size = values.get("EstimatedSize", ("", "0x0"))
            check(size[0] == "REG_DWORD" and int(size[1], 16) >= os.path.getsize(args.scr) // 1024,
                  "EstimatedSize is %s" % (size,))
            uninstall_string = values.get("UninstallString", ("", ""))[1]
            check(uninstall_string.startswith('"') and uninstall_string.endswith('uninstall.exe"'),
                  "UninstallString is %r" % uninstall_string)
            check(values.get("QuietUninstallString", ("", ""))[1] == uninstall_string + " /S",
                  "QuietUninstallString is %s" % (values.get("QuietUninstallString"),))
            uninstaller = w.unix_path(uninstall_string.strip('"'))
            check(os.path.exists(uninstaller), "the uninstaller %s is missing" % uninstall_string)

            current = saver_values(w)
            if how == "untick":
                check(current == as_listed(start_values), "%s: the values changed to %s" % (what, current))
            else:
                saver = current.get("SCRNSAVE.EXE", ("", ""))
                check(saver[1].lower() == INSTALLED_SCR.lower(), "%s: SCRNSAVE.EXE is %s" % (what, saver))
                check(current.get("ScreenSaveActive") == ("REG_SZ", "1"),
                      "%s: ScreenSaveActive is %s" % (what, current.get("ScreenSaveActive")))
            if run_saver:
                # The screen saver as the system starts it: the path in SCRNSAVE.EXE, /s.
                saver, _ = w.start_saver(scr=current["SCRNSAVE.EXE"][1])
                w.xdotool("key", "Escape")
                check(wait_end(saver, 10.0), "Escape did not end the installed saver")
                check(saver.returncode == 0, "the installed saver exited with %d" % saver.returncode)
            if picked:
                w.reg_add(DESKTOP_KEY, "SCRNSAVE.EXE", picked)
                current = saver_values(w)

            uninstall(w, args, how, uninstaller)
            for path in (installed, uninstaller, os.path.dirname(uninstaller)):
                check(not os.path.exists(path), "left behind: %s" % path)
            after = saver_values(w)
            expected = current if picked else as_listed(start_values)
            check(after == expected, "%s: after the removal the values are %s, expected %s" % (what, after, expected))
            check(not w.key_exists(SETUP_KEYS), "%s: %s is left" % (what, SETUP_KEYS))
            log("%s: OK, afterwards %s" % (what, after))
        # The uninstaller's copies in the temporary folder go at the next
        # start, as on Windows.
        w.wine("wineboot", "-r")
        subprocess.run(["wineserver", "-w"], env=w.env())
        left = sorted(files_under(drive_c) - before)
        check(not left, "left behind after a restart: %s" % left)


def case_saver_big(args):
    """/s on a 2560x1600 screen: the frame doubled, 2048x1536, every picture
    pixel a 2x2 block, centred at (256, 32) with black around it. The frame
    looked for is the one the saver has reached, with the title card or
    after it, however loaded the machine."""
    w_, h_ = 2560, 1600
    x0, y0, n = (w_ - 2 * VIEW_W) // 2, (h_ - 2 * VIEW_H) // 2, 2
    with World(args, "saver_big", screen=(w_, h_)) as w:
        frame_log = os.path.join(w.dir, "frames.txt")
        frames = CountedFrames(args, frame_log)
        saver, shown = w.start_saver(QUELLORA_FRAME_LOG=windows_path(frame_log))
        step = None
        deadline = time.monotonic() + 60
        while step is None and time.monotonic() < deadline:
            shot = w.screenshot()
            small = enlarged_viewport(shot, n, x0, y0)
            if small is not None:
                step = frames.find(small)
        check(step is not None, "no doubled frame of the renderer's on the 2560x1600 screen")
        mask = np.ones(shot.shape[:2], dtype=bool)
        mask[y0:y0 + n * VIEW_H, x0:x0 + n * VIEW_W] = False
        check(not shot[mask].any(), "the screen around the doubled viewport is not black")
        log("2560x1600: the frame of step %d doubled at (%d, %d)" % (step, x0, y0))
        w.xdotool("key", "Escape")
        check(wait_end(saver, END_DEADLINE), "Escape did not end the saver within a second")


def switch_to_1280x1024(w, args):
    """Xvfb offers only the mode it started with: one more, which the display
    settings then switch to."""
    for argv in (["--newmode", "1280x1024", "108", "1280", "1328", "1440", "1688", "1024", "1025", "1028", "1066"],
                 ["--addmode", "screen", "1280x1024"]):
        r = subprocess.run(["xrandr", *argv], env=w.env(), capture_output=True, text=True)
        check(r.returncode == 0, "xrandr %s: %s" % (argv[0], r.stderr.strip()))
    r = w.wine(os.path.join(args.helpers, "test_host.exe"), "display-mode", "1280", "1024")
    check(r.returncode == 0, "the display settings could not switch to 1280x1024: " + r.stdout.strip())


def case_saver_display_change(args):
    """The display switched to another mode while the saver runs, as the
    display settings do it (every window hears WM_DISPLAYCHANGE): the picture is laid out again for the new
    size, one to one at (128, 128) where it was doubled at (256, 32). However
    long the switch takes on a loaded machine, the frame looked for is the
    one the saver has reached, with the title card or after it."""
    with World(args, "saver_display_change", screen=(2560, 1600)) as w:
        frame_log = os.path.join(w.dir, "frames.txt")
        frames = CountedFrames(args, frame_log)
        saver, shown = w.start_saver(QUELLORA_FRAME_LOG=windows_path(frame_log))
        switch_to_1280x1024(w, args)
        step, shot = find_frame(w, frames, time.monotonic() + 60)
        check(step is not None and shot.shape[:2] == (SCREEN_H, SCREEN_W),
              "no frame of the renderer's at (%d, %d) after the switch to 1280x1024" % (VIEW_X, VIEW_Y))
        check(outside_is_black(shot), "the screen around the viewport is not black after the switch")
        log("switched from 2560x1600 to 1280x1024: the frame of step %d one to one at (%d, %d)" % (step, VIEW_X, VIEW_Y))
        check(saver.poll() is None, "the saver ended")
        w.xdotool("key", "Escape")
        check(wait_end(saver, END_DEADLINE), "Escape did not end the saver within a second")


DOUBLED_AT = ((2560 - 2 * VIEW_W) // 2, (1600 - 2 * VIEW_H) // 2)  # (256, 32)


def case_saver_display_off(args):
    """The system's notices of the display's state, sent as it sends them (Wine
    itself sends none): while the display is off the saver puts nothing on
    screen, its frame log and the screen stand still; dimmed it goes on; when
    the display comes on the whole window shows the frame of the moment: the
    picture moved on meanwhile, and a picture held by Space shows laid out
    for the monitors that changed while the display was off."""
    with World(args, "saver_display_off", screen=(2560, 1600)) as w:
        frame_log = os.path.join(w.dir, "frames.txt")
        frames = CountedFrames(args, frame_log)
        saver, _ = w.start_saver(QUELLORA_FRAME_LOG=windows_path(frame_log))

        def display(state):
            r = w.wine(os.path.join(args.helpers, "test_host.exe"), "display-state", str(state))
            facts, _ = parse_facts(r.stdout)
            expect_facts(facts, {"found": "1", "sent": "1", "result": "1"}, "display state %d" % state)

        def doubled_step(other_than=None):
            """The step of the doubled frame on screen, once one other than
            `other_than` shows."""
            def step():
                small = enlarged_viewport(w.screenshot(), 2, *DOUBLED_AT)
                found = None if small is None else frames.find(small)
                return None if found == other_than else found
            return poll(step, 60, 0.1)

        # Off: the last frame stays, and no frame is counted.
        check(poll(lambda: frames.count(), 30) is not None, "the saver writes no frame log")
        display(0)
        off_at = time.monotonic()
        time.sleep(0.5)  # what GDI had drawn before reaches the X server
        off_count, off_shot = frames.count(), w.screenshot()
        off_view = enlarged_viewport(off_shot, 2, *DOUBLED_AT)
        off_step = None if off_view is None else frames.find(off_view)
        check(off_step is not None, "with the display off the screen shows no frame of the renderer's")
        time.sleep(3.0)
        check(frames.count() == off_count, "frames were counted while the display was off: %d, then %d" % (
            off_count, frames.count()))
        check(np.array_equal(w.screenshot(), off_shot), "the screen changed while the display was off")

        # On: the picture of the moment, past the one the display went off on
        # (3 s of the clock: 75 steps, at the least 5 on a loaded machine).
        display(1)
        frames.uncounted += int((time.monotonic() - off_at + 1) * 25)
        on_step = doubled_step(other_than=off_step)
        check(on_step is not None and on_step >= off_step + 5,
              "after the display came on: step %s, where it went off at %d" % (on_step, off_step))
        log("display off at step %d, on again at step %d" % (off_step, on_step))

        # Dimmed: still showing, still drawing.
        on_count = poll(lambda: frames.count() if frames.count() > off_count else None, 30)
        check(on_count is not None, "no frame counted after the display came on")
        display(2)
        check(poll(lambda: frames.count() > on_count + 10, 30), "the dimmed display got no frames")

        # A held picture, the monitors changed while the display was off:
        # nothing drawn until it comes on, then the held frame, laid out anew.
        w.xdotool("keydown", "space")
        time.sleep(0.5)

        def held_frame():
            small = enlarged_viewport(w.screenshot(), 2, *DOUBLED_AT)
            return small if small is not None and frames.find(small) is not None else None
        held = poll(held_frame, 30, 0.1)
        check(held is not None, "Space held: no frame of the renderer's")
        display(0)
        switch_to_1280x1024(w, args)
        time.sleep(1.0)
        shot = w.screenshot()
        check(shot.shape[:2] == (SCREEN_H, SCREEN_W), "the screen is %dx%d" % shot.shape[1::-1])
        check(not np.array_equal(viewport(shot), held), "the held frame was drawn while the display was off")
        display(1)
        check(poll(lambda: np.array_equal(viewport(w.screenshot()), held), 30),
              "the held frame did not show at (%d, %d) when the display came on" % (VIEW_X, VIEW_Y))
        check(outside_is_black(w.screenshot()), "the screen around the viewport is not black")
        w.xdotool("keyup", "space")
        check(saver.poll() is None, "the saver ended")
        w.xdotool("key", "Escape")
        check(wait_end(saver, END_DEADLINE), "Escape did not end the saver within a second")


CASES = {
    "installer": case_installer,
    "resources": case_resources,
    "saver_picture": case_saver_picture,
    "saver_big": case_saver_big,
    "saver_display_change": case_saver_display_change,
    "saver_display_off": case_saver_display_off,
    "saver_space": case_saver_space,
    "preview": case_preview,
    "preview_pixels": case_preview_pixels,
    "configure": case_configure,
    "password_change": case_password_change,
    "password_check": case_password_check,
}
CASES.update({"saver_input_" + name: (lambda args, n=name: run_input_case(args, n)) for name in INPUT_CASES})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=["prefix", "list", *CASES])
    parser.add_argument("--work", required=False)
    parser.add_argument("--scr")
    parser.add_argument("--helpers")
    parser.add_argument("--render")
    # The setup program and the version it installs (set by cmake/package.cmake).
    parser.add_argument("--setup", default=os.environ.get("QUELLORA_SETUP"))
    parser.add_argument("--version", default=os.environ.get("QUELLORA_VERSION"))
    args = parser.parse_args()
    if args.case == "list":
        print(";".join(CASES))
        return 0
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    if args.case == "prefix":
        make_template(args.work)
        return 0
    start = time.monotonic()
    try:
        CASES[args.case](args)
    except Failure as e:
        log("FAIL:", e)
        return 1
    log("passed in %.1f s" % (time.monotonic() - start))
    return 0


if __name__ == "__main__":
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    sys.exit(main())
