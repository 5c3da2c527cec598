#!/usr/bin/env python3
"""End-to-end tests of quellora on X11. Every case runs on an Xvfb of its own
(found with -displayfd, never a fixed display number), drives quellora with
XTest input (xdotool) and a small X client (xhelper), and reads the screen
back. Waits poll with generous deadlines; the only timed check is the one the
hack protocol needs: SIGTERM ends the hack at once.

usage: x11_e2e.py --quellora BIN --helper BIN --renders DIR --sample BMP
                  --render BIN --work DIR [--installed] [--wayland] CASE

--installed: BIN is installed in XScreenSaver's folder of hacks; the daemon
case then names it by its bare name, as a package's users do.
"""
import argparse
import os
import pwd
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from e2e_common import (Failure, black_mask, check, cpu_seconds, only_black_and_white, poll,  # noqa: E402
                        start_xvfb, stop)

SCREEN_W, SCREEN_H = 1280, 1024
VIEW_W, VIEW_H = 1024, 768
CARD = (352, 264, 672, 504)  # the title card's place in the viewport: left, top, right, bottom
SKIP = 77

ARGS = None


# --- pictures -----------------------------------------------------------------

def read_bmp(path):
    """A 1- or 8-bit palette BMP as (indices HxW uint8, palette Nx3 uint8)."""
    data = open(path, 'rb').read()
    offset = struct.unpack_from('<I', data, 10)[0]
    header = struct.unpack_from('<I', data, 14)[0]
    width, height, _, bits = struct.unpack_from('<iiHH', data, 18)
    colours = struct.unpack_from('<I', data, 46)[0] or (1 << bits)
    pal = np.frombuffer(data, np.uint8, colours * 4, 14 + header).reshape(colours, 4)[:, 2::-1]
    stride = (width * bits + 31) // 32 * 4
    rows = np.frombuffer(data, np.uint8, stride * abs(height), offset).reshape(abs(height), stride)
    if height > 0:
        rows = rows[::-1]
    if bits == 1:
        idx = np.unpackbits(rows, axis=1)[:, :width]
    else:
        idx = rows[:, :width]
    return idx, pal


