#!/usr/bin/env python3
"""End-to-end tests of `quellora --idle`, the watcher that starts the saver
when the session is idle: on a headless sway (org_kde_kwin_idle, input from
wlinput, an idle inhibitor from wlinhibit), on a headless Mutter in a D-Bus
session of its own (GNOME's idle monitor, input through its RemoteDesktop
interface), on an Xvfb without an XScreenSaver daemon (MIT-SCREEN-SAVER,
input from xdotool), and on a stand-in compositor that offers
ext_idle_notifier_v1 (which the sway of Debian 12 does not). Compositors run as the test user when run as root.
Waits poll with generous deadlines; nothing is timed.

usage: idle_e2e.py --quellora BIN --input BIN --inhibit BIN --renders DIR
                   --render BIN --work DIR CASE
"""
import argparse
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
sys.path.insert(0, TESTS)
sys.path.insert(0, os.path.join(TESTS, 'wayland'))
sys.path.insert(0, os.path.join(TESTS, 'x11'))
from e2e_common import Failure, check, die_with_parent, poll, start_xvfb, stop  # noqa: E402
import wayland_e2e  # noqa: E402  (the headless sway, wlinput, the saver's frames on an output)
from wayland_e2e import Input, Quellora, Sway, frames_on  # noqa: E402

ARGS = None
XK_a = 0x61


