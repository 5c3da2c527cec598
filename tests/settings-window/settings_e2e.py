#!/usr/bin/env python3
"""End-to-end tests of the settings window, driven the way desktop test tools
drive real programs: through the accessibility bus (AT-SPI). Each case runs
quellora-settings on an Xvfb of its own (found with -displayfd), in a D-Bus
session of its own whose only service is the accessibility bus
(at-spi-bus-launcher), with its own configuration home and runtime folder.
Controls are found by their role and the name a screen reader says; keys
come from xdotool (XTest), pictures from the X server, compared with the
renderer's frames. Waits poll with generous deadlines; nothing is timed.

usage: settings_e2e.py --settings BIN --quellora BIN --helper BIN --renders DIR
                       --render BIN --work DIR [--screenshot PNG] CASE
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), 'x11'))
from e2e_common import (Failure, Skip, black_mask, check, die_with_parent, only_black_and_white, poll,  # noqa: E402
                        run_case, start_xvfb, stop)
import x11_e2e  # noqa: E402  (the renderer's frames, the helper's screen grabs)

SCREEN_W, SCREEN_H = 1280, 1024
VIEW_W, VIEW_H = 1024, 768
CARD = (352, 264, 672, 504)  # the title card's place in the viewport: left, top, right, bottom
ARGS = None
pyatspi = None  # imported once the test's own buses are set up


# --- the session: X server, D-Bus, the accessibility bus, the window --------------

class Session:
    def __init__(self, width=SCREEN_W, height=SCREEN_H):
        self.procs = []
        self.logs = open(os.path.join(ARGS.work, 'session.log'), 'w')
        xvfb, self.display = start_xvfb(width, height, self.logs)
        self.procs.append(xvfb)
        # A D-Bus session whose one service is the accessibility bus: no
        # desktop portal or other service of the machine's starts in it.
        bus = os.path.join(ARGS.work, 'bus')
        os.makedirs(os.path.join(bus, 'services'), exist_ok=True)
        shutil.copy('/usr/share/dbus-1/services/org.a11y.Bus.service', os.path.join(bus, 'services'))
        with open(os.path.join(bus, 'session.conf'), 'w') as f:
            f.write('<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"\n'
                    ' "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n'
                    '<busconfig><type>session</type><listen>unix:dir=%s</listen>'
                    '<servicedir>%s</servicedir><policy context="default"><allow send_destination="*" eavesdrop="true"/>'
                    '<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>\n' % (bus, os.path.join(bus, 'services')))
        self.config = os.path.join(ARGS.work, 'config')
        self.runtime = os.path.join(ARGS.work, 'runtime')
        for folder in (self.config, self.runtime):
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder, mode=0o700)
        # The services it starts (the accessibility bus) keep their sockets in
        # this runtime folder, not in one that cases running beside it share.
        daemon = subprocess.Popen(['dbus-daemon', '--config-file=' + os.path.join(bus, 'session.conf'), '--nofork',
                                   '--print-address=1'], stdout=subprocess.PIPE, stderr=self.logs, text=True,
                                  env=dict(os.environ, XDG_RUNTIME_DIR=self.runtime, DISPLAY=self.display),
                                  preexec_fn=die_with_parent)
        self.procs.append(daemon)
        address = daemon.stdout.readline().strip()
        check(address, 'dbus-daemon did not start')
        self.env = dict(os.environ, DISPLAY=self.display, DBUS_SESSION_BUS_ADDRESS=address,
                        XDG_CONFIG_HOME=self.config, XDG_RUNTIME_DIR=self.runtime, QUELLORA_BACKEND='x11',
                        NO_AT_BRIDGE='0', GTK_A11Y='atspi')
        for name in ('WAYLAND_DISPLAY', 'WAYLAND_SOCKET', 'XSCREENSAVER_WINDOW', 'AT_SPI_BUS_ADDRESS'):
            self.env.pop(name, None)
        # The test's own AT-SPI client talks to this session.
        os.environ.clear()
        os.environ.update(self.env)
        global pyatspi
        if pyatspi is None:
            import pyatspi as module
            pyatspi = module
        self.x = argparse.Namespace(env=self.env)
        self.window = None

    def settings_path(self):
        return os.path.join(self.config, 'Orvandel', 'settings.ini')

    def write_settings(self, text):
        os.makedirs(os.path.dirname(self.settings_path()), exist_ok=True)
        with open(self.settings_path(), 'wb') as f:
            f.write(text)

    def read_settings(self):
        with open(self.settings_path(), 'rb') as f:
            return f.read()

    def start(self):
        self.window = Window(self)
        return self.window

    def key(self, *keys):
        subprocess.run(['xdotool', 'key', '--delay', '60'] + list(keys), env=self.env, check=True)

    def type(self, text):
        subprocess.run(['xdotool', 'type', '--delay', '60', text], env=self.env, check=True)

    def grab(self):
        return x11_e2e.grab(self.x)

    def close(self):
        if self.window:
            self.window.close()
        for p in reversed(self.procs):
            stop(p)
        self.logs.close()


def descendants(node):
    for child in node:
        if child is None:
            continue
        yield child
        yield from descendants(child)


class Window:
    """quellora-settings, and its accessible controls."""

    def __init__(self, session):
        self.session = session
        self.err = open(os.path.join(ARGS.work, 'quellora-settings.err'), 'w+')
        self.proc = subprocess.Popen([ARGS.settings], env=session.env, stdout=subprocess.DEVNULL, stderr=self.err,
                                     preexec_fn=die_with_parent)
        self.frame = poll(self.find_frame, 30, 0.2)
        check(self.frame is not None, 'the settings window did not show on the accessibility bus; see ' +
              self.err.name)
        # Keys go to the window: no window manager gives it the focus.
        subprocess.run(['xdotool', 'search', '--sync', '--onlyvisible', '--name', '^Quellora Screen Saver$', 'windowfocus', '--sync'],
                       env=session.env, stdout=subprocess.DEVNULL, check=True)

    def find_frame(self):
        check(self.proc.poll() is None, 'quellora-settings ended (%s); see %s' % (self.proc.returncode, self.err.name))
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is None:
                continue
            try:
                if app.get_process_id() != self.proc.pid:
                    continue
            except Exception:
                continue
            for frame in app:
                if frame is not None and frame.getRoleName() == 'frame' and frame.name == 'Quellora Screen Saver':
                    return frame
        return None

    def control(self, role, name):
        """The control of that role and accessible name."""
        def look():
            for node in descendants(self.frame):
                if node.getRoleName() == role and node.name == name:
                    return node
            return None
        found = poll(look, 20, 0.2)
        check(found is not None, 'no %s named %r in the window' % (role, name))
        return found

    def controls(self):
        """Every control a user acts on: (role, name), in the tree's order."""
        roles = {'push button', 'check box', 'spin button', 'combo box', 'toggle button'}
        found = []
        for node in descendants(self.frame):
            if node.getRoleName() in roles and node.parent.getRoleName() != 'combo box':
                found.append((node.getRoleName(), node.name))
        return found

    def focused(self):
        for node in descendants(self.frame):
            if node.getState().contains(pyatspi.STATE_FOCUSED):
                return node
        return None

    def message(self):
        """The text of the bar over the controls, or None while it is hidden."""
        for node in descendants(self.frame):
            if node.getRoleName() == 'label' and node.getState().contains(pyatspi.STATE_VISIBLE):
                text = node.name or ''
                if text.startswith('Quellora can') or text.startswith('The screen saver did not'):
                    return text
        return None

    def press(self, role, name):
        node = self.control(role, name)
        action = node.queryAction()
        action.doAction(0)
        return node

    def extents(self, node):
        e = node.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        return e.x, e.y, e.width, e.height

    def close(self):
        stop(self.proc)
        self.err.close()


