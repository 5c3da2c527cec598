#!/usr/bin/env python3
"""The saver on every compositor Debian ships: one table of cases, each run
on a headless compositor of its own (as the test user when run as root:
compositors refuse root), the saver talking to it through a socket that
logs the protocol (wire.py).

COMPOSITORS says how each one starts with the outputs a case asks for, how
its screen is captured (grim where wlroots offers screencopy, weston's
screenshooter, Mutter's screen cast into PipeWire; KWin without OpenGL has
none) and how input reaches it (wlinput's virtual keyboard and pointer,
KWin's fake input, Mutter's remote desktop; headless weston and cage have no
input to give). Two desktops as their users have them sit beside them, a
GNOME Shell session and KDE Plasma's shell on KWin, with cases of their own
(the Overview, the pointer resting on another monitor, a monitor added, the
desktop's own shield and lock, the panels). Where a capture can be taken
the picture must be the renderer's frame, exact; everywhere the protocol
must show one buffer per output at its device size on a full-screen
surface, new buffers at the frame rate, the pointer's image hidden, and the
end on Escape and on SIGTERM.
A case the compositor cannot show (no input, one output only) is skipped
with the reason (status 77). Waits poll with generous deadlines; rates are
compared with the saver's own frame log of the same run, never with a clock.

usage: desktops_e2e.py --quellora BIN --input BIN --renders DIR --render BIN
                       --work DIR COMPOSITOR CASE
"""
import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import wayland_e2e as wl  # noqa: E402  (the test user, the saver, wlinput)
from wayland_e2e import (Failure, Skip, black_mask, check, die_with_parent, only_black_and_white, poll,  # noqa: E402
                         stop)
from wire import Summary, WireProxy  # noqa: E402
import x11_e2e  # noqa: E402

VIEW_W, VIEW_H = 1024, 768


