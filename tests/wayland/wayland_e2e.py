#!/usr/bin/env python3
"""End-to-end tests of quellora's Wayland backend. Every case runs on a
headless sway of its own (as the test user when run as root: sway refuses
root), with its own XDG_RUNTIME_DIR; input comes from wlinput (a virtual
keyboard and pointer), pictures from grim, compared with the renderer's
frames. Waits poll with generous deadlines; nothing is timed.

usage: wayland_e2e.py --quellora BIN --input BIN --renders DIR --render BIN
                      --work DIR CASE
"""
import argparse
import glob
import os
import pwd
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), 'x11'))
sys.path.insert(0, HERE)
from e2e_common import (SKIP, Failure, Skip, black_mask, check, die_with_parent, only_black_and_white, poll,  # noqa: E402, F401
                        run_case, stop)
import x11_e2e  # noqa: E402  (the renderer's frames and how a picture matches one)
from wire import WireProxy  # noqa: E402

VIEW_W, VIEW_H = 1024, 768
USER = 'qltest'
ARGS = None


def need(*tools):
    """Skips the case when one of the tools is not installed."""
    for tool in tools:
        if not shutil.which(tool):
            raise Skip('%s is not installed' % tool)


def need_test_user():
    """Skips the case when we are root without setpriv to run the compositor
    as the test user (compositors refuse root)."""
    if os.getuid() == 0 and not shutil.which('setpriv'):
        raise Skip('setpriv is missing: the compositor cannot run as the test user')