# --- the preview against the renderer's frames -------------------------------------

def fit_preview(area_w, area_h, screen_w, screen_h):
    """The preview's size, as the window fits it (settings-window/preview_picture.cpp)."""
    if area_w * screen_h <= area_h * screen_w:
        w = min(area_w, screen_w)
        h = w * screen_h // screen_w
    else:
        h = min(area_h, screen_h)
        w = h * screen_w // screen_h
    return max(w, 1), max(h, 1)


def source_of(i, preview, screen):
    return (2 * i + 1) * screen // (2 * preview)


def centred(area, n):
    left, top, right, bottom = area
    w, h = VIEW_W * n, VIEW_H * n
    return left + (right - left - w) // 2, top + (bottom - top - h) // 2, n


def preview_sampling(pw, ph, screen_w, screen_h, viewports):
    """For each preview pixel, the viewport picture's pixel it shows: (row,
    column) arrays, -1 where the screen is black there. `viewports`: (left,
    top, n) in the screen's pixels, painted in that order."""
    xs = np.array([source_of(i, pw, screen_w) for i in range(pw)])
    ys = np.array([source_of(i, ph, screen_h) for i in range(ph)])
    sx, sy = np.meshgrid(xs, ys)
    fx = np.full(sx.shape, -1)
    fy = np.full(sx.shape, -1)
    for left, top, n in viewports:
        inside = (sx >= left) & (sx < left + VIEW_W * n) & (sy >= top) & (sy < top + VIEW_H * n) & \
            (sx >= 0) & (sx < screen_w) & (sy >= 0) & (sy < screen_h)
        fx[inside] = (sx[inside] - left) // n
        fy[inside] = (sy[inside] - top) // n
    return fy, fx