class Renders:
    """The renderer's frames of the sweep, as black masks (True = black)."""

    def __init__(self, folder):
        names = sorted(n for n in os.listdir(folder) if n.endswith('.bmp'))
        check(names, 'no rendered frames in ' + folder)
        frames = []
        for n in names:
            idx, pal = read_bmp(os.path.join(folder, n))
            black = pal.sum(axis=1) < 384
            frames.append(np.packbits(black[idx], axis=1))
        self.frames = np.stack(frames)  # N x 768 x 128 bytes, 8 pixels each
        title = os.path.join(ARGS.work, 'title.bmp')
        run([ARGS.render, '--step', '0', '--title', '--out', title])
        idx, pal = read_bmp(title)
        self.title = (pal.sum(axis=1) < 384)[idx]

    def match(self, black, vx, vy):
        """The step whose frame shows in `black`, a mask of the viewport's part
        that starts at (vx, vy), byte aligned; the title card may stand over
        it. None when no frame matches."""
        h, w = black.shape
        check(vx % 8 == 0 and w % 8 == 0, 'viewport crops must be byte aligned')
        packed = np.packbits(black, axis=1)
        frames = self.frames[:, vy:vy + h, vx // 8:(vx + w) // 8]
        # The card's rectangle inside this crop, in bytes and rows.
        cl, ct, cr, cb = CARD
        l, t = max(cl, vx) - vx, max(ct, vy) - vy
        r, b = min(cr, vx + w) - vx, min(cb, vy + h) - vy
        if r > l and b > t:
            outside = np.ones(packed.shape, bool)
            outside[t:b, l // 8:r // 8] = False
            hits = np.nonzero((frames == packed)[:, outside].all(axis=1))[0]
            card = black[t:b, l:r]
            for step in hits:
                frame_card = np.unpackbits(self.frames[step, vy + t:vy + b, (vx + l) // 8:(vx + r) // 8], axis=1)
                if (card == frame_card.astype(bool)).all() or \
                        (card == self.title[vy + t:vy + b, vx + l:vx + r]).all():
                    return int(step)
            return None
        hits = np.nonzero((frames == packed).reshape(len(frames), -1).all(axis=1))[0]
        return int(hits[0]) if len(hits) else None


RENDERS = None


def renders():
    global RENDERS
    if RENDERS is None:
        RENDERS = Renders(ARGS.renders)
    return RENDERS


# --- processes and the X server ----------------------------------------------

def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


class Xvfb:
    def __init__(self, w=SCREEN_W, h=SCREEN_H):
        self.log = open(os.path.join(ARGS.work, 'xvfb.log'), 'w')
        self.proc, self.display = start_xvfb(w, h, self.log)
        # Settings of the test's own, and no daemon's window from outside.
        self.env = dict(os.environ, DISPLAY=self.display, XDG_CONFIG_HOME=os.path.join(ARGS.work, 'config-home'))
        self.env.pop('XSCREENSAVER_WINDOW', None)
        # The saver on this X server, even when the tests run in a Wayland session.
        self.env['QUELLORA_BACKEND'] = 'x11'

    def close(self):
        stop(self.proc)
        self.log.close()


class Quellora:
    def __init__(self, x, args, env=None, name='quellora'):
        self.err = open(os.path.join(ARGS.work, name + '.err'), 'w+')
        self.proc = subprocess.Popen([ARGS.quellora] + args, env=dict(x.env, **(env or {})),
                                     stdout=subprocess.DEVNULL, stderr=self.err)

    def alive(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout=20):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure('quellora did not end')

    def close(self):
        stop(self.proc)
        self.err.close()


class HostWindow:
    """A window of another client, as a host or a daemon makes it."""

    def __init__(self, x, w, h, active=False, input_only=False, at=None):
        flags = (['--active'] if active else []) + (['--input-only'] if input_only else []) + \
            (['--at=%d,%d' % at] if at else [])
        self.proc = subprocess.Popen([ARGS.helper, 'window', str(w), str(h)] + flags,
                                     env=x.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.id = self.proc.stdout.readline().strip()
        check(self.id.startswith('0x'), 'the test window did not appear')

    def ask(self, line):
        self.proc.stdin.write(line + '\n')
        self.proc.stdin.flush()
        check(self.proc.stdout.readline().strip() == 'ok', 'the test window did not do: ' + line)

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            self.proc.wait(10)


def grab(x, window=None):
    """The screen (or a window) as an H x W x 3 array."""
    path = os.path.join(ARGS.work, 'grab.ppm')
    run([ARGS.helper, 'grab', path] + ([window] if window else []), env=x.env)
    data = open(path, 'rb').read()
    m = re.match(rb'P6\n(\d+) (\d+)\n255\n', data)
    w, h = int(m.group(1)), int(m.group(2))
    return np.frombuffer(data, np.uint8, w * h * 3, m.end()).reshape(h, w, 3)


def xdotool(x, *args):
    run(['xdotool'] + [str(a) for a in args], env=x.env)


def save(img, name):
    """Keeps a picture of a failure for the log's reader."""
    path = os.path.join(ARGS.work, name + '.ppm')
    h, w = img.shape[:2]
    with open(path, 'wb') as f:
        f.write(b'P6\n%d %d\n255\n' % (w, h) + img.tobytes())
    return path


def frame_at(x, px, py, window=None, region=None, skip=None):
    """Polls until the viewport, placed at (px, py) of the screen or window,
    shows a rendered frame over its part `region` (left, top, right, bottom in
    viewport pixels) with black all around it, but for the rectangle `skip`
    (in the screen's or window's pixels). Returns the step."""
    region = region or (0, 0, VIEW_W, VIEW_H)
    last = [None]

    def look():
        img = grab(x, window)
        last[0] = img
        l, t, r, b = region
        crop = img[py + t:py + b, px + l:px + r]
        if crop.shape[:2] != (b - t, r - l) or not only_black_and_white(crop):
            return None
        outside = black_mask(img).copy()
        outside[max(py + t, 0):py + b, max(px + l, 0):px + r] = True
        if skip:
            outside[skip[1]:skip[3], skip[0]:skip[2]] = True
        if not outside.all():
            return None
        return renders().match(black_mask(crop), l, t)

    step = poll(look, 30, 0.1)
    if step is None:
        raise Failure('no rendered frame on screen; last screen in ' + save(last[0], 'no_frame'))
    return step


def frames_at(x, places, window=None):
    """Polls until every viewport of `places` ((left, top, n): a whole
    viewport enlarged n times, on the screen or the window) shows the same
    rendered frame, each picture pixel an n x n block, with black all around
    them. Returns the step."""
    last = [None]

    def look():
        img = grab(x, window)
        last[0] = img
        outside = black_mask(img).copy()
        steps = set()
        for px, py, n in places:
            crop = img[py:py + VIEW_H * n, px:px + VIEW_W * n]
            if crop.shape[:2] != (VIEW_H * n, VIEW_W * n) or not only_black_and_white(crop):
                return None
            mask = black_mask(crop)
            small = mask[::n, ::n]
            if not np.array_equal(np.repeat(np.repeat(small, n, axis=0), n, axis=1), mask):
                return None  # not n x n blocks
            step = renders().match(small, 0, 0)
            if step is None:
                return None
            steps.add(step)
            outside[py:py + VIEW_H * n, px:px + VIEW_W * n] = True
        return len(steps) == 1 and outside.all() and steps.pop()

    step = poll(look, 30, 0.1)
    if step is None or step is False:
        raise Failure('not the same frame in every viewport; last screen in ' + save(last[0], 'no_frames'))
    return step


def viewport(x, px=128, py=128):
    return black_mask(grab(x))[py:py + VIEW_H, px:px + VIEW_W]


# --- cases --------------------------------------------------------------------

def case_saver_picture(x):
    # A settings file that can't be read (a FIFO) gives the defaults and
    # never stops the saver.
    cfg = os.path.join(ARGS.work, 'config')
    os.makedirs(os.path.join(cfg, 'Orvandel'), exist_ok=True)
    fifo = os.path.join(cfg, 'Orvandel', 'settings.ini')
    if not os.path.exists(fifo):
        os.mkfifo(fifo)
    q = Quellora(x, ['/s'], {'XDG_CONFIG_HOME': cfg})
    try:
        step = frame_at(x, 128, 128)
        print('saver: frame of step %d at (128, 128), black all around' % step)
        check(q.alive(), 'the saver ended by itself')
        xdotool(x, 'key', 'Escape')
        check(q.wait_exit() == 0, 'Escape: the saver did not end cleanly')
    finally:
        q.close()


def write_settings(entries):
    """The saver's settings file in this case's configuration home."""
    folder = os.path.join(ARGS.work, 'config-home', 'Orvandel')
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'settings.ini'), 'w') as f:
        f.write('[ScreenSaverSample]\n' + ''.join('%s=%s\n' % kv for kv in entries.items()))


def case_saver_monitors(x):
    """Two monitors side by side, the right one primary: the same frame on
    both, each viewport centred on its monitor, and the picture on either
    counts as the picture. Monitors=primary: the left one black."""
    run([ARGS.helper, 'monitors', '1280', '1024', '0', '0', '1280', '1024', '1280', '0'], env=x.env)
    for moves, survives in ((10, True), (11, False)):
        # Where the pointer starts: over the left monitor's picture.
        xdotool(x, 'mousemove', 300, 400)
        q = Quellora(x, ['/s'])
        try:
            step = frames_at(x, [(128, 128, 1), (1280 + 128, 128, 1)])
            xdotool(x, *' '.join('mousemove %d 400' % (310 + 7 * i) for i in range(moves)).split())
            label = 'saver on two monitors: the frame of step %d on both; %d moves over the left picture' % (
                step, moves)
            if survives:
                time.sleep(1)
                check(q.alive(), label + ': the saver ended')
                xdotool(x, 'key', 'Escape')
            check(q.wait_exit() == 0, label + ': the saver did not end cleanly')
            print(label + (': runs on' if survives else ': ended'))
        finally:
            q.close()
    write_settings({'Monitors': 'primary'})
    q = Quellora(x, ['/s'])
    try:
        step = frames_at(x, [(1280 + 128, 128, 1)])
        print('Monitors=primary: the frame of step %d on the primary, the other black' % step)
        xdotool(x, 'mousemove', 1280 + 600, 500, 'click', '1')
        check(q.wait_exit() == 0, 'a click on the picture did not end the saver')
    finally:
        q.close()


def case_saver_monitors_change(x):
    """Monitors that change while the saver runs: a second one plugged in
    shows the same frame as the first, and a monitor that becomes one wide
    one gets its viewport in its new middle."""
    run([ARGS.helper, 'monitors', '1280', '1024', '0', '0'], env=x.env)
    q = Quellora(x, ['/s'])
    try:
        frames_at(x, [(128, 128, 1)])
        for layout, places, label in (
                (['1280', '1024', '0', '0', '1280', '1024', '1280', '0'], [(128, 128, 1), (1280 + 128, 128, 1)],
                 'a second monitor plugged in'),
                (['2560', '1024', '0', '0'], [(768, 128, 1)], 'the two made one wide monitor')):
            run([ARGS.helper, 'monitors'] + layout, env=x.env)
            step = frames_at(x, places)
            print('%s: the frame of step %d in every viewport, black around them' % (label, step))
            check(q.alive(), label + ': the saver ended')
        xdotool(x, 'key', 'Escape')
        check(q.wait_exit() == 0, 'Escape: the saver did not end cleanly')
    finally:
        q.close()


def case_saver_big(x):
    """A 3840 x 2160 screen: the frame doubled, 2048 x 1536, centred; a
    Scale of 1 gives today's 1024 x 768 in the middle."""
    for settings, place, label in (({}, (896, 312, 2), 'doubled'), ({'Scale': '1'}, (1408, 696, 1), 'Scale=1')):
        write_settings(settings)
        q = Quellora(x, ['/s'])
        try:
            step = frames_at(x, [place])
            print('3840x2160, %s: the frame of step %d at (%d, %d)' % (label, step, place[0], place[1]))
            xdotool(x, 'key', 'Escape')
            check(q.wait_exit() == 0, 'Escape: the saver did not end cleanly')
        finally:
            q.close()


# Mouse input in saver mode: (switch, moves outside, moves over the picture,
# a click at, whether the saver still runs afterwards).
MOVES = [
    ('/s', 8, 0, None, True),
    ('/s', 9, 0, None, False),
    ('-s', 0, 10, None, True),
    ('-S', 0, 11, None, False),
    ('s', 0, 0, (60, 60), True),     # a click on the black border does nothing
    ('/S', 0, 0, (600, 500), False),  # a click on the picture closes
]


def case_saver_moves(x):
    for switch, outside, inside, click, survives in MOVES:
        # Where the pointer starts, before the saver is there to see it.
        xdotool(x, 'mousemove', 20, 20 if outside else 400)
        q = Quellora(x, [switch])
        try:
            frame_at(x, 128, 128)
            moves = ['mousemove %d 20' % (30 + 7 * i) for i in range(outside)]
            moves += ['mousemove %d 400' % (300 + 7 * i) for i in range(inside)]
            if click:
                moves += ['mousemove %d %d' % click, 'click 1']
            xdotool(x, *' '.join(moves).split())
            label = '%s: %d moves outside, %d over the picture, click %s' % (switch, outside, inside, click)
            if survives:
                # Nothing to wait for but time: give the events a second.
                time.sleep(1)
                check(q.alive(), label + ': the saver ended')
            else:
                check(q.wait_exit() == 0, label + ': the saver did not end cleanly')
            print(label + (': runs on' if survives else ': ended'))
        finally:
            q.close()


def case_saver_space(x):
    q = Quellora(x, ['/s'])
    try:
        frame_at(x, 128, 128)
        first = viewport(x)
        check(poll(lambda: not np.array_equal(viewport(x), first), 10), 'the picture does not move')
        xdotool(x, 'keydown', 'space')
        try:
            # Frozen once two looks a little apart agree; then it stays.
            def frozen():
                a = viewport(x)
                time.sleep(0.3)
                return np.array_equal(a, viewport(x)) and a
            held = poll(frozen, 10)
            check(held is not None, 'Space held: the picture goes on moving')
            time.sleep(1)
            check(np.array_equal(held, viewport(x)), 'Space held: the picture moved')
            check(q.alive(), 'Space ended the saver')
        finally:
            xdotool(x, 'keyup', 'space')
        check(poll(lambda: not np.array_equal(viewport(x), held), 10), 'Space released: the picture stays still')
        print('saver: Space held freezes the picture, released it moves again')
        xdotool(x, 'key', 'shift+Escape')
        check(q.wait_exit() == 0, 'Shift+Escape: the saver did not end cleanly')
    finally:
        q.close()


def server_load(x, seconds=3.0):
    """The X server's CPU share of one core over `seconds`."""
    c0, t0 = cpu_seconds(x.proc.pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(x.proc.pid) - c0) / (time.monotonic() - t0)


def case_saver_two(x):
    """A second full-screen saver over the first: no raising war (the X
    server stays about as busy as with one), frames go on showing, and each
    still ends on its own Escape."""
    a = Quellora(x, ['/s'], name='first')
    b = None
    try:
        frame_at(x, 128, 128)
        one = server_load(x)
        b = Quellora(x, ['/s'], name='second')
        time.sleep(2)  # past the second one's tries for the grabs
        check(a.alive() and b.alive(), 'a saver ended by itself')
        two = server_load(x)
        print('X server: %.1f %% of a core with one saver, %.1f %% with two' % (100 * one, 100 * two))
        check(two <= 3 * one + 0.05, 'two savers keep the X server busy: %.0f %% against %.0f %% with one'
              % (100 * two, 100 * one))
        frame_at(x, 128, 128)
        first = viewport(x)
        check(poll(lambda: not np.array_equal(viewport(x), first), 10), 'with two savers the picture stands still')
        xdotool(x, 'key', 'Escape')
        ended = poll(lambda: [q for q in (a, b) if not q.alive()] or None, 20)
        check(ended and len(ended) == 1, 'Escape did not end exactly one saver')
        other = b if ended[0] is a else a
        time.sleep(0.5)
        check(other.alive(), 'one Escape ended both savers')
        xdotool(x, 'key', 'Escape')
        check(other.wait_exit() == 0, 'the other saver did not end on its own Escape')
        check(ended[0].wait_exit() == 0, 'the first saver did not end cleanly')
        print('two savers: one Escape ended one, the next the other')
    finally:
        a.close()
        if b:
            b.close()


def terminate_quickly(q, label):
    start = time.monotonic()
    q.proc.send_signal(signal.SIGTERM)
    rc = q.wait_exit(5)
    elapsed = time.monotonic() - start
    check(rc == -signal.SIGTERM, '%s: exit status %s after SIGTERM, not the signal' % (label, rc))
    check(elapsed < 0.1, '%s: took %.0f ms to end after SIGTERM' % (label, elapsed * 1000))
    print('%s: SIGTERM ended it in %.1f ms' % (label, elapsed * 1000))


def case_hack_window(x):
    host = HostWindow(x, 640, 480)
    q = Quellora(x, ['--window-id', host.id])
    try:
        # 640 x 480 shows the viewport's middle: (192, 144) to (832, 624).
        step = frame_at(x, -192, -144, host.id, (192, 144, 832, 624))
        print('hack 640x480: the middle of the frame of step %d' % step)
        host.ask('resize 1280 1024')
        step = frame_at(x, 128, 128, host.id)
        print('hack resized to 1280x1024: the whole frame of step %d at (128, 128)' % step)
        check(q.alive(), 'the hack ended by itself')
        terminate_quickly(q, 'hack')
    finally:
        q.close()
        host.close()


# The daemon's way: --root with XSCREENSAVER_WINDOW, hexadecimal or decimal,
# with the options a daemon adds; or the root window itself. A window id wins
# over --root and over XSCREENSAVER_WINDOW (the daemon's settings preview
# passes all three), and -fps puts the frame rate in the bottom-left corner.
# (arguments, XSCREENSAVER_WINDOW: the host window's id in hex or decimal,
# another window's or none; where the picture goes; a readout)
ROOTS = [
    (['-root', '-install', '-visual', 'default', '-delay', '20000', '-pair'], 'hex', 'host', False),
    (['--root'], 'decimal', 'host', False),
    (['--root'], None, 'root', False),
    (['-root', '-fps', '-window-id', 'ID'], 'other', 'host', True),  # the settings preview's command line
    (['--window-id', 'ID', '--root'], 'other', 'host', False),
    (['--root', '--fps'], 'hex', 'host', True),
]
READOUT = (0, 600 - 48, 200, 600)  # the readout's corner of an 800 x 600 window, with room to spare


def case_hack_root(x):
    for args, env_form, where, fps in ROOTS:
        host = HostWindow(x, 800, 600) if where == 'host' else None
        other = HostWindow(x, 300, 200, at=(900, 700)) if env_form == 'other' else None
        env = {}
        if env_form in ('hex', 'decimal'):
            env['XSCREENSAVER_WINDOW'] = host.id if env_form == 'hex' else str(int(host.id, 16))
        elif env_form == 'other':
            env['XSCREENSAVER_WINDOW'] = other.id
        q = Quellora(x, [host.id if a == 'ID' else a for a in args], env)
        try:
            label = 'hack %s into the %s' % (' '.join(args), 'root' if where == 'root' else 'host window')
            if where == 'host':
                # The readout stands over the picture: the frame is matched above its rows.
                band = READOUT[3] - READOUT[1]
                frame_at(x, -112, -84, host.id, (112, 84, 912, 684 - band) if fps else (112, 84, 912, 684),
                         (0, 600 - band, 800, 600) if fps else None)
                if fps:
                    # White text in a black box, 8 pixels from the corner (a
                    # slow build may not have painted it with the first frame).
                    def readout():
                        box = grab(x, host.id)[600 - 30:600 - 8, 8:8 + 106]
                        return only_black_and_white(box) and black_mask(box).mean() > 0.5 and (box == 255).any()
                    check(poll(readout, 10, 0.2), label + ': no frame-rate readout in the bottom-left corner')
            else:
                frame_at(x, 128, 128)
            if other:
                check((grab(x, other.id) == [0x33, 0x66, 0x99]).all(),
                      label + ': drew into XSCREENSAVER_WINDOW, not the window id')
            print(label + ': frame shown' + (' with the frame rate' if fps else ''))
            terminate_quickly(q, label)
        finally:
            q.close()
            for w in (host, other):
                if w:
                    w.close()


def case_preview(x):
    idx, pal = read_bmp(ARGS.sample)
    sample = pal[idx].astype(int)
    host = HostWindow(x, 152, 112)
    q = Quellora(x, ['/p', str(int(host.id, 16))])
    try:
        # 210 x 156 centred in 152 x 112: drawn at (-29, -22).
        want = sample[22:22 + 112, 29:29 + 152]
        got = poll(lambda: (lambda g: g if np.abs(g.astype(int) - want).max() <= 1 else None)(grab(x, host.id)), 20)
        check(got is not None, 'the preview does not show the sample picture')
        print('preview: the middle of the sample picture fills the window')
        time.sleep(0.5)
        check(q.alive(), 'the preview ended by itself')
        host.ask('destroy')
        check(q.wait_exit() == 0, 'the preview did not end cleanly when its window went away')
        print('preview: ended when its window was destroyed')
    finally:
        q.close()
        host.close()


# The About dialog: (switch, with an active window, how it is closed).
ABOUT = [
    ([], True, 'Return'),
    (['/c'], False, 'click'),
    (['/c:1234'], False, 'close'),
]


def case_about(x):
    for args, active, closer in ABOUT:
        owner = HostWindow(x, 400, 300, active=True) if active else None
        focused = owner or HostWindow(x, 200, 100)
        xdotool(x, 'windowfocus', '--sync', focused.id)
        q = Quellora(x, args)
        try:
            found = poll(lambda: subprocess.run([ARGS.helper, 'find', 'About'], env=x.env, stdout=subprocess.PIPE,
                                                text=True).stdout.strip() or None, 20)
            check(found, 'no About window')
            w, h, transient, left, top = run([ARGS.helper, 'info', found], env=x.env).stdout.split()
            check((int(w), int(h)) == (303, 161), 'About is %sx%s, not 303x161' % (w, h))
            check(int(transient, 16) == (int(owner.id, 16) if owner else 0), 'About is transient for ' + transient)

            def drawn():
                img = grab(x, found)
                ok_button = img[132:156, 115:188]
                title = img[10:29, 47:236]
                return (black_mask(ok_button).any() and (ok_button.max(axis=2) > 150).any()
                        and black_mask(title).sum() > 100) and img
            img = poll(drawn, 20)
            check(img is not None, 'the About dialog shows no title and OK button')
            if closer == 'Return':
                xdotool(x, 'key', 'Return')
            elif closer == 'click':
                xdotool(x, 'mousemove', int(left) + 150, int(top) + 144, 'click', '1')
            else:
                run([ARGS.helper, 'close', found], env=x.env)
            check(q.wait_exit() == 0, 'About did not close on ' + closer)
            focus = run(['xdotool', 'getwindowfocus'], env=x.env).stdout.strip()
            check(focus.isdigit() and int(focus) == int(focused.id, 16),
                  'after About the focus is on %s, not on %s' % (focus, focused.id))
            print('About %s: title and OK shown, closed by %s, focus given back' %
                  (' '.join(args) or '(no arguments)', closer))
        finally:
            q.close()
            focused.close()
            # The next window may get the same id: it must not count as active.
            run(['xprop', '-root', '-remove', '_NET_ACTIVE_WINDOW'], env=x.env)


# Command lines a user can get wrong: one line on stderr and exit status 1.
# (arguments, environment (None takes a variable out), XSCREENSAVER_WINDOW,
# exit status, part of the message: a pair says it with the Wayland backend
# and without); INPUT_ONLY stands for the id of an input-only window, in
# hexadecimal (or decimal for /p), which has no pixels to draw.
NO_DISPLAY = {'DISPLAY': None}
# The saver looks for a compositor only where WAYLAND_DISPLAY or WAYLAND_SOCKET
# names one; libwayland's own complaints stay out of the one line.
NO_WAYLAND = {'WAYLAND_DISPLAY': None, 'WAYLAND_SOCKET': None, 'QUELLORA_BACKEND': None}
ERRORS = [
    (['--frobnicate'], {}, None, 1, 'unknown option'),
    (['-root', '-frobnicate'], {}, None, 1, 'unknown option'),
    (['--window-id'], {}, None, 1, 'needs a value'),
    (['--window-id', 'nonsense'], {}, None, 1, 'needs a window id'),
    (['--window-id', '0x1fffff0'], {}, None, 1, 'no window 0x1fffff0'),
    (['--window-id', 'INPUT_ONLY'], {}, None, 1, 'is input-only'),
    (['--root'], {}, 'INPUT_ONLY', 1, 'is input-only'),
    (['/p', 'INPUT_ONLY'], {}, None, 1, 'is input-only'),
    (['/p', '0x1fffff0'], {}, None, 1, 'no window 0x1fffff0'),
    (['/p', 'abc'], {}, None, 1, '/p needs a window id'),
    (['/p:123'], {}, None, 1, "(/p ID), not '/p:123'"),
    (['/P:0x4d2', 'abc'], {}, None, 1, "(/p ID), not '/P:0x4d2 abc'"),
    (['/s'], NO_DISPLAY, None, 1, 'no X display'),
    (['/s'], {'DISPLAY': ':4999'}, None, 1, "cannot open display ':4999'"),
    (['/s'], dict(NO_DISPLAY, **NO_WAYLAND), None, 1,
     ('quellora: no Wayland compositor (WAYLAND_DISPLAY is not set) and no X display (DISPLAY is not set)\n',
      'quellora: no X display (DISPLAY is not set)\n')),
    (['/s'], dict(NO_WAYLAND, DISPLAY=':4999', WAYLAND_DISPLAY='quellora-none', XDG_RUNTIME_DIR=None), None, 1,
     ("quellora: cannot connect to the Wayland compositor 'quellora-none' and cannot open display ':4999'\n",
      "quellora: cannot open display ':4999'\n")),
    (['/c'], dict(NO_DISPLAY, **NO_WAYLAND), None, 1, 'quellora: no X display (DISPLAY is not set)\n'),
    # What a user typed comes back quoted, escaped, on one line.
    (['--bad\n\x1b[31mred'], {}, None, 1, "unknown option '--bad\\n\\x1b[31mred'"),
    (['--window-id', '1\r\n2'], {}, None, 1, "not '1\\r\\n2'"),
    (['/p', 'a\x07b'], {}, None, 1, "not 'a\\x07b'"),
    (['--root'], {}, '0x12\n', 1, "XSCREENSAVER_WINDOW is no window id: '0x12\\n'"),
    (['/s'], {'DISPLAY': ':99\x1b]0;x\x07'}, None, 1, "cannot open display ':99\\x1b]0;x\\x07'"),
    (['/a', '1234'], {}, None, 0, None),  # no password service on Linux: nothing to do
    # The host's switches stand alone: the option after one is named.
    (['/s', '--display', ':99'], {}, None, 1, "'/s' takes no option '--display'"),
]


def case_errors(x):
    input_only = HostWindow(x, 300, 200, input_only=True)
    try:
        run_errors(x, input_only.id)
    finally:
        input_only.close()


def run_errors(x, input_only):
    for args, environment, xss_window, status, message in ERRORS:
        env = dict(x.env, **environment)
        for name in [n for n, v in env.items() if v is None]:
            del env[name]
        if isinstance(message, tuple):
            message = message[0 if ARGS.wayland else 1]
        if xss_window:
            env['XSCREENSAVER_WINDOW'] = xss_window.replace('INPUT_ONLY', input_only)
        args = [a.replace('INPUT_ONLY', str(int(input_only, 16)) if args[0] == '/p' else input_only) for a in args]
        label = 'quellora %r' % args
        try:
            r = subprocess.run([ARGS.quellora] + args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               text=True, timeout=20)
        except subprocess.TimeoutExpired:
            raise Failure('%s: still running after 20 s' % label)
        check(r.returncode == status, '%s: exit status %d, not %d' % (label, r.returncode, status))
        if message:
            check(r.stderr.count('\n') == 1 and r.stderr.endswith('\n') and r.stderr.startswith('quellora: ')
                  and message in r.stderr and not re.search(r'[\x00-\x09\x0b-\x1f\x7f]', r.stderr),
                  '%s: stderr %r' % (label, r.stderr))
        else:
            check(r.stderr == '', '%s: stderr %r' % (label, r.stderr))
        print('%s: %s' % (label, r.stderr.strip() or 'exit 0'))
    # Every usual way of asking prints the usage, and starts no saver.
    for ask in ('--help', '-h', '-?', '/?', '-help', 'help'):
        try:
            r = subprocess.run([ARGS.quellora, ask], env=x.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               text=True, timeout=20)
        except subprocess.TimeoutExpired:
            raise Failure('quellora %s: still running after 20 s (the saver?)' % ask)
        check(r.returncode == 0 and r.stdout.startswith('usage: quellora') and r.stderr == '',
              'quellora %s: exit %d, stdout %r, stderr %r' % (ask, r.returncode, r.stdout[:60], r.stderr))
    # It names the settings file, its entries and the manual.
    for words in ('Orvandel/settings.ini', 'Scale in the settings file', 'IdleTimeout=', 'man 6x quellora', '/a '):
        check(words in r.stdout, '--help does not say %r' % words)
    # Every usual way of asking for the version prints it, and starts no saver.
    for ask in ('--version', '-v', '-V', '-version'):
        try:
            r = subprocess.run([ARGS.quellora, ask], env=x.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               text=True, timeout=20)
        except subprocess.TimeoutExpired:
            raise Failure('quellora %s: still running after 20 s (the saver?)' % ask)
        check(r.returncode == 0 and re.fullmatch(r'quellora \d+\.\d+(\.\d+)?\n', r.stdout) and r.stderr == '',
              'quellora %s: exit %d, stdout %r, stderr %r' % (ask, r.returncode, r.stdout[:60], r.stderr))


def program_of(pid):
    try:
        return os.path.realpath('/proc/%s/exe' % pid)
    except OSError:
        return None


def programs_entries(text):
    """The entries of the programs list in a ~/.xscreensaver text."""
    lines = text.split('\n')
    for i, line in enumerate(lines):
        if re.match(r'\s*programs\s*:', line):
            value = line.split(':', 1)[1]
            while value.endswith('\\') and i + 1 < len(lines):
                i += 1
                value = value[:-1] + lines[i]
            return [e.strip() for e in value.split('\\n') if e.strip()]
    return []


def case_daemon(x):
    """A user puts quellora into the programs list with its own command, and
    the real XScreenSaver daemon runs it when it is the one chosen; the idle
    watcher leaves a display with the daemon to it."""
    user = None
    if os.getuid() == 0:
        # The daemon refuses to run as root: it runs as a user of its own.
        user = 'qltest'
        try:
            pwd.getpwnam(user)
        except KeyError:
            r = subprocess.run(['useradd', '--system', '--no-create-home', '--shell', '/usr/sbin/nologin', user],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            try:
                pwd.getpwnam(user)  # another run may have made it meanwhile
            except KeyError:
                raise Failure('could not add the user %s: %s' % (user, r.stdout.strip()))
    # A home of its own in /tmp, which every user can reach.
    home = tempfile.mkdtemp(prefix='quellora-xss-')
    if ARGS.installed:
        hack, command = ARGS.quellora, os.path.basename(ARGS.quellora)
    else:
        hack = command = os.path.join(home, 'quellora')
        shutil.copy(ARGS.quellora, hack)
        os.chmod(hack, 0o755)
    # The user's own settings, with no programs list: the add command puts
    # the system's list and Quellora in.
    settings = os.path.join(home, '.xscreensaver')
    with open(settings, 'w') as f:
        f.write('timeout:\t0:30:00\ncycle:\t0:00:00\nlock:\tFalse\nfade:\tFalse\nunfade:\tFalse\n'
                'splash:\tFalse\ndpmsEnabled:\tFalse\nmode:\tone\n')
    os.chmod(home, 0o755)
    if user:
        entry = pwd.getpwnam(user)
        for root, dirs, files in os.walk(home):
            for n in [root] + [os.path.join(root, f) for f in files]:
                os.chown(n, entry.pw_uid, entry.pw_gid)
    name = user or pwd.getpwuid(os.getuid()).pw_name
    env = dict(x.env, HOME=home, USER=name, LOGNAME=name)
    env.pop('XAUTHORITY', None)
    as_user = ['setpriv', '--reuid', user, '--regid', user, '--init-groups', '--'] if user else []
    # No daemon runs yet: the command says nothing about one.
    r = subprocess.run(as_user + [hack, '--xscreensaver-add'], env=dict(env, DISPLAY=''), cwd=home,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    check(r.returncode == 0, 'quellora --xscreensaver-add failed: ' + r.stdout)
    entries = programs_entries(open(settings).read())
    mine = [i for i, e in enumerate(entries) if 'Quellora' in e]
    check(len(mine) == 1 and mine[0] == len(entries) - 1, 'Quellora is not the last of the programs: %r' % entries)
    check(entries[-1].split()[1] == command, 'the entry runs %r, not %r' % (entries[-1], command))
    with open(settings, 'a') as f:
        f.write('selected:\t%d\n' % mine[0])
    log = open(os.path.join(ARGS.work, 'xscreensaver.log'), 'w')
    daemon = subprocess.Popen(as_user + ['xscreensaver', '-no-splash', '-verbose'], env=env, cwd=home,
                              stdout=log, stderr=log)
    try:
        def activated():
            r = subprocess.run(as_user + ['xscreensaver-command', '-activate'], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, cwd=home)
            return r.returncode == 0
        check(poll(activated, 30, 0.5), 'xscreensaver-command -activate failed; see ' + log.name)
        step = frame_at(x, 128, 128)
        pids = [p for p in os.listdir('/proc') if p.isdigit() and program_of(p) == os.path.realpath(hack)]
        check(pids, 'no quellora process under the daemon')
        print('daemon: quellora --root (pid %s) draws the frame of step %d' % (','.join(pids), step))
        # The idle watcher sees the daemon (its mark is on a window of its
        # own) and leaves the display to it, in one line.
        runtime = os.path.join(home, 'runtime')
        os.makedirs(runtime, mode=0o700)
        if user:
            os.chown(runtime, entry.pw_uid, entry.pw_gid)
        watcher_env = dict(env, XDG_RUNTIME_DIR=runtime)
        for name in ('WAYLAND_DISPLAY', 'WAYLAND_SOCKET', 'DBUS_SESSION_BUS_ADDRESS'):
            watcher_env.pop(name, None)
        try:
            r = subprocess.run(as_user + [hack, '--idle', '5'], env=watcher_env, cwd=home, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, timeout=20)
        except subprocess.TimeoutExpired:
            raise Failure('quellora --idle runs beside the XScreenSaver daemon')
        check(r.returncode == 1 and r.stderr.count('\n') == 1 and 'XScreenSaver daemon' in r.stderr,
              'quellora --idle beside the daemon: status %d, %r' % (r.returncode, r.stderr))
        print('quellora --idle beside the daemon: %s' % r.stderr.strip())
        # With the daemon running, the command says that it sees the change.
        r = subprocess.run(as_user + [hack, '--xscreensaver-remove'], env=env, cwd=home,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        check(r.returncode == 0 and 'XScreenSaver is running' in r.stdout,
              'quellora --xscreensaver-remove with the daemon running says: ' + r.stdout)
        check(programs_entries(open(settings).read()) == entries[:-1], 'remove did not take out just Quellora')
        subprocess.run(as_user + ['xscreensaver-command', '-exit'], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, cwd=home, timeout=20)
        daemon.wait(20)
        log.flush()
        # The daemon ends its hack with SIGTERM and calls any other end a crash.
        # "exited normally with SIGTERM" is its word for a hack it ended
        # itself; anything else about the hack's end is a complaint.
        complaints = [l for l in open(log.name, errors='replace') if 'quellora' in l and
                      re.search(r'crash|exited abnormally|unexpectedly terminated|not installed|stopped with', l)]
        check(not complaints, 'the daemon complains: ' + ''.join(complaints))
    finally:
        stop(daemon)
        log.close()
        shutil.rmtree(home, ignore_errors=True)


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith('case_')}


def main():
    global ARGS
    p = argparse.ArgumentParser()
    for opt in ('--quellora', '--helper', '--renders', '--sample', '--render', '--work'):
        p.add_argument(opt, required=True)
    p.add_argument('--installed', action='store_true')
    p.add_argument('--wayland', action='store_true', help='quellora is built with its Wayland backend')
    p.add_argument('case', choices=sorted(CASES))
    ARGS = p.parse_args()
    os.makedirs(ARGS.work, exist_ok=True)
    # Each run starts with no settings of its own.
    shutil.rmtree(os.path.join(ARGS.work, 'config-home'), ignore_errors=True)
    for tool in ('Xvfb', 'xdotool'):
        if not shutil.which(tool):
            print('%s is not installed; skipped' % tool)
            return SKIP
    if ARGS.case == 'daemon' and not (shutil.which('xscreensaver') and shutil.which('setpriv')):
        print('xscreensaver is not installed; skipped')
        return SKIP
    sizes = {'saver_monitors': (2 * SCREEN_W, SCREEN_H), 'saver_monitors_change': (2 * SCREEN_W, SCREEN_H), 'saver_big': (3840, 2160)}
    x = Xvfb(*sizes.get(ARGS.case, (SCREEN_W, SCREEN_H)))
    try:
        CASES[ARGS.case](x)
    except Failure as e:
        print('FAILED: %s' % e)
        return 1
    finally:
        x.close()
    return 0


if __name__ == '__main__':
    sys.exit(main())