def place(w, h):
    """Where the viewport lies on an output of w x h device pixels with
    Scale=auto: (left, top, n), n the largest whole enlargement that fits."""
    n = max(1, min(8, w // VIEW_W, h // VIEW_H))
    return (w - VIEW_W * n) // 2, (h - VIEW_H * n) // 2, n


class Output:
    def __init__(self, name, w, h, scale=1, x=0, y=0):
        self.name, self.w, self.h, self.scale, self.x, self.y = name, w, h, scale, x, y

    def __repr__(self):
        return '%s %dx%d@%g at %d,%d' % (self.name, self.w, self.h, self.scale, self.x, self.y)


class Desktop:
    """A compositor of its own: a home and runtime folder, the programs under
    test copied where its user can run them, the logging socket in front of
    it. Subclasses start it (start), say its outputs, and capture (grab)."""
    capture = None      # how its screen is captured, or None
    cursor_drawn = False  # whether a capture can draw the pointer's image
    no_input = None     # why no input can be given, or None
    layer_shell = False

    def __init__(self, layout):
        self.user = wl.test_user()
        self.home = tempfile.mkdtemp(prefix='quellora-%s-' % self.name)
        self.runtime = os.path.join(self.home, 'runtime')
        os.makedirs(self.runtime, mode=0o700)
        self.bin = {}
        for name, path in (('quellora', ARGS.quellora), ('wlinput', ARGS.input)):
            self.bin[name] = os.path.join(self.home, name)
            shutil.copy(path, self.bin[name])
            os.chmod(self.bin[name], 0o755)
        self.settings = os.path.join(self.home, 'config-home')
        os.makedirs(os.path.join(self.settings, 'Orvandel'))
        self.prepare()
        os.chmod(self.home, 0o755)
        if self.user:
            for root, dirs, files in os.walk(self.home):
                for n in [root] + [os.path.join(root, d) for d in dirs] + [os.path.join(root, f) for f in files]:
                    os.chown(n, self.user.pw_uid, self.user.pw_gid)
        self.as_user = (['setpriv', '--reuid', wl.USER, '--regid', wl.USER, '--init-groups', '--pdeathsig', 'KILL',
                         '--'] if self.user else [])
        self.env = {'PATH': os.environ.get('PATH', '/usr/bin:/bin'), 'HOME': self.home,
                    'XDG_RUNTIME_DIR': self.runtime, 'XDG_CONFIG_HOME': self.settings, 'LANG': 'C.UTF-8'}
        self.procs = []
        self.proxy = None
        self.outputs = []
        try:
            self.start(layout)
            self.proxy = WireProxy(self.runtime, os.path.join(self.runtime, self.env['WAYLAND_DISPLAY']),
                                   'wayland-logged', self.user and (self.user.pw_uid, self.user.pw_gid))
        except BaseException:
            self.close()
            raise

    def prepare(self):
        pass

    def spawn(self, name, cmd, env=None, **kw):
        log = open(os.path.join(ARGS.work, name + '.log'), 'w')
        proc = subprocess.Popen(self.as_user + cmd, env=dict(self.env, **(env or {})), cwd=self.home,
                                stdout=kw.pop('stdout', log), stderr=log, preexec_fn=die_with_parent, **kw)
        self.procs.append(proc)
        return proc

    def run(self, *cmd, **kw):
        return subprocess.run(self.as_user + list(cmd), env=self.env, cwd=self.home, check=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)

    def wait_socket(self, proc, pattern):
        found = poll(lambda: proc.poll() is not None or glob.glob(os.path.join(self.runtime, pattern)) or None, 30, 0.1)
        check(found and found is not True and proc.poll() is None,
              '%s did not start; see %s' % (self.name, os.path.join(ARGS.work, self.name + '.log')))
        self.env['WAYLAND_DISPLAY'] = os.path.basename(sorted(found)[0])

    def saver(self, env=None):
        """The saver on this compositor, through the logging socket."""
        return wl.Quellora(self, ['/s'], dict({'WAYLAND_DISPLAY': self.proxy.name}, **(env or {})))

    def input(self):
        if self.no_input:
            raise Skip(self.no_input)
        return wl.Input(self)

    def point_at(self, inp, out, x, y):
        """The pointer to (x, y) of an output, in its logical pixels."""
        total_w = max(o.x + o.w // o.scale for o in self.outputs)
        total_h = max(o.y + o.h // o.scale for o in self.outputs)
        inp.do('to %d %d %d %d' % (out.x + x, out.y + y, total_w, total_h))

    def grab(self, out, cursor=False):
        raise Skip('%s offers no capture here' % self.name)

    power_each = False  # whether outputs are switched off one by one

    def power(self, on, out=None):
        """Switches an output (None: every output) on or off, as the
        compositor's own power saving does."""
        raise Skip('%s: no way to switch its outputs off here' % self.name)

    def at_desktop(self, inp):
        """The desktop as its user works at it, before the saver starts."""

    def summary(self):
        return Summary(self.proxy.saver())

    def close(self):
        if self.proxy:
            self.proxy.close()
        for proc in reversed(self.procs):
            stop(proc)
        for proc in self.procs:
            if proc.stdout:
                proc.stdout.close()
        shutil.rmtree(self.home, ignore_errors=True)


def read_ppm(path):
    data = open(path, 'rb').read()
    m = re.match(rb'P6\s+(\d+)\s+(\d+)\s+255\s', data)
    w, h = int(m.group(1)), int(m.group(2))
    return np.frombuffer(data, np.uint8, w * h * 3, m.end()).reshape(h, w, 3)


class Sway(Desktop):
    """sway 1.7, headless, pixman: outputs made with swaymsg, grim captures
    exactly at device size (-c draws the pointer), wlinput types."""
    name = 'sway'
    capture = 'grim'
    cursor_drawn = True
    layer_shell = True
    max_outputs = 8

    def start(self, layout):
        config = os.path.join(self.home, 'config')
        with open(config, 'w') as f:
            f.write('output * bg #808080 solid_color\ndefault_border none\nxwayland disable\n')
        if self.user:
            os.chown(config, self.user.pw_uid, self.user.pw_gid)
        proc = self.spawn('sway', ['sway', '-c', config], {'WLR_BACKENDS': 'headless', 'WLR_LIBINPUT_NO_DEVICES': '1',
                                                          'WLR_RENDERER': 'pixman'})
        self.wait_socket(proc, 'wayland-[0-9]')
        check(poll(lambda: glob.glob(os.path.join(self.runtime, 'sway-ipc.*.sock')) or None, 30, 0.1), 'no sway IPC')
        self.env['SWAYSOCK'] = glob.glob(os.path.join(self.runtime, 'sway-ipc.*.sock'))[0]
        x = 0
        for i, (w, h, scale) in enumerate(layout):
            name = 'HEADLESS-1'
            if i:
                before = set(re.findall(r'HEADLESS-\d+', self.msg('-t', 'get_outputs')))
                self.msg('create_output')
                name = poll(lambda: set(re.findall(r'HEADLESS-\d+', self.msg('-t', 'get_outputs'))) - before or None,
                            10).pop()
            self.msg('output', name, 'mode', '%dx%d' % (w, h), 'scale', scale, 'position', x, 0)
            self.outputs.append(Output(name, w, h, scale, x, 0))
            x += w // scale

    def msg(self, *args):
        return self.run('swaymsg', *[str(a) for a in args], text=True).stdout

    power_each = True

    def power(self, on, out=None):
        """What sway's power protocol says of outputs it switches off, said by
        the socket in front of it: headless sway 1.7 cannot switch an output
        off (wlroots 0.15's headless backend refuses the change, and `swaymsg
        output * dpms off` leaves every output on)."""
        import struct
        conn = self.proxy.saver()
        check(conn, 'no saver to tell')
        s = Summary(conn)
        told = 0
        for t, iface, obj, name, args, way in conn.entries():
            if name == 'get_output_power' and (out is None or s.output_name(args[1]) == out.name):
                self.proxy.send_event(conn, args[0], 0, struct.pack('<I', 1 if on else 0))
                told += 1
        check(told, 'the saver does not watch the power of %s' % (out.name if out else 'any output'))

    def grab(self, out, cursor=False):
        path = os.path.join(self.home, 'grab.ppm')
        self.run('grim', *(['-c'] if cursor else []), '-t', 'ppm', '-o', out.name, path)
        return read_ppm(path)


class Cage(Desktop):
    """cage 0.1.4 (wlroots 0.15), headless: WLR_HEADLESS_OUTPUTS outputs of
    1280 x 720 side by side, no way to change them; it shows one full-screen
    toplevel over the whole layout. grim captures (screencopy); it offers no
    virtual keyboard or pointer."""
    name = 'cage'
    capture = 'grim'
    cursor_drawn = True
    no_input = 'cage offers no virtual keyboard or pointer and headless has no input devices'
    max_outputs = 8

    def start(self, layout):
        check(all((w, h, s) == (1280, 720, 1) for w, h, s in layout), 'cage has 1280 x 720 outputs only')
        # cage runs one program and ends with it: a placeholder that waits, the saver connects beside it.
        proc = self.spawn('cage', ['cage', '--', 'setpriv', '--pdeathsig', 'KILL', '--', 'sleep', '600'],
                          {'WLR_BACKENDS': 'headless', 'WLR_LIBINPUT_NO_DEVICES': '1', 'WLR_RENDERER': 'pixman',
                           'WLR_HEADLESS_OUTPUTS': str(len(layout))})
        self.wait_socket(proc, 'wayland-[0-9]')
        self.outputs = [Output('HEADLESS-%d' % (i + 1), 1280, 720, 1, 1280 * i, 0) for i in range(len(layout))]

    grab = Sway.grab


class Weston(Desktop):
    """weston 10, headless backend, pixman renderer, desktop shell (the xdg
    path: no layer shell). One output (--width, --height, --scale); no seat
    at all, so no input. weston-screenshooter, allowed by --debug, writes a
    PNG of the whole layout."""
    name = 'weston'
    capture = 'weston-screenshooter'
    no_input = 'headless weston has no seat: no input can reach the saver'
    max_outputs = 1

    def start(self, layout):
        (w, h, scale), = layout
        proc = self.spawn('weston', ['weston', '--backend=headless-backend.so', '--use-pixman', '--width=%d' % w,
                                     '--height=%d' % h, '--scale=%d' % scale, '--socket=wayland-weston', '--debug',
                                     '--no-config', '--idle-time=0'])
        self.wait_socket(proc, 'wayland-weston')
        self.outputs = [Output('headless', w, h, scale)]

    def grab(self, out, cursor=False):
        from PIL import Image
        for old in glob.glob(os.path.join(self.home, 'wayland-screenshot*.png')):
            os.unlink(old)
        self.run('weston-screenshooter')
        shot = glob.glob(os.path.join(self.home, 'wayland-screenshot*.png'))
        check(len(shot) == 1, 'weston-screenshooter wrote no picture')
        img = np.array(Image.open(shot[0]).convert('RGB'))
        return img[out.y * out.scale:out.y * out.scale + out.h, out.x * out.scale:out.x * out.scale + out.w]


class KWin(Desktop):
    """KWin 5.27, `kwin_wayland --virtual` (QPainter, layer shell), with a
    session bus of its own. Its file capability (cap_sys_resource) makes the
    kernel refuse it to a plain user: a copy without it runs (named
    kwin_wayland, or its Qt platform plugin refuses to load). All outputs
    share one size and scale. Fake input (a restricted interface:
    KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 offers it) moves and types; no
    capture without OpenGL, so the protocol log judges."""
    name = 'kwin'
    layer_shell = True
    max_outputs = 8

    def prepare(self):
        os.makedirs(os.path.join(self.home, 'kwin'))
        shutil.copy(shutil.which('kwin_wayland'), os.path.join(self.home, 'kwin', 'kwin_wayland'))

    def start(self, layout):
        check(len(set(layout)) == 1, 'KWin --virtual makes outputs of one size and scale')
        w, h, scale = layout[0]
        bus = self.session_bus()
        proc = self.spawn('kwin', [os.path.join(self.home, 'kwin', 'kwin_wayland'), '--virtual', '--socket',
                                   'wayland-kwin', '--width', str(w // scale), '--height', str(h // scale), '--scale',
                                   str(scale), '--output-count', str(len(layout))],
                          {'DBUS_SESSION_BUS_ADDRESS': bus, 'KWIN_WAYLAND_NO_PERMISSION_CHECKS': '1',
                           'KWIN_COMPOSE': 'Q'})
        self.wait_socket(proc, 'wayland-kwin')
        self.outputs = [Output('Virtual-%d' % i, w, h, scale, i * w // scale, 0) for i in range(len(layout))]

    def session_bus(self, name='bus', variable='DBUS_SESSION_BUS_ADDRESS'):
        """A bus of its own (a session bus: only its user talks on it), its
        address in the variable named."""
        path = os.path.join(self.runtime, name)
        proc = self.spawn('dbus-' + name, ['dbus-daemon', '--session', '--nofork', '--address=unix:path=' + path])
        check(poll(lambda: os.path.exists(path) or proc.poll() is not None, 10) and proc.poll() is None,
              'dbus-daemon did not start')
        self.env[variable] = 'unix:path=' + path
        return self.env[variable]


class MutterInput:
    """Input through Mutter's remote-desktop session (mutter_session.py)."""

    def __init__(self, desktop):
        self.desktop = desktop
        # Mutter's seat gains its keyboard with the session's first key, too
        # late for that key itself: a Shift, which the saver ignores, first,
        # and time for the saver to take the new keyboard.
        self.do('key Shift_L')
        time.sleep(1)

    def do(self, *lines):
        for line in lines:
            self.desktop.ask(line)

    def close(self):
        pass


class Mutter(KWin):
    """Mutter 43, `mutter --headless --wayland --virtual-monitor WxH` (one
    per output) with a session bus and a PipeWire daemon of its own (the xdg
    path: no layer shell). mutter_session.py lays the monitors out
    (DisplayConfig), gives input (RemoteDesktop) and casts each monitor
    into PipeWire (ScreenCast, the pointer drawn in); gst-launch reads one
    frame of a stream, linked with pw-link as no session manager runs."""
    name = 'mutter'
    layer_shell = False
    capture = 'screen cast'
    cursor_drawn = True
    no_input = None

    def prepare(self):
        pass

    def start(self, layout):
        self.session_bus()
        self.pipewire()
        proc = self.spawn('mutter', ['mutter', '--headless', '--wayland', '--no-x11', '--wayland-display',
                                     'wayland-mutter'] + self.monitor_options(layout))
        self.wait_socket(proc, 'wayland-mutter')
        self.lay_out(layout)

    def pipewire(self):
        self.spawn('pipewire', ['pipewire'])
        check(poll(lambda: os.path.exists(os.path.join(self.runtime, 'pipewire-0')), 10), 'pipewire did not start')

    @staticmethod
    def monitor_options(layout):
        return sum((['--virtual-monitor', '%dx%d' % (w, h)] for w, h, _ in layout), [])

    def lay_out(self, layout, apply=True):
        """Meta-0, Meta-1... in the order given, side by side, each at its
        scale (`apply`: laid out so; else as they are); then cast."""
        x, wanted = 0, []
        for i, (w, h, scale) in enumerate(layout):
            self.outputs.append(Output('Meta-%d' % i, w, h, scale, x, 0))
            wanted.append('Meta-%d:%d:0:%g' % (i, x, scale))
            x += w // scale
        self.added = []  # (its own cast, its reader) of each monitor added
        self.session = None
        self.cast(wanted if apply else [])

    def cast(self, wanted=()):
        """The remote-desktop session with a screen cast of every monitor
        (mutter_session.py), made anew after a change of monitors (which
        ends Mutter's casts of them)."""
        if self.session:
            stop(self.session)
        self.session = self.spawn('mutter-session', ['/usr/bin/python3', os.path.join(HERE, 'mutter_session.py')] +
                                  list(wanted), stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.nodes = {}
        while True:
            line = self.session.stdout.readline().split()
            check(line, 'mutter_session.py ended; see ' + os.path.join(ARGS.work, 'mutter-session.log'))
            if line[0] == 'stream':
                self.nodes[line[1]] = int(line[2])
            elif line[0] == 'monitor':
                print('Mutter monitor %s at %s,%s scale %s, %sx%s' % tuple(line[1:]))
            elif line[0] == 'ready':
                break
            else:
                raise Failure('Mutter gave no screen cast streams')

    def ask(self, line):
        """A line to mutter_session.py; the lines it answers before "ok"."""
        self.session.stdin.write(line + '\n')
        self.session.stdin.flush()
        answer = []
        while True:
            said = self.session.stdout.readline().strip()
            check(said, 'mutter_session.py ended; see ' + os.path.join(ARGS.work, 'mutter-session.log'))
            if said in ('ok', 'bad'):
                check(said == 'ok', 'Mutter did not take: ' + line)
                return answer
            answer.append(said)

    def monitors(self):
        """Mutter's monitors now: {connector: Output}."""
        return {m[1]: Output(m[1], int(m[5]), int(m[6]), int(float(m[4])), int(m[2]), int(m[3]))
                for m in (line.split() for line in self.ask('monitors'))}

    def add_monitor(self, w, h):
        """A monitor more, of w x h: a virtual one that Mutter makes for a
        screen cast of its own (mutter_session.py --virtual), of the size its
        reader asks for (gst-launch, reading until the monitor is removed);
        its Output."""
        cast = self.spawn('monitor-cast', ['/usr/bin/python3', os.path.join(HERE, 'mutter_session.py'), '--virtual'],
                          stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        said = cast.stdout.readline().split()
        check(said[:1] == ['virtual'], 'Mutter made no stream for a virtual monitor')
        reader = self.spawn('monitor-reader', ['gst-launch-1.0', '-q', 'pipewiresrc', 'path=' + said[1], '!',
                                               'video/x-raw,width=%d,height=%d' % (w, h), '!', 'fakesink'])
        self.added.append((cast, reader))
        known = {o.name for o in self.outputs}

        def made():
            self.link_ports(int(said[1]))
            return [o for name, o in self.monitors().items() if name not in known] or None
        found = poll(made, 20, 0.2)
        check(found, 'Mutter made no monitor for the screen cast')
        self.outputs.append(found[0])
        print('Mutter added monitor %s' % found[0])
        self.cast()
        return found[0]

    def remove_monitor(self):
        """The monitor added last gone."""
        gone = self.outputs.pop()
        cast, reader = self.added.pop()
        cast.stdin.close()
        stop(reader)
        check(poll(lambda: gone.name not in self.monitors(), 20, 0.2), 'Mutter kept monitor %s' % gone.name)
        print('Mutter removed monitor %s' % gone)
        self.cast()

    def input(self):
        return MutterInput(self)

    def power(self, on, out=None):
        check(out is None, 'Mutter switches every monitor at once')
        self.session.stdin.write('power %d\n' % (0 if on else 3))
        self.session.stdin.flush()
        check(self.session.stdout.readline().strip() == 'ok', 'Mutter did not take PowerSaveMode')

    def point_at(self, inp, out, x, y):
        inp.do('motion 1 1', 'to %d %d %s' % (x, y, out.name))

    def grab(self, out, cursor=False):
        """One frame of the monitor's stream; the stream draws the pointer
        always, so `cursor` changes nothing."""
        path = os.path.join(self.home, 'grab-%s.rgb' % out.name)
        # A reader that gets no frame in 10 s is tried once more: one started
        # just after the casts were made anew sometimes waits for ever.
        for _ in range(2):
            if os.path.exists(path):
                os.unlink(path)
            gst = subprocess.Popen(self.as_user + [
                'gst-launch-1.0', '-q', 'pipewiresrc', 'path=%d' % self.nodes[out.name], 'num-buffers=1',
                'always-copy=true', '!', 'videoconvert', '!', 'video/x-raw,format=RGB', '!', 'filesink',
                'location=' + path], env=self.env, cwd=self.home, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
            try:
                # No session manager: link the cast's output ports to gst's input ports once both show.
                end = time.monotonic() + 10
                while time.monotonic() < end and gst.poll() is None:
                    self.link_ports(self.nodes[out.name])
                    time.sleep(0.1)
            finally:
                stop(gst)
            if gst.returncode == 0 and os.path.exists(path) and os.path.getsize(path) == out.w * out.h * 3:
                return np.fromfile(path, np.uint8).reshape(out.h, out.w, 3)
        raise Failure('no frame of %s from the screen cast' % out.name)

    def link_ports(self, node):
        """Links the stream `node`'s output port to gst's input port (a
        video stream's input not linked yet)."""
        import json
        text = subprocess.run(self.as_user + ['pw-dump'], env=self.env, stdout=subprocess.PIPE, text=True).stdout
        objects = json.JSONDecoder().raw_decode(text)[0] if text.strip() else []
        ports = [(o['id'], o['info']['props']) for o in objects if o.get('type') == 'PipeWire:Interface:Port']
        linked = {o['info']['input-port-id'] for o in objects if o.get('type') == 'PipeWire:Interface:Link'}
        outs = [pid for pid, props in ports if props.get('node.id') == node and props.get('port.direction') == 'out']
        ins = [pid for pid, props in ports if props.get('port.direction') == 'in' and pid not in linked]
        for i in ins:
            for o in outs:
                subprocess.run(self.as_user + ['pw-link', str(o), str(i)], env=self.env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)


class GnomeShell(Mutter):
    """GNOME Shell 43 as its users have it: `gnome-session-binary --builtin
    --session=gnome`, its settings daemons, Xwayland (the session fails
    without X11), the Overview at login; the shell headless on virtual
    monitors (the session starts it by its desktop entry: the user's own
    gives the options). The shell dies at start without a system bus where
    /run/systemd/seats exists, so it has one of its own, and it makes its
    screen shield (the fade, the lock, org.gnome.ScreenSaver) only where the
    display manager answers there: display_manager.py stands in. Settings go
    through dconf (gsettings); layout, input and captures as on Mutter."""
    name = 'gnome'

    def start(self, layout):
        x11_sockets()
        self.session_bus('system_bus', 'DBUS_SYSTEM_BUS_ADDRESS')
        dm = self.spawn('display-manager', ['/usr/bin/python3', os.path.join(HERE, 'display_manager.py')],
                        stdout=subprocess.PIPE, text=True)
        check(dm.stdout.readline().strip() == 'ready', 'the stand-in display manager did not start')
        self.session_bus()
        self.pipewire()
        data = os.path.join(self.home, 'data')
        os.makedirs(os.path.join(data, 'applications'))
        with open('/usr/share/applications/org.gnome.Shell.desktop') as f:
            entry = re.sub(r'(?m)^Exec=.*', ' '.join(['Exec=gnome-shell --wayland --headless --wayland-display',
                                                      'wayland-gnome'] + self.monitor_options(layout)), f.read())
        path = os.path.join(data, 'applications', 'org.gnome.Shell.desktop')
        with open(path, 'w') as f:
            f.write(entry)
        if self.user:
            for n in (data, os.path.dirname(path), path):
                os.chown(n, self.user.pw_uid, self.user.pw_gid)
        self.env.update(XDG_DATA_HOME=data, XDG_SESSION_TYPE='wayland', XDG_CURRENT_DESKTOP='GNOME')
        # Now and then (1 start in 5 here) Xwayland never comes and the shell
        # waits for it for good: a second session then.
        for attempt in ('gnome', 'gnome-again'):
            # A process group of its own: the shell, its daemons and Xwayland end with the session.
            self.group = self.spawn(attempt, ['/usr/libexec/gnome-session-binary', '--builtin', '--session=gnome'],
                                    start_new_session=True)
            self.wait_socket(self.group, 'wayland-gnome')
            if poll(lambda: self.shell('OverviewActive'), 60, 0.5):
                break
            print('GNOME Shell did not come up; see %s' % os.path.join(ARGS.work, attempt + '.log'))
            self.end_session()
        else:
            raise Failure('GNOME Shell did not come up twice')
        self.lay_out(layout, apply=False)

    def at_desktop(self, inp):
        """The Overview of the login closed, as a user has closed it."""
        if self.shell('OverviewActive') != '(<false>,)':
            inp.do('key Escape')
            check(poll(lambda: self.shell('OverviewActive') == '(<false>,)', 10, 0.2), 'the Overview stays')

    def screen_saver(self, method):
        """What org.gnome.ScreenSaver's method answers, as gdbus prints it."""
        return self.run('gdbus', 'call', '--session', '-d', 'org.gnome.ScreenSaver', '-o', '/org/gnome/ScreenSaver',
                        '-m', 'org.gnome.ScreenSaver.' + method, text=True).stdout.strip()

    def shell(self, name):
        """A property of org.gnome.Shell as gdbus prints it; None while it
        cannot be read."""
        r = subprocess.run(self.as_user + ['gdbus', 'call', '--session', '-d', 'org.gnome.Shell', '-o',
                                           '/org/gnome/Shell', '-m', 'org.freedesktop.DBus.Properties.Get',
                                           'org.gnome.Shell', name], env=self.env, cwd=self.home,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        return r.stdout.strip() if r.returncode == 0 else None

    def close(self):
        self.end_session()
        super().close()

    def end_session(self):
        # The session's programs end with it, given time to clean up (a shell
        # killed leaves Xwayland's lock behind, and the next session on the
        # machine takes another display).
        group = getattr(self, 'group', None)
        for sig in (signal.SIGTERM, signal.SIGKILL) if group else ():
            try:
                os.killpg(group.pid, sig)
            except OSError:
                break
            poll(lambda: ended(group), 10, 0.1)


def ended(group):
    """Whether every process of the group started by `group` has ended (the
    first reaped)."""
    group.poll()
    try:
        os.killpg(group.pid, 0)
        return False
    except OSError:
        return True


class Plasma(KWin):
    """KDE Plasma 5.27 as far as it runs here: plasmashell (its desktops and
    panel) on `kwin_wayland --virtual`, whose own screen locker
    (org.freedesktop.ScreenSaver, kscreenlocker_greet) locks. The session
    bus's activation environment names the compositor, as Plasma's start
    does, so the daemons it starts (kactivitymanagerd) find it. KWin's
    scripting lists its windows and their stacking (windows())."""
    name = 'plasma'

    def start(self, layout):
        super().start(layout)
        self.env.update(QT_QPA_PLATFORM='wayland', XDG_CURRENT_DESKTOP='KDE', KDE_FULL_SESSION='true',
                        KDE_SESSION_VERSION='5', XDG_SESSION_TYPE='wayland')
        self.run('dbus-update-activation-environment', *['%s=%s' % (k, self.env[k]) for k in (
            'WAYLAND_DISPLAY', 'QT_QPA_PLATFORM', 'XDG_CURRENT_DESKTOP', 'KDE_FULL_SESSION', 'KDE_SESSION_VERSION',
            'XDG_SESSION_TYPE')])
        self.spawn('plasmashell', ['plasmashell'])
        check(poll(lambda: any(w['dock'] for w in self.windows()), 60, 1), 'plasmashell showed no panel; see ' +
              os.path.join(ARGS.work, 'plasmashell.log'))

    def windows(self):
        """KWin's windows, bottom to top: {class, dock, layer, x, y, w, h}
        each, printed by a script of KWin's into its log; none while KWin
        does not answer."""
        script = os.path.join(self.home, 'windows.js')
        with open(script, 'w') as f:
            f.write('workspace.clientList().forEach(function (w) { print("window " + w.stackingOrder + " " + '
                    '(w.resourceClass || "-") + " " + w.dock + " " + w.layer + " " + w.frameGeometry.x + " " + '
                    'w.frameGeometry.y + " " + w.frameGeometry.width + " " + w.frameGeometry.height); });\n')
        os.chmod(script, 0o644)
        log = os.path.join(ARGS.work, 'kwin.log')
        seen = os.path.getsize(log)
        plugin = 'windows-%d' % time.monotonic_ns()
        for method, args in (('loadScript', [script, plugin]), ('start', []), ('unloadScript', [plugin])):
            if subprocess.run(self.as_user + ['gdbus', 'call', '--session', '-d', 'org.kde.KWin', '-o', '/Scripting',
                                              '-m', 'org.kde.kwin.Scripting.' + method] + args, env=self.env,
                              cwd=self.home, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
                return []
            if method == 'start':
                time.sleep(0.5)
        with open(log, errors='replace') as f:
            f.seek(seen)
            lines = sorted(line.split()[2:] for line in f if line.startswith('js: window '))
        return [dict(order=int(o), cls=c, dock=dock == 'true', layer=int(layer), x=int(x), y=int(y), w=int(w), h=int(h))
                for o, c, dock, layer, x, y, w, h in lines]

    def screen_saver(self, method):
        """What org.freedesktop.ScreenSaver's method answers, as gdbus prints it."""
        return self.run('gdbus', 'call', '--session', '-d', 'org.freedesktop.ScreenSaver', '-o', '/ScreenSaver',
                        '-m', 'org.freedesktop.ScreenSaver.' + method, text=True).stdout.strip()


def x11_sockets():
    """Xwayland's socket folder as a system has it: root's, writable by all,
    sticky (Mutter makes it its user's and refuses it after)."""
    path = '/tmp/.X11-unix'
    st = os.lstat(path) if os.path.lexists(path) else None
    if st and st.st_uid == 0 and st.st_mode & 0o1777 == 0o1777:
        return
    if os.getuid() != 0:
        raise Skip('%s is not root\'s with mode 1777: Xwayland, which the GNOME session needs, cannot start' % path)
    if not st:
        os.mkdir(path)
    os.chown(path, 0, 0)
    os.chmod(path, 0o1777)


COMPOSITORS = {c.name: c for c in (Sway, Cage, Weston, KWin, Mutter, GnomeShell, Plasma)}
COMMANDS = {'sway': 'sway', 'cage': 'cage', 'weston': 'weston', 'kwin': 'kwin_wayland', 'mutter': 'mutter',
            'gnome': 'gnome-session', 'plasma': 'plasmashell'}
# The outputs of the cases: one, and two where the compositor can have two
# (the second at scale 2 where it can be).
# GNOME has the two monitors of its users' session in every case.
GNOME = [(1920, 1080, 1), (1280, 1024, 1)]
ONE = {'cage': [(1280, 720, 1)], 'gnome': GNOME, 'plasma': [(1920, 1080, 1), (1920, 1080, 1)]}
TWO = {'sway': [(1280, 1024, 1), (3840, 2160, 2)], 'mutter': [(1280, 1024, 1), (3840, 2160, 2)],
       'cage': [(1280, 720, 1), (1280, 720, 1)], 'kwin': [(1280, 1024, 1), (1280, 1024, 1)], 'gnome': GNOME}
TWO_CASES = ('two_outputs', 'rate', 'power', 'pointer_rests')
# The cases that need a desktop's own part (its method named).
NEEDS = {'overview': ('shell', 'an Overview'), 'shield': ('shell', 'GNOME\'s screen shield'),
         'monitor_plugged': ('add_monitor', 'a way here to add a monitor'),
         'above_panels': ('windows', 'panels of its own'), 'locker': ('windows', 'a screen locker of its own')}
PACKAGES = {'kwin': 'kwin-wayland', 'gnome': 'gnome-session gjs', 'plasma': 'plasma-desktop qtwayland5'}


# --- what a case checks ---------------------------------------------------------

def step_on(img, out, renders=None):
    """The renderer's step whose frame the output shows, exact, centred,
    black around it (Scale=auto); None when it shows anything else."""
    left, top, n = place(out.w, out.h)
    if img.shape[:2] != (out.h, out.w):
        return None
    # The viewport's part on the output (the output may cut it), in device and in picture pixels.
    x0, y0 = max(left, 0), max(top, 0)
    x1, y1 = min(left + VIEW_W * n, out.w), min(top + VIEW_H * n, out.h)
    crop = img[y0:y1, x0:x1]
    if not only_black_and_white(crop):
        return None
    outside = black_mask(img).copy()
    outside[y0:y1, x0:x1] = True
    if not outside.all():
        return None
    mask = black_mask(crop)
    small = mask[::n, ::n]
    if not np.array_equal(np.repeat(np.repeat(small, n, axis=0), n, axis=1), mask):
        return None
    return (renders or x11_e2e.renders()).match(small, (x0 - left) // n, (y0 - top) // n)


class LaterRenders(x11_e2e.Renders):
    """The renderer's frames of steps `first` to `last`, made for a case that
    runs past the frames made once for every test."""

    def __init__(self, first, last):
        folder = os.path.join(ARGS.work, 'renders-%d-%d' % (first, last))
        os.makedirs(folder, exist_ok=True)
        subprocess.run([ARGS.render, '--steps', '%d:%d' % (first, last), '--out', folder], check=True,
                       stdout=subprocess.DEVNULL)
        super().__init__(folder)
        self.first = first

    def match(self, black, vx, vy):
        step = super().match(black, vx, vy)
        return None if step is None else step + self.first


def frames_on(d, outs, cursor=False, same=True, renders=None):
    """Polls until every output of `outs` shows a rendered frame exactly
    (`same`: all the same one; `renders`: the frames to look among, else
    those made for every test); returns the steps."""
    last, seen = {}, []

    def look():
        steps = []
        for out in outs:
            last[out.name] = img = d.grab(out, cursor)
            steps.append(step_on(img, out, renders))
        seen.append(steps)
        return None not in steps and (len(set(steps)) == 1 or not same) and steps

    steps = poll(look, 30, 0.2)
    if not steps:
        saved = [x11_e2e.save(img, 'no_frame_' + name) for name, img in last.items()]
        raise Failure('not the rendered frame on %s (steps seen first %s, last %s); last pictures in %s' % (
            outs, seen[0], seen[-1], ', '.join(saved)))
    return steps


def shown(d, n):
    """Polls the protocol log until the saver shows n surfaces with buffers;
    returns the summary."""
    s = poll(lambda: (lambda s: len(s.shown()) >= n and s)(d.summary()) if d.proxy.saver() else None, 30, 0.2)
    check(s, 'the saver put no buffer on %d surfaces' % n)
    return s


def protocol_faults(d, s):
    """One full-screen surface per output (a layer surface where the
    compositor offers the layer shell, else a toplevel), covering the
    output's device pixels: its tiles (it and its subsurfaces, each a black
    pixel stretched or the picture) side by side over what was configured,
    the picture's buffer with the device pixels of its logical size; or one
    buffer of what was configured in device pixels (the output's size when
    the compositor leaves the size to the saver, 0 x 0, else the configured
    logical size times the output's scale; with a viewport, the destination
    is the configured size). Prints what it saw; returns the faults."""
    faults = []
    rows = s.shown()
    by_name = {o.name: o for o in d.outputs}
    for sid, output, size, configured in rows:
        surface = s.surfaces[sid]
        pic = s.picture(sid)
        tiles = s.tree(sid)
        print('  surface %d (%s) on %s: configures %s (s after it was made), buffers %s, destination %s; '
              'tiles %s, the picture on %d: buffers %s, destination %s' % (
                  sid, surface['role'], output, ['%dx%d at %.2f' % (c + (t - surface['made'],))
                                                 for t, c in surface['configures']],
                  sorted({c[2] for c in surface['commits'] if c[2]}), surface['destination'],
                  [(t, s.surfaces[t]['position'], s.surfaces[t]['destination']) for t in tiles], pic,
                  sorted({c[2] for c in s.surfaces[pic]['commits'] if c[2]}), s.surfaces[pic]['destination']))
        out = by_name.get(output)
        if not out:
            faults.append('surface %d: on no known output (%s)' % (sid, output))
            continue
        sizes = [c for _, c in surface['configures'] if c != (0, 0)]
        want = (sizes[-1][0] * out.scale, sizes[-1][1] * out.scale) if sizes else (out.w, out.h)
        if len(tiles) > 1 or s.stretched(sid):
            # Tiles: together at least the output, the picture's device-exact.
            rects = [(0, 0) + tuple(surface['destination'] or (0, 0))]
            rects += [s.surfaces[t]['position'] + s.surfaces[t]['destination'] for t in tiles
                      if t != sid and s.surfaces[t]['position'] and s.surfaces[t]['destination']]
            span = (max(x + w for x, _, w, _ in rects) - min(x for x, _, _, _ in rects),
                    max(y + h for _, y, _, h in rects) - min(y for _, y, _, _ in rects))
            if span[0] < out.w // out.scale or span[1] < out.h // out.scale:
                faults.append('surface %d on %s: tiles over %s logical pixels, less than the output' % (
                    sid, output, span))
            p = s.surfaces[pic]
            psize, dest = p['commits'][-1][2], p['destination']
            if not s.stretched(pic) and (not dest or psize != (dest[0] * out.scale, dest[1] * out.scale)):
                faults.append('surface %d on %s: its picture has a buffer of %s for %s logical pixels' % (
                    sid, output, psize, dest))
        else:
            if size != want:
                faults.append('surface %d on %s: a buffer of %s, configured %s (%s in device pixels)' % (
                    sid, output, size, sizes[-1] if sizes else (0, 0), want))
            if surface['destination'] and sizes and surface['destination'] != sizes[-1]:
                faults.append('surface %d: viewport destination %s, configured %s' % (sid, surface['destination'],
                                                                                     sizes[-1]))
    if len(rows) != len(d.outputs):
        faults.append('not one surface per output: %d for %d' % (len(rows), len(d.outputs)))
    roles = {s.surfaces[sid]['role'] for sid, _, _, _ in rows}
    if roles != {'layer' if d.layer_shell else 'toplevel'}:
        faults.append('surfaces of roles %s' % roles)
    return faults


def report(faults):
    check(not faults, '; '.join(faults))


# --- cases --------------------------------------------------------------------

def case_picture(d):
    """One output: the renderer's frame, exact, centred, black around it; on
    the protocol one full-screen surface with a buffer of the output's size."""
    q = d.saver()
    try:
        shown(d, 1)
        faults = []
        if d.capture:
            try:
                step, = frames_on(d, d.outputs)
                print('%s: the frame of step %d on %s' % (d.name, step, d.outputs[0]))
            except Failure as e:
                faults.append(str(e))
        else:
            print('%s: no capture; the protocol shows the buffer' % d.name)
        check(q.alive(), 'the saver ended: ' + q.error())
        report(protocol_faults(d, d.summary()) + faults)
    finally:
        q.close()


def case_two_outputs(d):
    """Two outputs (the second at scale 2 where the compositor can): the same
    frame on both, each at its own enlargement (input given: Space held,
    so the picture stands still while the outputs are captured one after
    the other); on the protocol a buffer of each output's device size."""
    q = d.saver()
    inp = None if d.no_input else d.input()
    try:
        shown(d, len(d.outputs))
        faults = []
        if d.capture:
            try:
                if inp:
                    frames_on(d, d.outputs[:1])
                    inp.do('down space')
                steps = frames_on(d, d.outputs, same=inp is not None)
                if inp:
                    inp.do('up space')
                print('%s: the frames of steps %s on %s' % (d.name, steps, d.outputs))
            except Failure as e:
                faults.append(str(e))
        check(q.alive(), 'the saver ended: ' + q.error())
        report(protocol_faults(d, d.summary()) + faults)
    finally:
        q.close()
        if inp:
            inp.close()


def case_key(d):
    """Escape ends it, status 0; a letter does not."""
    inp = d.input()
    q = d.saver()
    try:
        shown(d, 1)
        check(q.still_runs_after_input(), 'the saver ended by itself: ' + q.error())
        inp.do('key a')
        check(q.still_runs_after_input(), 'A ended the saver')
        inp.do('key Escape')
        check(q.wait_exit() == 0, 'Escape did not end the saver cleanly: ' + q.error())
        print('%s: A runs on, Escape ends it (status 0)' % d.name)
    finally:
        q.close()
        inp.close()


def case_sigterm(d):
    """SIGTERM ends it (the default action: no handler in saver mode) and its
    surfaces go with it."""
    q = d.saver()
    try:
        shown(d, 1)
        check(q.still_runs_after_input(), 'the saver ended by itself: ' + q.error())
        q.proc.send_signal(signal.SIGTERM)
        rc = q.wait_exit()
        check(rc == -signal.SIGTERM, 'SIGTERM: status %s: %s' % (rc, q.error()))
        print('%s: SIGTERM ended it' % d.name)
    finally:
        q.close()


def case_cursor(d):
    """The pointer over the picture: every pointer enter on the saver's
    surface is answered with set_cursor without a surface, and captures
    that draw the pointer's image show none."""
    inp = d.input()
    q = d.saver()
    try:
        shown(d, 1)
        out = d.outputs[0]
        moves = iter(range(10 ** 6))

        def entered():
            # Moving on: a seat may offer its pointer only once a virtual one has moved (Mutter).
            d.point_at(inp, out, 500 + next(moves) % 20, 400)
            s = d.summary()
            return s if s.pointer_enters else None
        s = poll(entered, 20, 0.2)
        if not s:
            seat = [(round(e[0], 2), e[3], e[4]) for e in d.proxy.saver().entries()
                    if e[3] in ('capabilities', 'get_pointer', 'enter')]
            raise Failure('the pointer never entered the saver\'s surface: %s' % seat)
        if d.capture and d.cursor_drawn:
            step, = frames_on(d, [out], cursor=True)
            print('%s: with the pointer over it, the frame of step %d and no pointer' % (d.name, step))
        s = d.summary()
        print('%s: pointer enters %s, set_cursor %s' % (d.name, [(round(t, 2), sid) for t, sid in s.pointer_enters],
                                                       [(round(t, 2), sid) for t, sid in s.cursor]))
        for t, sid in s.pointer_enters:
            after = [c for c in s.cursor if c[0] >= t]
            check(after and after[0][1] == 0, 'no set_cursor without a surface after the pointer entered at %.2f' % t)
    finally:
        q.close()
        inp.close()


def log_written(q):
    """Waits for the saver's next write of its frame log (a write every so
    many frames): (when, the frames it says)."""
    f = q.frames_drawn()
    check(poll(lambda: q.frames_drawn() != f, 10, 0.005), 'the frame log stands still')
    return time.monotonic(), q.frames_drawn()


def case_rate(d):
    """Paced by the compositor: on each output a new frame is committed only
    once the compositor has shown the last one (its frame callback answered),
    and every frame the saver's log counts reaches every output unless the
    compositor kept the saver waiting: over about 4 s the buffers committed
    on each output are at least 0.9 of the frames the log counts in the same
    time, less the frames that fell while a frame callback or all three
    buffers stayed with the compositor longer than a frame (a slow
    compositor is excused, a saver that waits with nothing to wait for is
    not); it never holds more than three buffers, and a picture that shows
    several outputs is still committed once a frame; where captures can be
    taken, the steps they show advance with the frame log. Prints the
    figures: frames/s by the log, buffers/s and, where the compositor offers
    wp_presentation, presented frames/s per output, how long it holds a
    buffer. Whether a quiet machine keeps 25 frames a second is the
    compositor bench's to measure."""
    q = d.saver()
    try:
        s = shown(d, len(d.outputs))
        check(poll(lambda: q.frames_drawn() > 25, 20), 'the saver draws no frames')
        t0, f0 = log_written(q)
        samples = []
        if d.capture:
            # At least 5 captures, however long they take on a busy machine.
            while (len(samples) < 5 or time.monotonic() - t0 < 4) and time.monotonic() - t0 < 40:
                time.sleep(0.3)
                f = q.frames_drawn()
                img = d.grab(d.outputs[0])
                samples.append((f, q.frames_drawn(), step_on(img, d.outputs[0])))
        else:
            time.sleep(4)
        t1, f1 = log_written(q)
        fps = (f1 - f0) / (t1 - t0)
        s = d.summary()
        rates, holds, pacing, presented = {}, {}, {}, {}
        for sid, name, size, _ in s.shown():
            pic = s.picture(sid)
            rates[name or sid] = s.buffers_per_second(pic, t0, t1)
            holds[name or sid] = s.holds(pic, t0, t1)
            pacing[name or sid] = s.pacing(pic, t0, t1)
            presented[name or sid] = s.presented_per_second(pic, t0, t1)
        held = sorted(s.hold_times())
        print('%s: frame log %.1f frames/s; buffers/s %s; presented/s %s; held median %.0f ms, 90th percentile %.0f ms '
              '(%d buffers); kept waiting for %s s of %.1f s; every one held, fewer than three, at most %s ms' % (
                  d.name, fps, {k: round(v, 1) for k, v in rates.items()},
                  {k: v if v is None else round(v, 1) for k, v in presented.items()},
                  1000 * held[len(held) // 2] if held else -1, 1000 * held[len(held) * 9 // 10] if held else -1,
                  len(held), {k: round(v[1], 2) for k, v in pacing.items()}, t1 - t0,
                  {k: round(1000 * v[2]) for k, v in holds.items()}))
        check(fps > 12.5, 'the frame log says %.1f frames/s' % fps)
        for name, r in rates.items():
            full, most, starved = holds[name]
            early, waited, gaps = pacing[name]
            check(early == 0, '%s: %d frames committed before the compositor had shown the last' % (name, early))
            # Once the compositor has shown a frame, the next goes as soon as
            # there is one: within a few frames' time of the answer, nearly
            # always (a saver that waits for something else is slower).
            late = [g for g in gaps if g > 0.12]
            check(len(late) <= max(2, len(gaps) // 10), '%s: %d of %d answers waited more than 120 ms for a commit (%s)' % (
                name, len(late), len(gaps), sorted(round(g * 1000) for g in late)[-5:]))
            check(most <= 3, '%s: the compositor held %d buffers at once' % (name, most))
            # Held that long, a frame fell due meanwhile: the third buffer should have been made.
            check(starved < 0.1, '%s: the compositor held every buffer the saver had for %.0f ms, fewer than three, and no other was made' % (
                name, 1000 * starved))
            # One commit a frame, however many outputs a surface shows.
            check(r <= 1.15 * fps + 1, '%s: %.1f buffers/s for %.1f frames/s' % (name, r, fps))

        if d.capture:
            print('%s: captures (frames before, after, step): %s' % (d.name, samples))
            steps = [st for _, _, st in samples if st is not None]
            check(len(steps) >= 3, 'fewer than 3 captures showed a rendered frame')
            check(len(set(steps)) >= min(3, len(samples)), 'the same frames for seconds: %s' % steps)
    finally:
        q.close()


def commits_between(s, name, since, until):
    """Buffers committed to the pictures of the output `name` between two times."""
    return sum(1 for sid, n, _, _ in s.shown() if n == name
               for pic in {sid, s.picture(sid)} for t, b, _ in s.surfaces[pic]['commits'] if b and since <= t <= until)


def case_power(d):
    """Outputs the compositor switches off get no buffers, and the others go
    on; with every output off nothing is committed at all; switched on
    again, each shows the frame of the moment, exact, and the frames go on.
    sway switches outputs one by one (zwlr_output_power_v1); Mutter all at
    once (PowerSaveMode on the session bus). What it all costs is the
    compositor bench's to measure."""
    q = d.saver()
    started = time.monotonic()
    inp = d.input()
    try:
        shown(d, len(d.outputs))
        frames_on(d, d.outputs, same=False)
        check(poll(lambda: q.frames_drawn() > 25, 20), 'the saver draws no frames')
        names = [o.name for o in d.outputs]
        if d.power_each:
            d.power(False, d.outputs[1])
            time.sleep(1)  # what was under way before the switch
            t0 = time.monotonic()
            time.sleep(3)
            t1 = time.monotonic()
            s = d.summary()
            off, on = commits_between(s, names[1], t0, t1), commits_between(s, names[0], t0, t1)
            print('%s: %s off: %d buffers there, %d on %s in %.1f s' % (d.name, names[1], off, on, names[0], t1 - t0))
            check(off == 0, '%d buffers went to %s while it was off' % (off, names[1]))
            check(on >= 25, 'only %d buffers on %s while %s was off' % (on, names[0], names[1]))
        d.power(False)
        time.sleep(1)
        t0 = time.monotonic()
        time.sleep(3)
        t1 = time.monotonic()
        s = d.summary()
        dark = {n: commits_between(s, n, t0, t1) for n in names}
        print('%s: every output off: buffers %s in %.1f s' % (d.name, dark, t1 - t0))
        check(not any(dark.values()), 'buffers went to outputs that were off: %s' % dark)
        check(q.alive(), 'the saver ended while the outputs were off: ' + q.error())
        d.power(True)
        # Space held: the same frame on both while they are captured one after
        # the other. The sweep went on in the dark: 25 steps a second at most,
        # and the frames that far are made now.
        inp.do('down space')
        most = int((time.monotonic() - started) * 25) + 50
        sweep = LaterRenders(max(0, most * 6 // 10 - 50), most + 300)
        steps = frames_on(d, d.outputs, renders=sweep)
        inp.do('up space')
        later = poll(lambda: frames_on(d, d.outputs[:1], renders=sweep)[0] > steps[0], 10, 0.1)
        check(later, 'the frames stand still after the outputs came on')
        print('%s: on again: the frame of step %d on %s, then later ones' % (d.name, steps[0], names))
    finally:
        inp.close()

def case_overview(d):
    """The saver started while GNOME shows its Overview, as it does at
    login: every monitor shows the saver's frame (not its windows as
    thumbnails among the Overview's), and the first Escape ends it."""
    check(poll(lambda: d.shell('OverviewActive') == '(<true>,)', 30, 0.2), 'no Overview at login')
    inp = d.input()
    q = d.saver()
    try:
        shown(d, len(d.outputs))
        faults = []
        try:
            print('%s: over the Overview, the frames of steps %s' % (d.name, frames_on(d, d.outputs, same=False)))
        except Failure as e:
            faults.append(str(e))
        inp.do('key Escape')
        if poll(lambda: not q.alive(), 10, 0.1):
            check(q.wait_exit() == 0, 'Escape did not end the saver cleanly: ' + q.error())
            print('%s: the first Escape ended it' % d.name)
        else:
            faults.append('the first Escape did not end the saver (the Overview %s)' % (
                'closed' if d.shell('OverviewActive') == '(<false>,)' else 'still shows'))
        report(faults)
    finally:
        q.close()
        inp.close()


def case_pointer_rests(d):
    """The pointer resting over the picture on the second monitor when the
    saver starts, and never moved: it is hidden within 25 of the saver's
    frames there (1 s): the saver's surface there gets the pointer's enter,
    answered with set_cursor without a surface, and the capture (which
    draws the pointer) shows the frame alone."""
    inp = d.input()
    d.at_desktop(inp)
    out = d.outputs[1]
    d.point_at(inp, out, out.w // out.scale // 2, out.h // out.scale // 2)
    q = d.saver()
    try:
        sid, = [sid for sid, name, _, _ in shown(d, len(d.outputs)).shown() if name == out.name]

        def frames(s):
            pic = s.picture(sid)
            return [t for t, b, _ in s.surfaces[pic]['commits'] if b and b not in s.see_through]
        s = poll(lambda: (lambda s: len(frames(s)) > 25 and s)(d.summary()), 30, 0.2)
        check(s, 'the saver put fewer than 25 frames on %s' % out.name)
        shown_at = frames(s)
        enters = [t for t, e in s.pointer_enters if e == sid]
        if enters:
            print('%s: the pointer entered the surface on %s %.2f s after its first frame, after %d frames' % (
                d.name, out.name, enters[0] - shown_at[0], sum(1 for t in shown_at if t < enters[0])))
        check(enters and enters[0] <= shown_at[24], 'no pointer enter on the surface on %s in its first 25 frames '
              '(the pointer rests there, unmoved: its image stays over the picture)' % out.name)
        after = [c for c in s.cursor if c[0] >= enters[0]]
        check(after and after[0][1] == 0, 'no set_cursor without a surface after the pointer entered')
        print('%s: with the pointer resting on it, the frame of step %d on %s' % (
            d.name, frames_on(d, [out], cursor=True)[0], out.name))
    finally:
        q.close()
        inp.close()


def held_faults(d, outs, when):
    """Whether each monitor shows the saver whole: each capture the frame, and
    on the protocol the newest surface set full screen on each output
    configured with its size and showing its device pixels (a buffer of that
    size, or a black pixel stretched to the configured size with the picture
    on it)."""
    faults = []
    try:
        frames_on(d, outs, same=False)
    except Failure as e:
        faults.append('%s: %s' % (when, e))
    s = d.summary()
    for out in outs:
        mine = [sid for sid, sf in sorted(s.surfaces.items()) if s.output_name(sf['output']) == out.name]
        sf = s.surfaces[mine[-1]] if mine else None
        sizes = [c for _, c in sf['configures'] if c != (0, 0)] if sf else []
        last = sf['commits'][-1][2] if sf and sf['commits'] else None
        whole = last == (out.w, out.h) or (s.stretched(mine[-1]) and sf['destination'] == sizes[-1:][0]) if sf and sizes \
            else last == (out.w, out.h)
        print('%s: %s: on %s configured %s, last buffer %s, destination %s' % (
            d.name, when, out, sizes[-2:], last, sf and sf['destination']))
        if not sf:
            faults.append('%s: no surface set full screen on %s' % (when, out.name))
        elif (sizes and sizes[-1] != (out.w // out.scale, out.h // out.scale)) or not whole:
            faults.append('%s: the surface on %s (%dx%d) configured %s, showing a buffer of %s' % (
                when, out.name, out.w, out.h, sizes[-1] if sizes else None, last))
    return faults


def case_monitor_plugged(d):
    """A monitor added while the saver runs, then removed: after each change
    every monitor shows the saver whole, each surface full screen on its own
    output at its size (the captured ones show the frame)."""
    inp = d.input()
    d.at_desktop(inp)
    q = d.saver()
    try:
        shown(d, len(d.outputs))
        first = list(d.outputs)
        faults = held_faults(d, first, 'before')
        added = d.add_monitor(1280, 720)
        shown(d, len(d.outputs))
        faults += held_faults(d, d.outputs, '%s added' % added.name)
        d.remove_monitor()
        faults += held_faults(d, first, '%s removed' % added.name)
        check(q.alive(), 'the saver ended: ' + q.error())
        report(faults)
    finally:
        q.close()
        inp.close()


def case_shield(d):
    """GNOME's own shield at its idle delay (10 s, after the watcher's 5 s)
    ends the saver the watcher started, and no saver starts beneath it, even
    after a key at its lock screen."""
    sys.path.insert(0, os.path.join(os.path.dirname(HERE), 'idle'))
    from idle_e2e import Watcher, no_saver, one_saver, savers
    d.run('gsettings', 'set', 'org.gnome.desktop.session', 'idle-delay', '10')
    inp = d.input()
    d.at_desktop(inp)
    w = Watcher(d, 5, {'WAYLAND_DISPLAY': d.proxy.name})
    try:
        pid = one_saver(d, w, 'idle 5 s')
        print('%s: idle 5 s: saver %d' % (d.name, pid))
        active = poll(lambda: d.screen_saver('GetActive') == '(true,)' or None, 60, 0.2)
        check(active, 'GNOME\'s shield did not come')
        no_saver(d, w, 'the shield came')
        print('%s: the shield came; the saver ended' % d.name)
        for label in ('beneath the shield', 'after a key at the lock screen'):
            if label.startswith('after'):
                inp.do('key a')
            end = time.monotonic() + 12
            while time.monotonic() < end:
                check(not savers(d, w), 'a saver started %s' % label)
                time.sleep(0.2)
            print('%s: no saver in 12 s %s' % (d.name, label))
        check(w.alive(), 'the watcher ended: ' + w.error())
    finally:
        w.close()
        inp.close()


def saver_windows(d):
    """KWin's windows of the saver (neither Plasma's nor KWin's own) once
    it shows on every output, and all the windows."""
    def found():
        every = d.windows()
        mine = [w for w in every if w['cls'] not in ('org.kde.plasmashell', 'kwin_wayland')]
        return len(mine) >= len(d.outputs) and (mine, every)
    result = poll(found, 30, 0.5)
    check(result, 'KWin lists no window of the saver on every output: %s' % d.windows())
    return result


def case_above_panels(d):
    """The saver with Plasma's panels: a window of the saver covers each
    output whole, stacked above every panel."""
    q = d.saver()
    try:
        shown(d, len(d.outputs))
        mine, every = saver_windows(d)
        docks = [w for w in every if w['dock']]
        print('%s: panels %s; the saver %s' % (d.name, docks, mine))
        check(docks, 'Plasma shows no panel')
        faults = ['%s not covered whole' % o for o in d.outputs
                  if not any((w['x'], w['y'], w['w'], w['h']) == (o.x, o.y, o.w // o.scale, o.h // o.scale)
                             for w in mine)]
        faults += ['the saver\'s window %s under the panel %s' % (w, p) for w in mine for p in docks
                   if w['order'] < p['order']]
        check(q.alive(), 'the saver ended: ' + q.error())
        report(faults)
    finally:
        q.close()


def case_locker(d):
    """Plasma's screen locker beside the saver: locked while the saver runs,
    its greeter's windows come above the saver's on every output."""
    q = d.saver()
    try:
        shown(d, len(d.outputs))
        mine, _ = saver_windows(d)
        d.screen_saver('Lock')
        check(poll(lambda: d.screen_saver('GetActive') == '(true,)', 30, 0.5), 'the screen locker did not lock')

        def above():
            lock = [w for w in d.windows() if w['cls'] == 'kwin_wayland']
            return len(lock) >= len(d.outputs) and all(w['order'] > m['order'] for w in lock for m in mine) and lock
        lock = poll(above, 30, 0.5)
        check(lock, 'the lock screen is not above the saver on every output: %s' % d.windows())
        print('%s: locked; the lock screen %s above the saver %s' % (d.name, lock, mine))
    finally:
        q.close()


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith('case_')}


def main():
    global ARGS
    p = argparse.ArgumentParser()
    for opt in ('--quellora', '--input', '--renders', '--render', '--work'):
        p.add_argument(opt, required=True)
    p.add_argument('compositor', choices=sorted(COMPOSITORS))
    p.add_argument('case', choices=sorted(CASES))
    ARGS = p.parse_args()
    os.makedirs(ARGS.work, exist_ok=True)
    x11_e2e.ARGS = wl.ARGS = ARGS
    kind = COMPOSITORS[ARGS.compositor]

    def make():
        if not shutil.which(COMMANDS[kind.name]):
            raise Skip('%s is not installed (apt install %s)' % (kind.name, PACKAGES.get(kind.name, kind.name)))
        wl.need_test_user()
        if ARGS.case in ('two_outputs', 'pointer_rests') and kind.name not in TWO:
            raise Skip('%s has one output only' % kind.name)
        if kind.no_input and ARGS.case in ('key', 'cursor', 'power', 'pointer_rests'):
            raise Skip(kind.no_input)
        if ARGS.case == 'power' and kind.power is Desktop.power:
            raise Skip('%s: no way to switch its outputs off here' % kind.name)
        if ARGS.case in NEEDS and not hasattr(kind, NEEDS[ARGS.case][0]):
            raise Skip('%s has no %s' % (kind.name, NEEDS[ARGS.case][1]))
        return kind(TWO[kind.name] if ARGS.case in TWO_CASES and kind.name in TWO else
                    ONE.get(kind.name, [(1280, 1024, 1)]))
    return wl.run_case(make, CASES[ARGS.case])


if __name__ == '__main__':
    sys.exit(main())