def test_user():
    """The user sway runs as: ourselves, or when we are root the test user."""
    if os.getuid() != 0:
        return None
    try:
        pwd.getpwnam(USER)
    except KeyError:
        r = subprocess.run(['useradd', '--system', '--no-create-home', '--shell', '/usr/sbin/nologin', USER],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            pwd.getpwnam(USER)  # another run may have made it meanwhile
        except KeyError:
            raise Failure('could not add the user %s: %s' % (USER, r.stdout.strip()))
    return pwd.getpwnam(USER)


class Sway:
    """A headless sway with its own runtime folder, and the programs under test
    copied where its user can run them."""

    def __init__(self, xwayland=False):
        self.user = test_user()
        self.home = tempfile.mkdtemp(prefix='quellora-wl-')
        self.runtime = os.path.join(self.home, 'runtime')
        os.makedirs(self.runtime, mode=0o700)
        self.config = os.path.join(self.home, 'config')
        with open(self.config, 'w') as f:
            # Grey where nothing of the saver's covers an output.
            f.write('output * bg #808080 solid_color\ndefault_border none\n' +
                    ('' if xwayland else 'xwayland disable\n'))
        self.bin = {}
        for name, path in (('quellora', ARGS.quellora), ('wlinput', ARGS.input)):
            self.bin[name] = os.path.join(self.home, name)
            shutil.copy(path, self.bin[name])
            os.chmod(self.bin[name], 0o755)
        # The saver's settings, where the case writes them.
        self.settings = os.path.join(self.home, 'config-home')
        os.makedirs(os.path.join(self.settings, 'Orvandel'))
        os.chmod(self.home, 0o755)
        if self.user:
            for root, dirs, files in os.walk(self.home):
                for n in [root] + [os.path.join(root, d) for d in dirs] + [os.path.join(root, f) for f in files]:
                    os.chown(n, self.user.pw_uid, self.user.pw_gid)
        # The parent-death signal goes with the change of user, so setpriv sets it again.
        self.as_user = (['setpriv', '--reuid', USER, '--regid', USER, '--init-groups', '--pdeathsig', 'KILL', '--']
                        if self.user else [])
        self.env = {'PATH': os.environ.get('PATH', '/usr/bin:/bin'), 'HOME': self.home, 'XDG_RUNTIME_DIR': self.runtime,
                    'XDG_CONFIG_HOME': self.settings, 'WLR_BACKENDS': 'headless', 'WLR_LIBINPUT_NO_DEVICES': '1',
                    'WLR_RENDERER': 'pixman', 'LANG': 'C.UTF-8'}
        self.log = open(os.path.join(ARGS.work, 'sway.log'), 'w')
        self.proc = subprocess.Popen(self.as_user + ['sway', '-c', self.config], env=self.env, cwd=self.home,
                                     stdout=self.log, stderr=self.log, preexec_fn=die_with_parent)
        try:
            sockets = poll(lambda: glob.glob(os.path.join(self.runtime, 'sway-ipc.*.sock')) and
                           glob.glob(os.path.join(self.runtime, 'wayland-[0-9]')) or None, 30, 0.1)
            check(sockets and self.proc.poll() is None, 'sway did not start; see ' + self.log.name)
            self.env['SWAYSOCK'] = glob.glob(os.path.join(self.runtime, 'sway-ipc.*.sock'))[0]
            self.env['WAYLAND_DISPLAY'] = os.path.basename(sockets[0])
            self.output('HEADLESS-1', 1280, 1024, 1, 0, 0)
        except BaseException:
            self.close()
            raise

    def run(self, *cmd, **kw):
        return subprocess.run(self.as_user + list(cmd), env=self.env, cwd=self.home, check=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)

    def msg(self, *args):
        return self.run('swaymsg', *[str(a) for a in args]).stdout

    def output(self, name, w, h, scale, x, y):
        self.msg('output', name, 'mode', '%dx%d' % (w, h), 'scale', scale, 'position', x, y)

    def add_output(self):
        before = set(re.findall(r'HEADLESS-\d+', self.msg('-t', 'get_outputs')))
        self.msg('create_output')
        after = poll(lambda: set(re.findall(r'HEADLESS-\d+', self.msg('-t', 'get_outputs'))) - before or None, 10)
        check(after, 'sway made no output')
        return after.pop()

    def grab(self, name='HEADLESS-1', cursor=False):
        """An output's device pixels as an H x W x 3 array; `cursor`: with the
        pointer's image drawn over them."""
        path = os.path.join(self.home, 'grab.ppm')
        self.run('grim', *(['-c'] if cursor else []), '-t', 'ppm', '-o', name, path)
        data = open(path, 'rb').read()
        m = re.match(rb'P6\s+(\d+)\s+(\d+)\s+255\s', data)
        w, h = int(m.group(1)), int(m.group(2))
        return np.frombuffer(data, np.uint8, w * h * 3, m.end()).reshape(h, w, 3)

    def write_settings(self, entries):
        path = os.path.join(self.settings, 'Orvandel', 'settings.ini')
        with open(path, 'w') as f:
            f.write('[ScreenSaverSample]\n' + ''.join('%s=%s\n' % kv for kv in entries.items()))
        if self.user:
            os.chown(path, self.user.pw_uid, self.user.pw_gid)

    def close(self):
        stop(self.proc)
        self.log.close()
        shutil.rmtree(self.home, ignore_errors=True)


class Quellora:
    def __init__(self, sway, args, env=None, name='quellora'):
        self.err = open(os.path.join(ARGS.work, name + '.err'), 'w+')
        self.frames = os.path.join(sway.home, name + '.frames')
        open(self.frames, 'w').close()
        if sway.user:
            os.chown(self.frames, sway.user.pw_uid, sway.user.pw_gid)
        self.proc = subprocess.Popen(sway.as_user + [sway.bin['quellora']] + args, cwd=sway.home,
                                     env=dict(sway.env, QUELLORA_FRAME_LOG=self.frames, **(env or {})),
                                     stdout=subprocess.DEVNULL, stderr=self.err, preexec_fn=die_with_parent)

    def alive(self):
        return self.proc.poll() is None

    def frames_drawn(self):
        """The frames put on screen so far, as the frame log last said."""
        text = open(self.frames).read().split()
        return int(text[0]) if text else 0

    def still_runs_after_input(self):
        """Whether the saver runs on once it has put frames on screen after
        the input just given (it reads input before the frames that follow)."""
        seen = self.frames_drawn()
        check(poll(lambda: not self.alive() or self.frames_drawn() > seen + 5, 20), 'the saver puts no frames on screen')
        return self.alive()

    def wait_exit(self, timeout=20):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure('quellora did not end')

    def error(self):
        self.err.seek(0)
        return self.err.read()

    def close(self):
        stop(self.proc)
        self.err.close()


class Input:
    """wlinput: a virtual keyboard and pointer, driven line by line."""

    def __init__(self, sway):
        self.proc = subprocess.Popen(sway.as_user + [sway.bin['wlinput']], env=sway.env, cwd=sway.home,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                     preexec_fn=die_with_parent)
        check(self.proc.stdout.readline().strip() == 'ready', 'wlinput did not start')

    def do(self, *lines):
        for line in lines:
            self.proc.stdin.write(line + '\n')
            self.proc.stdin.flush()
            check(self.proc.stdout.readline().strip() == 'ok', 'wlinput did not do: ' + line)

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            self.proc.wait(10)


class HidingCompositor(WireProxy):
    """A socket in front of sway that hides some of its globals from the
    clients connecting to it (their wl_registry.global events are dropped),
    so the saver meets a compositor without a seat, a shell or wl_shm; and
    that can say other things than sway says (`rewrite`, wire.py)."""

    def __init__(self, sway, hide, rewrite=None, name=None):
        super().__init__(sway.runtime, os.path.join(sway.runtime, sway.env['WAYLAND_DISPLAY']),
                         name or 'wayland-hiding-' + '-'.join(sorted(hide)),
                         sway.user and (sway.user.pw_uid, sway.user.pw_gid), hide, rewrite)


def at_origin(iface, name, msg):
    """Every output at (0, 0), as a lock screen's nested server reports them:
    wl_output.geometry and zxdg_output_v1.logical_position rewritten."""
    if (iface, name) in (('wl_output', 'geometry'), ('zxdg_output_v1', 'logical_position')):
        return msg[:8] + struct.pack('<ii', 0, 0) + msg[16:]
    return msg


class XdgOutput2:
    """xdg-output offered at version 2, whose done event says when an
    output's logical place is known or changed (version 3 leaves that to
    wl_output), from a compositor that sends wl_output.done once, after the
    wl_output's description (sway sends more, one after each xdg-output
    done among them)."""

    def __init__(self):
        self.described = set()

    def __call__(self, iface, name, msg):
        if iface == 'wl_registry' and name == 'global':
            length = struct.unpack_from('<I', msg, 12)[0]
            if msg[16:16 + length - 1] == b'zxdg_output_manager_v1':
                return msg[:-4] + struct.pack('<I', min(2, struct.unpack_from('<I', msg, len(msg) - 4)[0]))
        if (iface, name) == ('wl_output', 'done'):
            output = struct.unpack_from('<I', msg)[0]
            if output in self.described:
                return None
            self.described.add(output)
        return msg


def frames_on(sway, places, cursor=False):
    """Polls until every output of `places` ((output, left, top, n): a whole
    viewport enlarged n times at (left, top) of the output's device pixels)
    shows the same rendered frame with black all around; `places` may name
    an output with no viewport (left None): all black. Returns the step."""
    last = {}

    def look():
        steps = set()
        for name, px, py, n in places:
            img = sway.grab(name, cursor)
            last[name] = img
            outside = black_mask(img).copy()
            if px is not None:
                crop = img[py:py + VIEW_H * n, px:px + VIEW_W * n]
                if crop.shape[:2] != (VIEW_H * n, VIEW_W * n) or not only_black_and_white(crop):
                    return None
                mask = black_mask(crop)
                small = mask[::n, ::n]
                if not np.array_equal(np.repeat(np.repeat(small, n, axis=0), n, axis=1), mask):
                    return None
                step = x11_e2e.renders().match(small, 0, 0)
                if step is None:
                    return None
                steps.add(step)
                outside[py:py + VIEW_H * n, px:px + VIEW_W * n] = True
            if not outside.all():
                return None
        return len(steps) == 1 and steps.pop()

    step = poll(look, 30, 0.1)
    if step is None or step is False:
        saved = [x11_e2e.save(img, 'no_frame_' + name) for name, img in last.items()]
        raise Failure('not the rendered frame on every output; last pictures in ' + ', '.join(saved))
    return step


# --- cases --------------------------------------------------------------------

def case_picture(sway):
    """One 1280 x 1024 output: the saver's layer surface shows the renderer's
    frame exactly, centred, black around it, and no pointer over it from the
    first capture on (the capture draws the pointer's image when there is
    one; the pointer already lies on the black border to come when the
    saver starts); Escape ends it. Forced onto an xdg_toplevel, the same,
    except that sway 1.7 may still draw its arrow over the first frame of a
    full-screen toplevel (the pointer's enter comes before that frame, and
    the saver hides the pointer there and then): from the second capture on."""
    for env, label, captures in (({}, 'layer shell', 1), ({'QUELLORA_WAYLAND_SHELL': 'xdg'}, 'xdg_toplevel', 2)):
        inp = Input(sway)
        inp.do('to 60 60 1280 1024')
        q = Quellora(sway, ['/s'], env)
        try:
            # The first capture with the saver's black in a corner: black
            # all around the picture, where the pointer is too.
            for _ in range(captures):
                first = poll(lambda: (lambda img: img if (img[1000:, 1260:] == 0).all() else None)(
                    sway.grab(cursor=True)), 30, 0.05)
                check(first is not None, label + ': the saver never covered the output')
            border = black_mask(first).copy()
            border[128:128 + VIEW_H, 128:128 + VIEW_W] = True
            if not border.all():
                raise Failure(label + ': the pointer shows in capture %d; see %s' % (captures, x11_e2e.save(first, 'pointer')))
            inp.do('to 600 500 1280 1024')
            step = frames_on(sway, [('HEADLESS-1', 128, 128, 1)], cursor=True)
            print('%s: the frame of step %d at (128, 128), black all around, no pointer' % (label, step))
            inp.do('key Escape')
            check(q.wait_exit() == 0, label + ': Escape did not end the saver cleanly: ' + q.error())
        finally:
            q.close()
            inp.close()


# Input in saver mode, the rules of every host: (moves outside the picture,
# moves over it, a click at, whether the saver still runs afterwards).
MOVES = [
    (8, 0, None, True),
    (9, 0, None, False),
    (0, 10, None, True),
    (0, 11, None, False),
    (0, 0, (60, 60), True),     # a click on the black border does nothing
    (0, 0, (600, 500), False),  # a click on the picture closes
]


def case_input(sway):
    inp = Input(sway)
    try:
        for outside, inside, click in [m[:3] for m in MOVES]:
            survives = [m for m in MOVES if m[:3] == (outside, inside, click)][0][3]
            # Where the pointer starts, before the saver is there to see it.
            inp.do('to 20 %d 1280 1024' % (20 if outside else 400))
            q = Quellora(sway, ['/s'])
            try:
                frames_on(sway, [('HEADLESS-1', 128, 128, 1)])
                moves = ['to %d 20 1280 1024' % (30 + 7 * i) for i in range(outside)]
                moves += ['to %d 400 1280 1024' % (300 + 7 * i) for i in range(inside)]
                if click:
                    moves += ['to %d %d 1280 1024' % click, 'button left']
                inp.do(*moves)
                label = '%d moves outside, %d over the picture, click %s' % (outside, inside, click)
                if survives:
                    check(q.still_runs_after_input(), label + ': the saver ended')
                    inp.do('key Escape')
                check(q.wait_exit() == 0, label + ': the saver did not end cleanly')
                print(label + (': runs on' if survives else ': ended'))
            finally:
                q.close()
        # Keys: a letter does nothing, Shift+Escape ends it (the key's unshifted symbol).
        q = Quellora(sway, ['/s'])
        try:
            frames_on(sway, [('HEADLESS-1', 128, 128, 1)])
            inp.do('key a')
            check(q.still_runs_after_input(), 'A ended the saver')
            inp.do('down Shift_L', 'key Escape', 'up Shift_L')
            check(q.wait_exit() == 0, 'Shift+Escape: the saver did not end cleanly')
            print('A: runs on; Shift+Escape: ended')
        finally:
            q.close()
    finally:
        inp.close()


def case_monitors(sway):
    """A 1280 x 1024 output at scale 1 and a 3840 x 2160 one at scale 2 to its
    right: the same frame on both, doubled on the big one (Scale=auto picks n
    from device pixels), and both go on (a later capture of each shows a
    later frame). Monitors=primary: the big one black. On full-screen
    xdg_toplevels instead of the layer shell, the same."""
    big = sway.add_output()
    sway.output(big, 3840, 2160, 2, 1280, 0)
    inp = Input(sway)
    try:
        both = [('HEADLESS-1', 128, 128, 1), (big, 896, 312, 2)]
        for settings, places, env, label in (
                ({}, both, {}, 'Monitors=all'),
                ({'Monitors': 'primary'}, [('HEADLESS-1', 128, 128, 1), (big, None, None, 1)], {}, 'Monitors=primary'),
                ({}, both, {'QUELLORA_WAYLAND_SHELL': 'xdg'}, 'Monitors=all, xdg_toplevel')):
            sway.write_settings(settings)
            q = Quellora(sway, ['/s'], env)
            try:
                inp.do('to 600 500 %d 1080' % (1280 + 1920))
                frames_on(sway, [('HEADLESS-1', 128, 128, 1)])
                # Space held: the picture stands still while grim takes the
                # outputs one after the other.
                inp.do('down space')
                step = frames_on(sway, places)
                inp.do('up space')
                print('%s: the frame of step %d, %s' % (label, step, places))
                for place in places:
                    if place[1] is not None:
                        later = poll(lambda: frames_on(sway, [place]) > step, 10, 0.1)
                        check(later, '%s: %s stands still' % (label, place[0]))
                inp.do('key Escape')
                check(q.wait_exit() == 0, label + ': Escape did not end the saver cleanly')
            finally:
                q.close()
    finally:
        inp.close()


def case_fractional(sway):
    """An output of 2880 x 1620 device pixels at scale 1.5: the buffer has its
    device pixels and the viewport shows them at the logical size, so the
    frame is exact, doubled (n from the device pixels). 2560 x 1440 at 1.5
    is 1706.67 logical pixels wide, which sway 1.7 resamples whatever the
    saver does: still every device pixel is the saver's, the last column too
    (black around the picture, never sway's grey)."""
    inp = Input(sway)
    try:
        sway.output('HEADLESS-1', 2560, 1440, 1.5, 0, 0)
        q = Quellora(sway, ['/s'])
        try:
            last = []

            def covered():
                img = sway.grab()
                last[:] = [img]
                black = black_mask(img)
                # The picture at (768, 336), a pixel or two of resampling around it.
                black[334:336 + VIEW_H + 2, 766:768 + VIEW_W + 2] = True
                return bool(img.shape[:2] == (1440, 2560) and black.all() and
                            not black_mask(img[336:336 + VIEW_H, 768:768 + VIEW_W]).all())
            if not poll(covered, 30, 0.2):
                raise Failure('2560x1440 at 1.5: not every device pixel black around the picture; the last in ' +
                              x11_e2e.save(last[0], 'not_covered') +
                              ('' if q.alive() else '; the saver ended with status %s' % q.proc.poll()))
            print('2560x1440 at scale 1.5: every device pixel covered, black around the picture')
        finally:
            q.close()
        sway.output('HEADLESS-1', 2880, 1620, 1.5, 0, 0)
        q = Quellora(sway, ['/s'])
        try:
            inp.do('motion 1 1')
            step = frames_on(sway, [('HEADLESS-1', 416, 42, 2)])
            print('scale 1.5: the frame of step %d doubled at (416, 42)' % step)
        finally:
            q.close()
    finally:
        inp.close()


def case_output_added(sway):
    """Outputs that change while the saver runs: one plugged in gets the
    picture too, the same frame as the first; switched to another mode or
    rotated, it is laid out for its new size; gone again (its layer surface
    closed, its global removed), the saver goes on with the rest. Space is
    held while grim takes the outputs one after the other, so the picture
    stands still."""
    inp = Input(sway)
    q = Quellora(sway, ['/s'])
    try:
        frames_on(sway, [('HEADLESS-1', 128, 128, 1)])
        new = sway.add_output()
        for change, places in (
                (lambda: sway.output(new, 1280, 1024, 1, 1280, 0), [('HEADLESS-1', 128, 128, 1), (new, 128, 128, 1)]),
                (lambda: sway.output(new, 1920, 1080, 1, 1280, 0), [('HEADLESS-1', 128, 128, 1), (new, 448, 156, 1)]),
                (lambda: sway.msg('output', new, 'transform', 90),
                 [('HEADLESS-1', 128, 128, 1), (new, 28, 576, 1)]),
                (lambda: sway.msg('output', new, 'disable'), [('HEADLESS-1', 128, 128, 1)])):
            change()
            check(q.alive(), 'the saver ended')
            inp.do('down space')
            step = frames_on(sway, places)
            inp.do('up space')
            print('the frame of step %d: %s' % (step, places))
        check(q.still_runs_after_input(), 'the saver ended when an output went')
    finally:
        q.close()
        inp.close()


def case_overlapping(sway):
    """A stand-in for a lock screen's nested server: every output reported at
    (0, 0) and no seat. Each output is laid out on its own and shows its own
    whole picture, exact: 1920 x 1080 at scale 1 the picture at (448, 156),
    2560 x 1600 at scale 2 the doubled one at (256, 32)."""
    sway.output('HEADLESS-1', 1920, 1080, 1, 0, 0)
    big = sway.add_output()
    sway.output(big, 2560, 1600, 2, 1920, 0)
    nested = HidingCompositor(sway, ['wl_seat'], at_origin, 'wayland-nested')
    q = Quellora(sway, ['/s'], {'WAYLAND_DISPLAY': nested.name})
    try:
        for place in (('HEADLESS-1', 448, 156, 1), (big, 256, 32, 2)):
            step = frames_on(sway, [place])
            print('every output at (0, 0): the frame of step %d at %s' % (step, place))
        check(q.alive(), 'the saver ended: ' + q.error())
    finally:
        q.close()
        nested.close()


def case_xdg_output_2(sway):
    """With xdg-output at version 2, an output plugged in while the saver
    runs learns its logical place after wl_output.done: it is laid out where
    it lies (to the right of the first) and shows its own picture, not one
    laid out at (0, 0) over the first's. (sway draws its arrow over the first
    output once an output is added, without a new enter for the saver to
    hide it: only the new one is looked at.)"""
    old = HidingCompositor(sway, [], XdgOutput2(), 'wayland-xdg-output-2')
    q = Quellora(sway, ['/s'], {'WAYLAND_DISPLAY': old.name})
    try:
        frames_on(sway, [('HEADLESS-1', 128, 128, 1)])
        # As it comes: sway's 1920 x 1080, placed to the right, no change after.
        new = sway.add_output()
        step = frames_on(sway, [(new, 448, 156, 1)])
        print('xdg-output 2, an output plugged in: the frame of step %d on it' % step)
    finally:
        q.close()
        old.close()


def case_plugin_output(sway):
    """Under a lock screen's plugin host the saver covers the one output that
    SWAYLOCK_PLUGIN_OUTPUT_NAME names and takes no input: Escape, a key, 15
    pointer moves over the picture and a click on it leave it running (the
    lock screen's prompt has them). SIGTERM, SIGINT and SIGHUP end it."""
    second = sway.add_output()
    sway.output(second, 1280, 1024, 1, 1280, 0)
    inp = Input(sway)
    try:
        inp.do('to 1270 1020 2560 1024')  # sway draws the pointer's image in the captures: in a corner
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            q = Quellora(sway, ['/s'], {'SWAYLOCK_PLUGIN_OUTPUT_NAME': second})
            try:
                step = frames_on(sway, [(second, 128, 128, 1)])
                # Sway's grey, but for the pointer's image, which sway draws in.
                check((sway.grab('HEADLESS-1') == 0x80).all(axis=2).mean() > 0.99, 'the output not named is covered')
                if sig == signal.SIGTERM:
                    print('SWAYLOCK_PLUGIN_OUTPUT_NAME=%s: the frame of step %d there, HEADLESS-1 left alone' %
                          (second, step))
                    inp.do('key Escape', 'key a', *['to %d 400 2560 1024' % (1280 + 300 + 7 * i) for i in range(15)])
                    inp.do('button left')
                    check(q.still_runs_after_input(), 'input ended the saver under the lock screen')
                    inp.do('to 1270 1020 2560 1024')  # the pointer's image off the picture again
                    print('Escape, A, 15 moves and a click: runs on')
                q.proc.send_signal(sig)
                check(q.wait_exit() == -sig, '%s did not end the saver' % signal.Signals(sig).name)
                print('%s: ended' % signal.Signals(sig).name)
            finally:
                q.close()
    finally:
        inp.close()


def saver_pids(sway):
    return [p for p in os.listdir('/proc') if p.isdigit() and program_of(p) == sway.bin['quellora']]


def program_of(pid):
    try:
        return os.path.realpath('/proc/%s/exe' % pid)
    except OSError:
        return None


def case_swayidle(sway):
    """swayidle starts the saver after its timeout; motion over the picture
    ends it."""
    need('swayidle')
    inp = Input(sway)
    log = open(os.path.join(ARGS.work, 'swayidle.log'), 'w')
    idle = subprocess.Popen(sway.as_user + ['swayidle', '-d', 'timeout', '1', sway.bin['quellora'] + ' /s'],
                            env=sway.env, cwd=sway.home, stdout=log, stderr=log, preexec_fn=die_with_parent)
    try:
        step = frames_on(sway, [('HEADLESS-1', 128, 128, 1)])
        pids = saver_pids(sway)
        check(len(pids) == 1, 'not one saver under swayidle: %s' % pids)
        print('swayidle started the saver (pid %s): the frame of step %d' % (pids[0], step))
        inp.do(*['to %d 400 1280 1024' % (300 + 7 * i) for i in range(12)])
        check(poll(lambda: not saver_pids(sway) or None, 20), 'motion over the picture did not end the saver')
        print('12 moves over the picture ended it')
    finally:
        stop(idle)
        log.close()
        inp.close()
        for pid in saver_pids(sway):
            os.kill(int(pid), signal.SIGTERM)


def case_missing_globals(sway):
    """Compositors that lack globals: without a seat or xdg_wm_base (a lock
    screen's plugin host) the saver shows its frame and ends on SIGINT;
    without the layer shell it takes a full-screen xdg_toplevel; without
    wp_viewporter the buffer scale does; without wl_shm it says so in one
    line and fails."""
    for hide, label in ((['wl_seat', 'xdg_wm_base'], 'no seat, no xdg_wm_base'),
                        (['zwlr_layer_shell_v1'], 'no layer shell')):
        hiding = HidingCompositor(sway, hide)
        q = Quellora(sway, ['/s'], {'WAYLAND_DISPLAY': hiding.name})
        try:
            step = frames_on(sway, [('HEADLESS-1', 128, 128, 1)])
            print('%s: the frame of step %d' % (label, step))
            q.proc.send_signal(signal.SIGINT)
            check(q.wait_exit() == -signal.SIGINT, label + ': SIGINT did not end the saver: ' + q.error())
        finally:
            q.close()
            hiding.close()
    # Without wp_viewporter a scale-2 output takes buffers of scale 2: still exact.
    sway.output('HEADLESS-1', 3840, 2160, 2, 0, 0)
    hiding = HidingCompositor(sway, ['wp_viewporter'])
    q = Quellora(sway, ['/s'], {'WAYLAND_DISPLAY': hiding.name})
    try:
        step = frames_on(sway, [('HEADLESS-1', 896, 312, 2)])
        print('no wp_viewporter, scale 2: the frame of step %d doubled at (896, 312)' % step)
    finally:
        q.close()
        hiding.close()
    hiding = HidingCompositor(sway, ['wl_shm'])
    q = Quellora(sway, ['/s'], {'WAYLAND_DISPLAY': hiding.name})
    try:
        rc = q.wait_exit()
        err = q.error()
        print('no wl_shm: status %d, %r' % (rc, err))
        check(rc == 1 and err.count('\n') == 1 and 'wl_shm' in err, 'not one line about wl_shm and status 1')
    finally:
        q.close()
        hiding.close()


def case_compositor_gone(sway):
    """A protocol error, and the compositor ending under the saver: one line,
    a failure status."""
    hiding = HidingCompositor(sway, [])
    q = Quellora(sway, ['/s'], {'WAYLAND_DISPLAY': hiding.name})
    try:
        frames_on(sway, [('HEADLESS-1', 128, 128, 1)])
        hiding.protocol_error(3, 'made up by the test')
        rc = q.wait_exit()
        err = q.error()
        print('protocol error: status %d, %r' % (rc, err))
        check(rc == 1 and err == 'quellora: Wayland protocol error: wl_display@1: error 3: made up by the test\n',
              'not the one line expected')
    finally:
        q.close()
        hiding.close()
    q = Quellora(sway, ['/s'])
    try:
        frames_on(sway, [('HEADLESS-1', 128, 128, 1)])
        stop(sway.proc)
        rc = q.wait_exit()
        err = q.error()
        print('compositor gone: status %d, %r' % (rc, err))
        check(rc == 1 and err.count('\n') == 1 and err.startswith('quellora: '), 'not one line and status 1')
    finally:
        q.close()


def case_errors(sway):
    """Forced onto Wayland without a compositor, or for a mode that needs X11:
    one line and a failure status; QUELLORA_BACKEND=x11 never asks Wayland."""
    cases = [
        (['/s'], {'QUELLORA_BACKEND': 'wayland', 'WAYLAND_DISPLAY': 'no-such-compositor'}, 'cannot connect'),
        (['/c'], {'QUELLORA_BACKEND': 'wayland'}, 'only the saver'),
        (['/s'], {'QUELLORA_BACKEND': 'x11', 'DISPLAY': ':9999'}, 'display'),
        (['/s'], {'QUELLORA_BACKEND': 'mir'}, 'QUELLORA_BACKEND'),
    ]
    for args, env, says in cases:
        q = Quellora(sway, args, env, name='errors')
        try:
            rc = q.wait_exit()
            err = q.error()
            print('%s %s: status %d, %r' % (' '.join(args), env, rc, err))
            check(rc == 1 and err.count('\n') == 1 and says in err, 'not the one line expected')
        finally:
            q.close()


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith('case_')}


def main():
    global ARGS
    p = argparse.ArgumentParser()
    for opt in ('--quellora', '--input', '--renders', '--render', '--work'):
        p.add_argument(opt, required=True)
    p.add_argument('case', choices=sorted(CASES))
    ARGS = p.parse_args()
    os.makedirs(ARGS.work, exist_ok=True)
    x11_e2e.ARGS = ARGS

    def make():
        need('sway', 'swaymsg', 'grim')
        need_test_user()
        return Sway()
    return run_case(make, CASES[ARGS.case])


if __name__ == '__main__':
    sys.exit(main())