def savers(host, watcher):
    """The pids of the savers the watcher runs (its children running quellora)."""
    found = []
    for pid in os.listdir('/proc'):
        if not pid.isdigit():
            continue
        try:
            with open('/proc/%s/stat' % pid) as f:
                ppid = int(f.read().rsplit(')', 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        # setpriv execs the program: the watcher is the process started.
        if ppid == watcher.proc.pid and wayland_e2e.program_of(pid) == host.bin['quellora']:
            found.append(int(pid))
    return found


def gone(pid):
    return not os.path.exists('/proc/%d' % pid)


def lock_of(host):
    """The watcher's lock on a host: one for each display it serves."""
    display = host.env.get('WAYLAND_DISPLAY') or re.sub(r'\.\d+$', '', host.env.get('DISPLAY', ''))
    return os.path.join(host.runtime, 'quellora-idle@%s.lock' % display)


def one_saver(host, watcher, label):
    """Polls until the watcher runs one saver that draws; its pid."""
    pids = poll(lambda: savers(host, watcher) or None, 30, 0.1)
    check(pids, label + ': the watcher started no saver: ' + watcher.error())
    check(len(pids) == 1, label + ': more than one saver: %s' % pids)
    seen = watcher.frames_drawn()
    check(poll(lambda: watcher.frames_drawn() > seen + 5, 20), label + ': the saver draws no frames')
    return pids[0]


def no_saver(host, watcher, label, timeout=20):
    check(poll(lambda: not savers(host, watcher), timeout, 0.1), label + ': the saver still runs')


class Watcher(Quellora):
    """quellora --idle SECONDS (or, with None, the settings' IdleTimeout) on a
    host; the saver it starts inherits the frame log."""

    def __init__(self, host, seconds, env=None, name='watcher'):
        super().__init__(host, ['--idle'] + ([str(seconds)] if seconds else []), env, name)


def copy_for(host, name, path):
    host.bin[name] = os.path.join(host.home, name)
    shutil.copy(path, host.bin[name])
    os.chmod(host.bin[name], 0o755)


# --- sway -----------------------------------------------------------------------

def case_sway(sway):
    """With a virtual keyboard present: after the timeout the saver covers
    the output; a key it ignores ends it through the watcher (the session is
    active again); the next idle period starts it again; Escape ends it by
    itself and the watcher goes on; SIGTERM ends the watcher and its saver."""
    inp = Input(sway)
    w = Watcher(sway, 2)
    try:
        first = one_saver(sway, w, 'first idle period')
        step = frames_on(sway, [('HEADLESS-1', 128, 128, 1)])
        print('idle 2 s: saver %d covers HEADLESS-1 with the frame of step %d' % (first, step))
        inp.do('key a')
        no_saver(sway, w, 'a key (the session active again)')
        check(w.alive(), 'the watcher ended with its saver: ' + w.error())
        print('a key: the watcher ended the saver')
        second = one_saver(sway, w, 'second idle period')
        check(second != first, 'the same saver again')
        frames_on(sway, [('HEADLESS-1', 128, 128, 1)])
        print('the next idle period: saver %d' % second)
        inp.do('key Escape')
        no_saver(sway, w, 'Escape')
        third = one_saver(sway, w, 'third idle period')
        print('Escape ended saver %d; the next idle period started saver %d' % (second, third))
        w.proc.send_signal(signal.SIGTERM)
        check(w.wait_exit() == -signal.SIGTERM, 'SIGTERM did not end the watcher: ' + w.error())
        check(gone(third), 'the saver outlived the watcher')
        check(w.error() == '', 'the watcher said: %r' % w.error())
        print('SIGTERM ended the watcher and saver %d' % third)
    finally:
        w.close()
        inp.close()


def case_sway_inhibit(sway):
    """A visible window holding an idle inhibitor keeps the saver from
    starting; once it is gone, the saver starts after the timeout."""
    copy_for(sway, 'wlinhibit', ARGS.inhibit)
    if sway.user:
        os.chown(sway.bin['wlinhibit'], sway.user.pw_uid, sway.user.pw_gid)
    inhibitor = subprocess.Popen(sway.as_user + [sway.bin['wlinhibit']], env=sway.env, cwd=sway.home,
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, preexec_fn=die_with_parent)
    w = None
    try:
        check(inhibitor.stdout.readline().strip() == 'ready', 'wlinhibit did not start')
        w = Watcher(sway, 1)
        # Five timeouts without a saver: the inhibitor holds.
        end = time.monotonic() + 5
        while time.monotonic() < end:
            check(not savers(sway, w), 'the saver started under an idle inhibitor')
            time.sleep(0.1)
        check(w.alive(), 'the watcher ended: ' + w.error())
        print('an inhibitor on a visible window: no saver in 5 s of a 1 s timeout')
        inhibitor.stdin.close()
        inhibitor.wait(10)
        pid = one_saver(sway, w, 'the inhibitor gone')
        print('the inhibitor gone: saver %d' % pid)
    finally:
        if w:
            w.close()
        stop(inhibitor)


def case_sway_once(sway):
    """One watcher per session: a second one says so in one line and fails;
    SIGINT and SIGHUP end the watcher and its saver like SIGTERM; the
    compositor gone, one line and status 1."""
    w = Watcher(sway, 1)
    try:
        one_saver(sway, w, 'the first watcher')
        second = Watcher(sway, 1, name='second')
        try:
            rc = second.wait_exit()
            err = second.error()
            print('a second watcher: status %d, %r' % (rc, err))
            check(rc == 1 and err.count('\n') == 1 and 'already' in err and 'pid %d' % w.proc.pid in err,
                  'not one line naming the first watcher')
            check(len(savers(sway, w)) == 1, 'not one saver')
        finally:
            second.close()
    finally:
        w.close()
    for sig in (signal.SIGINT, signal.SIGHUP):
        w = Watcher(sway, 1)
        try:
            pid = one_saver(sway, w, sig.name)
            w.proc.send_signal(sig)
            check(w.wait_exit() == -sig, '%s did not end the watcher: %s' % (sig.name, w.error()))
            check(gone(pid), sig.name + ': the saver outlived it')
            print('%s: the watcher and saver %d ended' % (sig.name, pid))
        finally:
            w.close()
    w = Watcher(sway, 600)
    try:
        check(poll(lambda: w.proc.poll() is None and os.path.exists(lock_of(sway)) or None, 10),
              'the watcher did not start')
        time.sleep(0.5)
        stop(sway.proc)
        rc = w.wait_exit()
        err = w.error()
        print('compositor gone: status %d, %r' % (rc, err))
        check(rc == 1 and err.count('\n') == 1 and err.startswith('quellora: '), 'not one line and status 1')
    finally:
        w.close()


# --- Mutter ---------------------------------------------------------------------

class Mutter:
    """A headless Mutter as the test user, in a D-Bus session of its own,
    with its own runtime folder; it answers to what Sway does for the
    watcher (as_user, env, bin, home, user)."""

    def __init__(self):
        self.user = wayland_e2e.test_user()
        self.home = tempfile.mkdtemp(prefix='quellora-mutter-')
        self.runtime = os.path.join(self.home, 'runtime')
        os.makedirs(self.runtime, mode=0o700)
        self.bin = {}
        copy_for(self, 'quellora', ARGS.quellora)
        copy_for(self, 'rdinput', os.path.join(HERE, 'rdinput.py'))
        copy_for(self, 'fake_session', os.path.join(HERE, 'fake_session.py'))
        script = os.path.join(self.home, 'session')
        with open(script, 'w') as f:
            # The bus's address and Mutter's pid for the test; the session
            # ends with Mutter.
            f.write('#!/bin/sh\necho "$DBUS_SESSION_BUS_ADDRESS" > "$HOME/bus.tmp" && mv "$HOME/bus.tmp" "$HOME/bus"\n'
                    'mutter --headless --wayland --no-x11 --virtual-monitor 1280x1024 &\n'
                    'echo $! > "$HOME/mutter.pid"\nwait\n')
        os.chmod(script, 0o755)
        self.settings = os.path.join(self.home, 'config-home')
        os.makedirs(self.settings)
        os.chmod(self.home, 0o755)
        if self.user:
            for root, dirs, files in os.walk(self.home):
                for n in [root] + [os.path.join(root, d) for d in dirs] + [os.path.join(root, f) for f in files]:
                    os.chown(n, self.user.pw_uid, self.user.pw_gid)
        self.as_user = (['setpriv', '--reuid', wayland_e2e.USER, '--regid', wayland_e2e.USER, '--init-groups',
                         '--pdeathsig', 'KILL', '--'] if self.user else [])
        self.env = {'PATH': os.environ.get('PATH', '/usr/bin:/bin'), 'HOME': self.home, 'XDG_RUNTIME_DIR': self.runtime,
                    'XDG_CONFIG_HOME': self.settings, 'LANG': 'C.UTF-8'}
        self.log = open(os.path.join(ARGS.work, 'mutter.log'), 'w')
        self.proc = subprocess.Popen(self.as_user + ['dbus-run-session', '--', script], env=self.env, cwd=self.home,
                                     stdout=self.log, stderr=self.log, preexec_fn=die_with_parent)
        try:
            ready = poll(lambda: os.path.exists(os.path.join(self.home, 'bus')) and
                         os.path.exists(os.path.join(self.runtime, 'wayland-0')) or None, 60, 0.1)
            check(ready and self.proc.poll() is None, 'Mutter did not start; see ' + self.log.name)
            self.env['DBUS_SESSION_BUS_ADDRESS'] = open(os.path.join(self.home, 'bus')).read().strip()
            self.env['WAYLAND_DISPLAY'] = 'wayland-0'
            self.mutter = int(open(os.path.join(self.home, 'mutter.pid')).read())
        except BaseException:
            self.close()
            raise

    def close(self):
        if self.proc.poll() is None and os.path.exists(os.path.join(self.home, 'mutter.pid')):
            try:
                os.kill(int(open(os.path.join(self.home, 'mutter.pid')).read()), signal.SIGTERM)
            except (OSError, ValueError):
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                pass
        stop(self.proc)
        self.log.close()
        shutil.rmtree(self.home, ignore_errors=True)


class Helper:
    """A helper on the session bus, driven line by line: rdinput (keys
    through Mutter's RemoteDesktop interface) or fake_session (GNOME's
    session manager, inhibited or not)."""

    def __init__(self, mutter, name, options=()):
        self.proc = subprocess.Popen(mutter.as_user + ['/usr/bin/python3', mutter.bin[name]] + list(options),
                                     env=mutter.env,
                                     cwd=mutter.home, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                     preexec_fn=die_with_parent)
        check(self.proc.stdout.readline().strip() == 'ready', name + ' did not start')

    def do(self, line):
        check(self.ask(line) == 'ok', 'did not do: ' + line)

    def ask(self, line):
        self.proc.stdin.write(line + '\n')
        self.proc.stdin.flush()
        return self.proc.stdout.readline().strip()

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            self.proc.wait(10)


def need_mutter():
    wayland_e2e.need('mutter', 'dbus-run-session')


def case_mutter(_):
    """GNOME's idle monitor: the saver starts after the timeout (a full-screen
    window: Mutter has no layer shell); a key through RemoteDesktop ends it;
    pointer motion ends the next one; a new IdleTimeout in the settings file
    gets an idle watch of its own; Mutter gone, one line and status 1."""
    need_mutter()
    mutter = Mutter()
    w = inp = None
    try:
        inp = Helper(mutter, 'rdinput')
        w = Watcher(mutter, 2)
        first = one_saver(mutter, w, 'first idle period')
        print('idle 2 s: saver %d draws' % first)
        inp.do('key %d' % XK_a)
        no_saver(mutter, w, 'a key through RemoteDesktop')
        check(w.alive(), 'the watcher ended: ' + w.error())
        second = one_saver(mutter, w, 'second idle period')
        print('a key ended saver %d; the next idle period started saver %d' % (first, second))
        inp.do('motion 40 30')
        no_saver(mutter, w, 'pointer motion through RemoteDesktop')
        print('pointer motion ended saver %d' % second)
        w.close()
        folder = os.path.join(mutter.settings, 'Orvandel')
        write_settings(folder, '[ScreenSaverSample]\nIdleTimeout=600\n')
        w = Watcher(mutter, None, name='settings')
        end = time.monotonic() + 3
        while time.monotonic() < end:
            check(not savers(mutter, w), 'a saver before IdleTimeout=600 s')
            time.sleep(0.1)
        write_settings(folder, '[ScreenSaverSample]\nIdleTimeout=1\n')
        third = one_saver(mutter, w, 'IdleTimeout=1 written')
        write_settings(folder, '[ScreenSaverSample]\nIdleTimeout=600\n')  # none after it, before Mutter goes
        inp.do('key %d' % XK_a)
        no_saver(mutter, w, 'a key through RemoteDesktop')
        print('IdleTimeout 600, then 1 written: saver %d' % third)
        os.kill(mutter.mutter, signal.SIGTERM)
        rc = w.wait_exit()
        err = w.error()
        print('Mutter gone: status %d, %r' % (rc, err))
        check(rc == 1 and err.count('\n') == 1 and err.startswith('quellora: '), 'not one line and status 1')
    finally:
        if w:
            w.close()
        if inp:
            inp.close()
        mutter.close()


def case_mutter_inhibit(_):
    """GNOME's session manager saying that something inhibits idle keeps
    the saver away (Mutter's idle monitor follows the manager too); once
    nothing does, the saver comes while the session is still idle."""
    need_mutter()
    mutter = Mutter()
    w = manager = None
    try:
        manager = Helper(mutter, 'fake_session')
        w = Watcher(mutter, 1)
        end = time.monotonic() + 4
        while time.monotonic() < end:
            check(not savers(mutter, w), 'the saver started while idle was inhibited')
            time.sleep(0.1)
        check(w.alive(), 'the watcher ended: ' + w.error())
        print('idle inhibited: no saver in 4 s of a 1 s timeout')
        manager.do('uninhibit')
        pid = one_saver(mutter, w, 'the inhibitor gone')
        print('the inhibitor gone, the session still idle: saver %d' % pid)

    finally:
        if w:
            w.close()
        if manager:
            manager.close()
        mutter.close()


# --- a compositor with ext_idle_notifier_v1 -----------------------------------

def wl_string(text):
    raw = text.encode() + b'\0'
    return struct.pack('<I', len(raw)) + raw + b'\0' * (-len(raw) % 4)


class IdleCompositor:
    """Just enough of a Wayland compositor on a socket of its own for the
    watcher: a seat, ext_idle_notifier_v1 and org_kde_kwin_idle, the idle
    events sent when the test says. It answers a client's first sync only:
    the saver the watcher starts stays waiting in its first roundtrip, alive
    until it is ended."""

    GLOBALS = [(1, 'wl_seat', 1), (2, 'org_kde_kwin_idle', 1), (3, 'ext_idle_notifier_v1', 1)]

    def __init__(self, runtime, name='wayland-idle-test'):
        self.name = name
        self.path = os.path.join(runtime, self.name)
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(self.path)
        self.listener.listen(4)
        self.clients = []     # sockets, in the order they came
        self.closed = set()   # indexes of the clients that went away
        self.bound = []       # interfaces the first client bound
        self.notifications = []  # (object id, timeout in ms) of the first client's requests, in order
        self.lock = threading.Lock()
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                self.clients.append(client)
                index = len(self.clients) - 1
            threading.Thread(target=self.talk, args=(client, index), daemon=True).start()

    def send(self, client, obj, opcode, body=b''):
        with self.lock:
            client.sendall(struct.pack('<II', obj, (8 + len(body)) << 16 | opcode) + body)

    def talk(self, client, index):
        buf = b''
        registry = None
        while True:
            try:
                data = client.recv(4096)
            except OSError:
                data = b''
            if not data:
                self.closed.add(index)
                return
            buf += data
            while len(buf) >= 8:
                obj, word = struct.unpack_from('<II', buf)
                size, opcode = word >> 16, word & 0xffff
                if len(buf) < size:
                    break
                msg, buf = buf[8:size], buf[size:]
                if obj == 1 and opcode == 1:  # wl_display.get_registry
                    registry = struct.unpack_from('<I', msg)[0]
                    for name, interface, version in self.GLOBALS:
                        self.send(client, registry, 0, struct.pack('<I', name) + wl_string(interface) +
                                  struct.pack('<I', version))
                elif obj == 1 and opcode == 0 and index == 0:  # wl_display.sync, the watcher's
                    callback = struct.unpack_from('<I', msg)[0]
                    self.send(client, callback, 0, struct.pack('<I', 0))
                    self.send(client, 1, 1, struct.pack('<I', callback))  # wl_display.delete_id
                elif obj == registry and opcode == 0 and index == 0:  # wl_registry.bind
                    length = struct.unpack_from('<I', msg, 4)[0]
                    self.bound.append(msg[8:8 + length - 1].decode())
                elif index == 0 and opcode == 1 and len(msg) == 12:
                    # ext_idle_notifier_v1.get_idle_notification(id, timeout, seat)
                    new_id, timeout, _ = struct.unpack('<III', msg)
                    self.notifications.append((new_id, timeout))

    @property
    def notification(self):
        """The watcher's latest idle notification, or None."""
        return self.notifications[-1] if self.notifications else None

    def event(self, opcode):
        """idled (0) or resumed (1) to the watcher, on its latest notification."""
        self.send(self.clients[0], self.notification[0], opcode)

    def idled(self):
        self.event(0)

    def resumed(self):
        self.event(1)

    def close(self):
        self.listener.close()
        for c in self.clients:
            try:
                c.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            c.close()
        os.unlink(self.path)


def case_ext_idle(_):
    """A compositor with both idle protocols: the watcher takes
    ext_idle_notifier_v1 with its timeout in ms; idled starts the saver (a
    second client), resumed ends it while it still runs; the compositor gone,
    one line and status 1."""
    x = Xserver(display=False)
    comp = IdleCompositor(x.runtime)
    x.env['WAYLAND_DISPLAY'] = comp.name
    w = Watcher(x, 7)
    try:
        check(poll(lambda: comp.notification, 20), 'the watcher asked for no idle notification: ' + w.error())
        check('ext_idle_notifier_v1' in comp.bound and 'org_kde_kwin_idle' not in comp.bound,
              'not ext_idle_notifier_v1 alone: %s' % comp.bound)
        check(comp.notification[1] == 7000, 'timeout %d ms, not 7000' % comp.notification[1])
        print('bound %s; an idle notification after %d ms' % (comp.bound, comp.notification[1]))
        for period in (1, 2):
            comp.event(0)
            check(poll(lambda: len(comp.clients) > period, 20), 'idled started no saver: ' + w.error())
            pids = savers(x, w)
            check(len(pids) == 1, 'not one saver: %s' % pids)
            comp.event(1)
            check(poll(lambda: period in comp.closed and not savers(x, w), 20), 'resumed did not end the saver')
            print('idle period %d: idled started saver %d, resumed ended it' % (period, pids[0]))
        comp.close()
        rc = w.wait_exit()
        err = w.error()
        print('compositor gone: status %d, %r' % (rc, err))
        check(rc == 1 and err == 'quellora: the Wayland compositor went away\n', 'not the one line expected')
    finally:
        w.close()
        if os.path.exists(comp.path):
            comp.close()
        x.close()


class SessionBus:
    """A D-Bus daemon of the test's own, as the session bus of a host and,
    for the stand-in logind, as its system bus too."""

    def __init__(self, host):
        self.log = open(os.path.join(ARGS.work, 'dbus-daemon.log'), 'w')
        self.proc = subprocess.Popen(['dbus-daemon', '--session', '--nofork', '--print-address=1'],
                                     stdout=subprocess.PIPE, stderr=self.log, text=True, preexec_fn=die_with_parent)
        address = self.proc.stdout.readline().strip()
        check(address, 'dbus-daemon did not start')
        host.env['DBUS_SESSION_BUS_ADDRESS'] = host.env['DBUS_SYSTEM_BUS_ADDRESS'] = address

    def close(self):
        stop(self.proc)
        self.log.close()


class StandIn:
    """The stand-in compositor on a host of its own without a display, with
    a session bus and the stand-in desktop services on it when asked
    (fake_session.py with `services` as its options), and a watcher."""

    def __init__(self, seconds=7, services=None):
        self.x = Xserver(display=False)
        self.bus = self.desktop = self.w = None
        self.comp = IdleCompositor(self.x.runtime)
        self.x.env['WAYLAND_DISPLAY'] = self.comp.name
        try:
            if services is not None:
                wayland_e2e.need('dbus-daemon')
                if subprocess.run(['/usr/bin/python3', '-c', 'import dbus, gi'], stderr=subprocess.DEVNULL).returncode:
                    raise wayland_e2e.Skip('python3-dbus or python3-gi is not installed')
                self.bus = SessionBus(self.x)
                copy_for(self.x, 'fake_session', os.path.join(HERE, 'fake_session.py'))
                self.desktop = Helper(self.x, 'fake_session', services)
            self.w = Watcher(self.x, seconds)
            check(poll(lambda: self.comp.notification, 20), 'the watcher asked for no idle notification: ' +
                  self.w.error())
        except BaseException:
            self.close()
            raise

    def savers(self):
        return savers(self.x, self.w)

    def one_saver(self, label):
        """The saver the watcher runs (which waits in its first roundtrip),
        once it runs as `quellora /s`: before that it is the watcher's copy."""
        def started():
            pids = self.savers()
            try:
                return pids if pids and open('/proc/%d/cmdline' % pids[0], 'rb').read() == b'quellora\0/s\0' else None
            except OSError:
                return None
        pids = poll(started, 30, 0.1)
        check(pids, label + ': the watcher started no saver: ' + self.w.error())
        check(len(pids) == 1, label + ': more than one saver: %s' % pids)
        return pids[0]

    def no_saver_for(self, seconds, label):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            check(not self.savers(), label + ': a saver started')
            time.sleep(0.1)

    def close(self):
        if self.w:
            self.w.close()
        if self.desktop:
            self.desktop.close()
        if self.bus:
            self.bus.close()
        if os.path.exists(self.comp.path):
            self.comp.close()
        self.x.close()


def case_inhibit(_):
    """GNOME's session manager with an inhibitor of idle keeps the saver
    away while the session is idle; the inhibitor gone, the saver comes at
    once, the session still idle. The watcher follows the manager's signals
    on its one connection to the session bus, never asking on one of its own."""
    s = StandIn(services=[])
    try:
        for period in (1, 2):
            s.comp.idled()
            s.no_saver_for(2, 'idle period %d, inhibited' % period)
            s.desktop.do('uninhibit')
            pid = s.one_saver('idle period %d, the inhibitor gone' % period)
            print('idle period %d: no saver while inhibited; the inhibitor gone, saver %d' % (period, pid))
            s.comp.resumed()
            check(poll(lambda: gone(pid) or None, 20), 'resumed did not end the saver')
            s.desktop.do('inhibit')
        callers = s.desktop.ask('callers')
        print('the session manager was asked by %s' % callers)
        check(callers == 'callers 1', 'not one connection: ' + callers)
    finally:
        s.close()


def case_saver_faults(_):
    """A saver still ending when idleness returns is followed by a new one
    once it has gone (here it is stopped, so the watcher's SIGTERM waits);
    a saver that cannot be started is tried again while the session stays
    idle, with one line each time."""
    s = StandIn()
    try:
        s.comp.idled()
        first = s.one_saver('idled')
        os.kill(first, signal.SIGSTOP)
        # Stopped before the SIGTERM comes, which it would otherwise take first.
        check(poll(lambda: open('/proc/%d/stat' % first).read().rsplit(')', 1)[1].split()[0] == 'T', 10),
              'the saver did not stop')
        s.comp.resumed()
        s.comp.idled()
        time.sleep(1)
        check(s.savers() == [first], 'not the stopped saver %d alone: %s' % (first, s.savers()))
        os.kill(first, signal.SIGCONT)
        check(poll(lambda: gone(first) or None, 20), 'the saver did not end')
        second = s.one_saver('idle again while the last saver ended')
        print('idle again while saver %d ended: saver %d once it had gone' % (first, second))
        s.comp.resumed()
        check(poll(lambda: gone(second) or None, 20), 'resumed did not end the saver')

        os.chmod(s.x.bin['quellora'], 0o644)
        s.comp.idled()
        check(poll(lambda: 'cannot start the saver' in s.w.error() or None, 20), 'no line about the failed start: '
              + s.w.error())
        check(not s.savers() and s.w.alive(), 'a saver runs, or the watcher ended')
        os.chmod(s.x.bin['quellora'], 0o755)
        third = s.one_saver('the program back, the session still idle')
        lines = s.w.error().splitlines()
        check(lines and all(l.startswith('quellora: cannot start the saver') for l in lines), 'said: %r' % lines)
        print('the saver could not start (%r), then saver %d came without input' % (lines[0], third))
    finally:
        s.close()


SHIELDS = {'gnome': "GNOME Shell's org.gnome.ScreenSaver", 'kde': "KDE Plasma's org.freedesktop.ScreenSaver",
           'locked': "logind's LockedHint"}


def shield_case(kind):
    """The desktop's own shield (%s): it ends a running saver and lets none
    start, the session idle beneath it; once it is gone, idleness counts
    afresh, so the saver comes a whole timeout later; a shield already up
    when the watcher starts counts too."""
    def case(_):
        s = StandIn(seconds=3, services=['--free', '--shields'])
        other = w = None
        try:
            s.comp.idled()
            first = s.one_saver('idle')
            s.desktop.do(kind + ' on')
            check(poll(lambda: gone(first) or None, 20), 'the shield came and the saver runs on')
            s.no_saver_for(2, 'under the shield')
            s.comp.resumed()
            s.comp.idled()
            s.no_saver_for(2, 'idle again under the shield')
            print('%s up: saver %d ended, none started beneath it' % (SHIELDS[kind], first))
            s.desktop.do(kind + ' off')
            s.no_saver_for(1.5, 'just after the shield, the timeout not yet over')
            second = s.one_saver('a timeout after the shield')
            print('the shield gone, the session still idle: saver %d a timeout later' % second)
            s.comp.resumed()
            check(poll(lambda: gone(second) or None, 20), 'resumed did not end the saver')

            # Up before the watcher starts (GetActive, LockedHint): a watcher of a session of its own.
            s.desktop.do(kind + ' on')
            other = IdleCompositor(s.x.runtime, 'wayland-idle-shielded')
            w = Watcher(s.x, 3, {'WAYLAND_DISPLAY': other.name}, name='shielded')
            check(poll(lambda: other.notification, 20), 'no idle notification: ' + w.error())
            other.idled()
            end = time.monotonic() + 2
            while time.monotonic() < end:
                check(not savers(s.x, w), 'a saver under the shield that was up at the start')
                time.sleep(0.1)
            s.desktop.do(kind + ' off')
            check(poll(lambda: savers(s.x, w) or None, 20), 'no saver once the shield had gone')
            print('up at the start: no saver until it had gone')
            check(s.w.error() == '' and w.error() == '', 'the watchers said: %r %r' % (s.w.error(), w.error()))
        finally:
            if w:
                w.close()
            if other:
                other.close()
            s.close()
    case.__doc__ = shield_case.__doc__ % SHIELDS[kind]
    return case


case_shield_gnome = shield_case('gnome')
case_shield_kde = shield_case('kde')
case_shield_logind = shield_case('locked')


def write_settings(folder, text, in_place=False):
    """The settings file as the settings window writes it (a new file
    renamed into place) or as an editor may (in place)."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, 'settings.ini')
    temporary = path if in_place else os.path.join(folder, '.settings.ini-test')
    with open(temporary, 'w') as f:
        f.write(text)
    if not in_place:
        os.rename(temporary, path)


def case_new_timeout(_):
    """A running watcher follows a new IdleTimeout as it is written, without
    a restart: the compositor is asked for an idle notification of the new
    timeout, however the file or its folder came; the saver then comes on
    the new notification. With --idle SECONDS the file does not count."""
    x = Xserver(display=False)
    comp = IdleCompositor(x.runtime)
    x.env['WAYLAND_DISPLAY'] = comp.name
    folder = os.path.join(x.env['XDG_CONFIG_HOME'], 'Orvandel')
    os.makedirs(x.env['XDG_CONFIG_HOME'])
    w = fixed = other = None
    try:
        w = Watcher(x, None)
        check(poll(lambda: comp.notification, 20), 'no idle notification: ' + w.error())
        check(comp.notification[1] == 600000, 'without a settings file: %d ms' % comp.notification[1])
        steps = [
            ('the folder and the file made', lambda: write_settings(folder, '[ScreenSaverSample]\nIdleTimeout=30\n'),
             30000),
            ('the file written in place', lambda: write_settings(folder, '[ScreenSaverSample]\nIdleTimeout=45\n',
                                                                  in_place=True), 45000),
            ('the file removed', lambda: os.remove(os.path.join(folder, 'settings.ini')), 600000),
            ('the file renamed into place again', lambda: write_settings(folder, '[ScreenSaverSample]\n'
                                                                          'IdleTimeout=7\n'), 7000),
        ]
        for label, act, ms in steps:
            before = len(comp.notifications)
            act()
            check(poll(lambda: len(comp.notifications) > before or None, 20),
                  label + ': the compositor was not asked anew')
            check(comp.notification[1] == ms, '%s: %d ms, not %d' % (label, comp.notification[1], ms))
            print('%s: a new idle notification of %d ms' % (label, ms))
        comp.idled()
        check(poll(lambda: savers(x, w) or None, 20), 'idled on the new notification started no saver')
        comp.resumed()
        check(poll(lambda: not savers(x, w) or None, 20), 'resumed did not end the saver')
        print('idled on the new notification started the saver, resumed ended it')
        check(w.alive() and w.error() == '', 'the watcher said: %r' % w.error())
        # The timeout given on the command line stands (a watcher of a
        # session of its own, on a compositor of its own).
        other = IdleCompositor(x.runtime, 'wayland-idle-fixed')
        fixed = Watcher(x, 9, {'WAYLAND_DISPLAY': other.name}, name='fixed')
        check(poll(lambda: other.notification, 20), 'no idle notification: ' + fixed.error())
        write_settings(folder, '[ScreenSaverSample]\nIdleTimeout=60\n')
        check(poll(lambda: comp.notification[1] == 60000 or None, 20), 'the first watcher did not follow')
        time.sleep(1)
        check(other.notifications == other.notifications[:1] and other.notification[1] == 9000,
              'with --idle 9: %s' % other.notifications)
        print('with --idle 9 a new IdleTimeout changes nothing')
    finally:
        for watcher in (w, fixed):
            if watcher:
                watcher.close()
        for c in (comp, other):
            if c and os.path.exists(c.path):
                c.close()
        x.close()


def case_sessions(_):
    """One watcher per session: a second session of the same user (another
    compositor, the same runtime folder) gets its own, a second watcher in
    the same session is refused. With only WAYLAND_SOCKET, one connection
    that the saver could not share, the watcher says so in one line."""
    s = StandIn()
    other = IdleCompositor(s.x.runtime, 'wayland-idle-other')
    w2 = w3 = None
    try:
        w2 = Watcher(s.x, 7, {'WAYLAND_DISPLAY': other.name}, name='other-session')
        check(poll(lambda: other.notification or not w2.alive() or None, 20) and w2.alive(),
              'the watcher of the second session did not run: ' + w2.error())
        check(s.w.alive(), 'the first watcher ended: ' + s.w.error())
        print('two sessions, two watchers: %s' % sorted(n for n in os.listdir(s.x.runtime) if n.endswith('.lock')))
        w3 = Watcher(s.x, 7, name='same-session')
        rc, err = w3.wait_exit(), w3.error()
        check(rc == 1 and err.count('\n') == 1 and 'pid %d' % s.w.proc.pid in err,
              'a second watcher: %d %r' % (rc, err))
        print('a second watcher in the first session: %r' % err.strip())

        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.connect(other.path)
        env = dict(s.x.env, WAYLAND_SOCKET=str(sock.fileno()))
        del env['WAYLAND_DISPLAY']
        try:
            r = subprocess.run([s.x.bin['quellora'], '--idle', '7'], env=env, pass_fds=[sock.fileno()],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, timeout=20)
        except subprocess.TimeoutExpired:
            raise Failure('with only WAYLAND_SOCKET the watcher ran on')
        finally:
            sock.close()
        check(r.returncode == 1 and r.stderr.count('\n') == 1 and 'WAYLAND_SOCKET' in r.stderr,
              'with only WAYLAND_SOCKET: %d %r' % (r.returncode, r.stderr))
        print('only WAYLAND_SOCKET: %r' % r.stderr.strip())
    finally:
        for w in (w2, w3):
            if w:
                w.close()
        other.close()
        s.close()


# --- X11 ------------------------------------------------------------------------

class Xserver:
    """An Xvfb of its own, with no XScreenSaver daemon, as Sway is for the watcher."""

    def __init__(self, display=True):
        self.user = None
        self.home = tempfile.mkdtemp(prefix='quellora-x-')
        self.runtime = os.path.join(self.home, 'runtime')
        os.makedirs(self.runtime, mode=0o700)
        self.bin = {}
        copy_for(self, 'quellora', ARGS.quellora)
        self.as_user = []
        self.log = open(os.path.join(ARGS.work, 'xvfb.log'), 'w')
        self.env = {'PATH': os.environ.get('PATH', '/usr/bin:/bin'), 'HOME': self.home, 'XDG_RUNTIME_DIR': self.runtime,
                    'XDG_CONFIG_HOME': os.path.join(self.home, 'config-home'), 'LANG': 'C.UTF-8'}
        self.proc = None
        if display:
            self.proc, self.env['DISPLAY'] = start_xvfb(1280, 1024, self.log)

    def run(self, *cmd):
        return subprocess.run(list(cmd), env=self.env, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True)

    def close(self):
        if self.proc:
            stop(self.proc)
        self.log.close()
        shutil.rmtree(self.home, ignore_errors=True)


def case_x11(_):
    """MIT-SCREEN-SAVER on an Xvfb: the saver starts after the timeout; a key
    ends it through the watcher, the next idle period starts it again and
    the mouse ends that one; with an XScreenSaver daemon's mark on the root
    window the watcher says in one line that the daemon starts savers; the
    X server gone, one line and status 1."""
    wayland_e2e.need('Xvfb', 'xdotool', 'xprop')
    x = Xserver()
    try:
        w = Watcher(x, 2)
        try:
            first = one_saver(x, w, 'first idle period')
            print('idle 2 s: saver %d draws' % first)
            x.run('xdotool', 'key', 'a')
            no_saver(x, w, 'a key')
            check(w.alive(), 'the watcher ended: ' + w.error())
            second = one_saver(x, w, 'second idle period')
            print('a key ended saver %d; the next idle period started saver %d' % (first, second))
            for i in range(12):
                x.run('xdotool', 'mousemove', str(300 + 7 * i), '400')
            no_saver(x, w, 'the mouse')
            print('the mouse ended saver %d' % second)
            w.proc.send_signal(signal.SIGTERM)
            check(w.wait_exit() == -signal.SIGTERM, 'SIGTERM did not end the watcher')
        finally:
            w.close()
        x.run('xprop', '-root', '-f', '_SCREENSAVER_VERSION', '8s', '-set', '_SCREENSAVER_VERSION', '6.06')
        w = Watcher(x, 2, name='daemon')
        try:
            rc = w.wait_exit()
            err = w.error()
            print('an XScreenSaver daemon on the display: status %d, %r' % (rc, err))
            check(rc == 1 and err.count('\n') == 1 and 'XScreenSaver daemon' in err, 'not one line about the daemon')
        finally:
            w.close()
        x.run('xprop', '-root', '-remove', '_SCREENSAVER_VERSION')
        w = Watcher(x, 600, name='gone')
        try:
            check(poll(lambda: os.path.exists(lock_of(x)) or None, 10), 'the watcher did not start')
            time.sleep(0.5)
            stop(x.proc)
            rc = w.wait_exit()
            err = w.error()
            print('X server gone: status %d, %r' % (rc, err))
            check(rc == 1 and err == 'quellora: the X server went away\n', 'not the one line expected')
        finally:
            w.close()
    finally:
        x.close()


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith('case_')}
SWAY_CASES = ('sway', 'sway_inhibit', 'sway_once')


def main():
    global ARGS
    p = argparse.ArgumentParser()
    for opt in ('--quellora', '--input', '--inhibit', '--renders', '--render', '--work'):
        p.add_argument(opt, required=True)
    p.add_argument('case', choices=sorted(CASES))
    ARGS = p.parse_args()
    os.makedirs(ARGS.work, exist_ok=True)
    wayland_e2e.ARGS = ARGS
    wayland_e2e.x11_e2e.ARGS = ARGS

    def make():
        wayland_e2e.need_test_user()
        if ARGS.case not in SWAY_CASES:
            return None
        wayland_e2e.need('sway', 'swaymsg', 'grim')
        return Sway()
    return wayland_e2e.run_case(make, CASES[ARGS.case])


if __name__ == '__main__':
    sys.exit(main())