def preview_step(session, window, screen_w, screen_h, viewports, shots=None):
    """Polls until the preview shows a frame of the renderer exactly as the
    saver would on a screen of screen_w x screen_h with `viewports`, made
    small; returns the step. The title card may stand over the frame."""
    preview = window.control('image', 'Preview')
    ax, ay, aw, ah = window.extents(preview)
    pw, ph = fit_preview(aw, ah, screen_w, screen_h)
    px, py = ax + (aw - pw) // 2, ay + (ah - ph) // 2
    fy, fx = preview_sampling(pw, ph, screen_w, screen_h, viewports)
    shown = fx >= 0
    renders = x11_e2e.renders()
    # Every frame of the sweep at those pixels: N x ph x pw, True = black.
    bits = renders.frames[:, np.where(shown, fy, 0), np.where(shown, fx, 0) // 8]
    expected = (bits >> (7 - np.where(shown, fx, 0) % 8)) & 1 == 1
    expected[:, ~shown] = True
    cl, ct, cr, cb = CARD
    card = shown & (fx >= cl) & (fx < cr) & (fy >= ct) & (fy < cb)
    title = renders.title[np.where(shown, fy, 0), np.where(shown, fx, 0)]
    last = [None]

    def look():
        img = session.grab()
        last[0] = img
        crop = img[py:py + ph, px:px + pw]
        if crop.shape[:2] != (ph, pw) or not only_black_and_white(crop):
            return None
        black = black_mask(crop)
        outside = (expected[:, ~card] == black[~card]).all(axis=1)
        for step in np.nonzero(outside)[0]:
            if (expected[step][card] == black[card]).all() or (title[card] == black[card]).all():
                if shots is not None:
                    shots.append(img)
                return int(step)
        return None

    step = poll(look, 40, 0.2)
    if step is None:
        raise Failure('the preview (%dx%d at %d,%d) shows no frame of the saver; last screen in %s' %
                      (pw, ph, px, py, x11_e2e.save(last[0], 'no_preview')))
    return step


# --- the watcher -------------------------------------------------------------------

def running_watcher(session):
    """The pid of this session's idle watcher, from its lock file, or None."""
    for name in os.listdir(session.runtime):
        if name.startswith('quellora-idle') and name.endswith('.lock'):
            text = open(os.path.join(session.runtime, name)).read().strip()
            if text.isdigit() and os.path.exists('/proc/%s' % text):
                cmd = open('/proc/%s/cmdline' % text, 'rb').read().split(b'\0')
                if len(cmd) > 1 and cmd[1] == b'--idle':
                    return int(text)
    return None


def children_of(pid):
    found = []
    for entry in os.listdir('/proc'):
        if entry.isdigit():
            try:
                stat = open('/proc/%s/stat' % entry).read()
            except OSError:
                continue
            if int(stat.rsplit(')', 1)[1].split()[1]) == pid:
                found.append(int(entry))
    return found


# --- cases --------------------------------------------------------------------------

def case_names_and_keys(session):
    """Every control has a name a screen reader says; Tab goes through them
    in the window's order, and each label's mnemonic (Alt and its letter)
    reaches its control, with the keyboard alone."""
    window = session.start()
    controls = window.controls()
    print('controls: %s' % controls)
    expected = [('push button', 'Test'), ('check box', 'Start when idle'), ('spin button', 'Wait'),
                ('combo box', 'Picture size'), ('combo box', 'Monitors')]
    check(controls == expected, 'the controls and their names: %s' % controls)
    for role, name in controls:
        check(name, 'a %s without a name' % role)
    check(window.control('image', 'Preview').description, 'the preview has no description')
    def control_of(node):
        # The control a focused part belongs to (a drop-down's button, or an
        # item of its open list).
        while node is not None and (node.getRoleName() not in ('push button', 'check box', 'spin button',
                                                               'combo box') or node.name == 'GtkToggleButton'):
            node = node.parent
        return node and node.name

    # The window opens with the focus on its first control; Tab goes on.
    order = [poll(lambda: control_of(window.focused()), 10, 0.1)]
    for _ in range(len(expected) - 1):
        session.key('Tab')
        order.append(poll(lambda: control_of(window.focused()) not in order[-1:] and control_of(window.focused()),
                          10, 0.1))
    print('Tab goes through: %s' % order)
    check(order == [name for _, name in expected], 'the focus order is %s' % order)
    # Test's mnemonic runs the saver, from the keyboard.
    session.key('alt+t')
    check(poll(lambda: children_of(window.proc.pid) or None, 20, 0.2), 'Alt+T ran no saver')
    x11_e2e.frame_at(session.x, 128, 128)  # on screen, and so taking the keys
    session.key('Escape')
    check(poll(lambda: not children_of(window.proc.pid), 20, 0.2), 'Escape did not end the saver')
    print('Alt+T runs the saver; Escape ends it')
    # The switch's mnemonic flips it, as a check box's does, and again.
    switch = window.control('check box', 'Start when idle')
    for on in (True, False):
        session.key('alt+s')
        check(poll(lambda: switch.getState().contains(pyatspi.STATE_CHECKED) == on, 10, 0.1),
              'Alt+S does not turn the switch %s' % ('on' if on else 'off'))
    for keys, name in (('alt+w', 'Wait'), ('alt+p', 'Picture size'), ('alt+m', 'Monitors'), ('alt+w', 'Wait')):
        session.key(keys)
        check(poll(lambda: control_of(window.focused()) == name, 10, 0.1), '%s does not reach %s' % (keys, name))
        if name in ('Picture size', 'Monitors'):
            # Its list opens; Escape closes it again, nothing chosen.
            def in_list():
                node = window.focused()
                return node is not None and node.getRoleName() == 'list item' and control_of(node) == name
            check(poll(in_list, 10, 0.1), '%s does not open the list of %s' % (keys, name))
            session.key('Escape')
            check(poll(lambda: not in_list() and control_of(window.focused()) == name, 10, 0.1),
                  'Escape does not close the list of %s' % name)
    print('the mnemonics reach their controls')


def case_switch(session):
    """The switch writes the autostart entry and starts this session's
    watcher now, which follows a new Wait; off, it removes the entry and ends
    the watcher (and its saver)."""
    entry = os.path.join(session.config, 'autostart', 'quellora-idle.desktop')
    window = session.start()
    switch = window.control('check box', 'Start when idle')
    check(not switch.getState().contains(pyatspi.STATE_CHECKED), 'the switch is on with no entry')
    window.press('check box', 'Start when idle')
    check(poll(lambda: os.path.exists(entry), 20, 0.2), 'switched on: no %s' % entry)
    text = open(entry).read()
    check('Exec=%s --idle\n' % os.path.realpath(ARGS.quellora) in text, 'the entry runs something else:\n' + text)
    watcher = poll(lambda: running_watcher(session), 20, 0.2)
    check(watcher, 'switched on: no idle watcher runs')
    check(watcher not in children_of(window.proc.pid), 'the watcher is a child of the window')
    check(os.getsid(watcher) != os.getsid(window.proc.pid), 'the watcher is in the window\'s session')
    check(poll(lambda: switch.getState().contains(pyatspi.STATE_CHECKED), 10, 0.1), 'the switch shows off')
    print('on: %s written, watcher %d runs in a session of its own' % (entry, watcher))
    # The running watcher follows a new Wait: from 10 minutes to 1, it starts
    # the saver once the session has been idle a minute (no input from here).
    session.key('alt+w', 'ctrl+a')
    session.type('1')
    session.key('Tab')
    check(poll(lambda: b'IdleTimeout=60' in session.read_settings(), 10, 0.1), 'Wait 1: not in the file')
    saver = poll(lambda: children_of(watcher) or None, 120, 0.5)
    check(saver, 'the watcher started no saver within 2 minutes of a Wait of 1 minute')
    print('Wait 1 minute: the running watcher started the saver (%s) after a minute of idle time' % saver)
    window.press('check box', 'Start when idle')
    check(poll(lambda: not os.path.exists(entry), 20, 0.2), 'switched off: %s is still there' % entry)
    check(poll(lambda: not os.path.exists('/proc/%d' % watcher) or
               open('/proc/%d/stat' % watcher).read().rsplit(')', 1)[1].split()[0] == 'Z', 20, 0.2),
          'switched off: the watcher %d still runs' % watcher)
    check(window.message() is None, 'a message: %s' % window.message())
    print('off: the entry removed, the watcher ended')
    # A window opened anew shows the switch as the entry is.
    window.press('check box', 'Start when idle')
    check(poll(lambda: os.path.exists(entry), 20, 0.2), 'switched on again: no entry')
    window.close()
    window = session.start()
    check(window.control('check box', 'Start when idle').getState().contains(pyatspi.STATE_CHECKED),
          'a new window shows the switch off while the entry is there')
    window.press('check box', 'Start when idle')
    check(poll(lambda: not os.path.exists(entry), 20, 0.2), 'switched off: the entry is still there')


def case_values(session):
    """Wait, Picture size and Monitors, with the keyboard: each change is in
    the file at once, every other byte of it kept, and the preview shows the
    saver's frame exactly, before and after."""
    # One monitor: GDK, whose monitors the preview follows, leaves out the
    # monitors a client sets on Xvfb (RandR monitors without an output),
    # which the X11 saver counts.
    screen_w = SCREEN_W
    before = b'; my settings\r\n[Other]\r\nKeep = this \r\n[ScreenSaverSample]\r\nDispStr=mine\r\nIdleTimeout=90\r\n'
    session.write_settings(before)
    window = session.start()
    # IdleTimeout=90 shows as 2 minutes, and the file stays as it is.
    wait = window.control('spin button', 'Wait')
    check(wait.queryValue().currentValue == 2, 'IdleTimeout=90 shows as %s minutes' % wait.queryValue().currentValue)
    shots = []
    step = preview_step(session, window, screen_w, SCREEN_H, [(128, 128, 1)], shots)
    check(session.read_settings() == before, 'the file changed before any change')
    print('preview: the frame of step %d, exact' % step)

    session.key('alt+w', 'ctrl+a')
    session.type('3')
    session.key('Tab')
    want = before.replace(b'IdleTimeout=90', b'IdleTimeout=180')
    check(poll(lambda: session.read_settings() == want, 20, 0.2),
          'Wait 3: the file holds %r' % session.read_settings())
    print('Wait 3 minutes: IdleTimeout=180, every other byte kept')

    # Picture size 2x: its mnemonic opens the list, two down from Automatic, Return.
    session.key('alt+p')
    time.sleep(1)
    session.key('Down', 'Down', 'Return')
    want = want + b'Scale=2\r\n'
    check(poll(lambda: session.read_settings() == want, 20, 0.2),
          'Picture size 2x: the file holds %r' % session.read_settings())
    session.key('alt+m')
    time.sleep(1)
    session.key('Down', 'Return')
    want = want + b'Monitors=primary\r\n'
    check(poll(lambda: session.read_settings() == want, 20, 0.2),
          'Monitors primary: the file holds %r' % session.read_settings())
    print('Picture size 2x and the primary monitor only: Scale=2, Monitors=primary')
    # The picture doubled and centred, cut by the monitor's edges.
    step = preview_step(session, window, screen_w, SCREEN_H,
                        [((SCREEN_W - 2 * VIEW_W) // 2, (SCREEN_H - 2 * VIEW_H) // 2, 2)], shots)
    print('preview: the frame of step %d doubled, exact' % step)
    check(window.message() is None, 'a message: %s' % window.message())
    if ARGS.screenshot:
        # The window as it shows, for the README.
        x, y, w, h = window.extents(window.frame)
        from PIL import Image
        Image.fromarray(np.ascontiguousarray(shots[0][y:y + h, x:x + w])).save(ARGS.screenshot, optimize=True)
        print('screenshot: %s' % ARGS.screenshot)


def case_test(session):
    """Test runs the saver (the X11 saver on this X server); Escape ends it."""
    window = session.start()
    window.press('push button', 'Test')
    saver = poll(lambda: children_of(window.proc.pid) or None, 20, 0.2)
    check(saver, 'Test ran nothing')
    cmd = open('/proc/%d/cmdline' % saver[0], 'rb').read().split(b'\0')
    check(cmd[1:3] == [b'/s', b''], 'Test ran %s' % cmd)
    step = x11_e2e.frame_at(session.x, 128, 128)
    print('Test: the saver runs full screen, the frame of step %d at (128, 128)' % step)
    session.key('Escape')
    check(poll(lambda: not children_of(window.proc.pid), 20, 0.2), 'Escape did not end the saver')
    check(window.message() is None, 'a message after the saver ended: %s' % window.message())
    print('Escape ended it; no message')


def case_folder(session):
    """A folder where the settings file should be: the window says so, keeps
    the change, and saves it once the folder is gone."""
    os.makedirs(session.settings_path())
    window = session.start()
    message = poll(window.message, 20, 0.2)
    check(message and 'it is a folder' in message, 'no message about the folder: %r' % message)
    print('message: %s' % message)
    session.key('alt+p')
    time.sleep(1)
    session.key('Down', 'Down', 'Down', 'Return')
    message = poll(lambda: 'can\'t save' in (window.message() or '') and window.message(), 20, 0.2)
    check(message, 'a change that could not be saved gives no message: %r' % window.message())
    check(os.path.isdir(session.settings_path()), 'the folder is gone')
    print('changed, not saved: %s' % message)
    os.rmdir(session.settings_path())
    window.press('push button', 'Try Again')
    check(poll(lambda: os.path.isfile(session.settings_path()), 20, 0.2), 'Try Again saved nothing')
    check(session.read_settings() == b'[ScreenSaverSample]\nScale=3\n', 'the file holds %r' % session.read_settings())
    check(poll(lambda: window.message() is None, 20, 0.2), 'the message stays: %s' % window.message())
    check(window.control('combo box', 'Picture size') is not None, '')
    print('the folder moved away, Try Again: Scale=3 saved, the message gone')


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith('case_')}


def main():
    global ARGS
    p = argparse.ArgumentParser()
    for opt in ('--settings', '--quellora', '--helper', '--renders', '--render', '--work'):
        p.add_argument(opt, required=True)
    p.add_argument('--screenshot', help='where the values case keeps a picture of the window')
    p.add_argument('case', choices=sorted(CASES))
    ARGS = p.parse_args()
    os.makedirs(ARGS.work, exist_ok=True)
    x11_e2e.ARGS = argparse.Namespace(helper=ARGS.helper, work=ARGS.work, render=ARGS.render, renders=ARGS.renders)

    def make():
        for tool in ('Xvfb', 'xdotool', 'dbus-daemon'):
            if not shutil.which(tool):
                raise Skip('%s is not installed' % tool)
        if not os.path.exists('/usr/share/dbus-1/services/org.a11y.Bus.service'):
            raise Skip('the accessibility bus is not installed (apt install at-spi2-core)')
        try:
            import pyatspi  # noqa: F401
        except ImportError:
            raise Skip('pyatspi is not installed (apt install python3-pyatspi)')
        return Session()
    return run_case(make, CASES[ARGS.case])

if __name__ == '__main__':
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
