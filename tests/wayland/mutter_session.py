#!/usr/bin/python3
"""What the tests ask of a headless Mutter over its D-Bus API, on the
session bus of DBUS_SESSION_BUS_ADDRESS (Python 3 with gi; run as Mutter's
user): lays its monitors out (DisplayConfig), opens a remote-desktop session
with a screen cast of every monitor (the pointer drawn into the picture),
prints "stream CONNECTOR NODE" for each PipeWire stream and then "ready",
then does what each line of stdin says and answers "ok":
  key NAME | down NAME | up NAME    a key by its keysym's name
  to X Y CONNECTOR                  the pointer to (X, Y) of a monitor, logical pixels
  motion DX DY                      the pointer moved by DX, DY
  power MODE                        DisplayConfig's PowerSaveMode (0 on, 3 off)
  monitors                          "monitor CONNECTOR X Y SCALE W H" for each monitor

With --virtual it makes a monitor more instead: a virtual one, cast into a
screen cast session of its own; it prints "virtual NODE", the stream, whose
reader's size becomes the monitor's, and removes the monitor at the end of
stdin.

usage: mutter_session.py [CONNECTOR:X:Y:SCALE ...]   (the layout wanted; none: as it is)
       mutter_session.py --virtual
"""
import sys

from gi.repository import Gio, GLib

KEYSYMS = {'Escape': 0xff1b, 'space': 0x20, 'a': 0x61, 'Shift_L': 0xffe1}


SC, RD = 'org.gnome.Mutter.ScreenCast', 'org.gnome.Mutter.RemoteDesktop'


def call(bus, name, path, iface, method, args=None, reply=None):
    return bus.call_sync(name, path, iface, method, args, reply and GLib.VariantType(reply), Gio.DBusCallFlags.NONE,
                         10000, None)


def record(bus, session, method, args):
    """A stream of a screen cast session; its PipeWire node once the session
    is started."""
    path = call(bus, SC, session, SC + '.Session', method, args, '(o)').unpack()[0]
    node = []
    bus.signal_subscribe(SC, SC + '.Stream', 'PipeWireStreamAdded', path, None, Gio.DBusSignalFlags.NONE,
                         lambda *a: node.append(a[5].unpack()[0]))
    return path, node


def started(nodes):
    """Waits until every stream's node is known; whether they all are."""
    deadline = GLib.get_monotonic_time() + 10 * 1000000
    while not all(nodes) and GLib.get_monotonic_time() < deadline:
        GLib.MainContext.default().iteration(True)
    return all(nodes)


def virtual(bus):
    sc = call(bus, SC, '/org/gnome/Mutter/ScreenCast', SC, 'CreateSession', GLib.Variant('(a{sv})', ({},)),
              '(o)').unpack()[0]
    _, node = record(bus, sc, 'RecordVirtual', GLib.Variant('(a{sv})', ({'cursor-mode': GLib.Variant('u', 1)},)))
    call(bus, SC, sc, SC + '.Session', 'Start')
    print('virtual %d' % node[0] if started([node]) else 'no stream', flush=True)
    sys.stdin.read()
    call(bus, SC, sc, SC + '.Session', 'Stop')


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    if sys.argv[1:] == ['--virtual']:
        return virtual(bus)
    dc = ('org.gnome.Mutter.DisplayConfig', '/org/gnome/Mutter/DisplayConfig', 'org.gnome.Mutter.DisplayConfig')

    def state():
        return bus.call_sync(dc[0], dc[1], dc[2], 'GetCurrentState', None, None, Gio.DBusCallFlags.NONE, 10000,
                             None).unpack()

    def listed():
        serial, monitors, logical, _ = state()
        sizes = {m[0][0]: [(md[1], md[2]) for md in m[1] if md[6].get('is-current')][0] for m in monitors}
        return '\n'.join('monitor %s %d %d %g %d %d' % ((lm[5][0][0], lm[0], lm[1], lm[2]) + sizes[lm[5][0][0]])
                         for lm in logical)

    serial, monitors, logical, _ = state()
    connectors = [m[0][0] for m in monitors]
    if len(sys.argv) > 1:
        wanted = [a.split(':') for a in sys.argv[1:]]
        modes = {m[0][0]: [md for md in m[1] if md[6].get('is-current')][0][0] for m in monitors}
        config = [(int(x), int(y), float(scale), 0, i == 0, [(conn, modes[conn], {})])
                  for i, (conn, x, y, scale) in enumerate(wanted)]
        bus.call_sync(dc[0], dc[1], dc[2], 'ApplyMonitorsConfig',
                      GLib.Variant('(uua(iiduba(ssa{sv}))a{sv})', (serial, 1, config, {})), None,
                      Gio.DBusCallFlags.NONE, 10000, None)
        serial, monitors, logical, _ = state()
    print(listed(), flush=True)

    rd = call(bus, RD, '/org/gnome/Mutter/RemoteDesktop', RD, 'CreateSession', None, '(o)').unpack()[0]
    rd_id = call(bus, RD, rd, 'org.freedesktop.DBus.Properties', 'Get',
                 GLib.Variant('(ss)', (RD + '.Session', 'SessionId')), '(v)').unpack()[0]
    sc = call(bus, SC, '/org/gnome/Mutter/ScreenCast', SC, 'CreateSession',
              GLib.Variant('(a{sv})', ({'remote-desktop-session-id': GLib.Variant('s', rd_id)},)), '(o)').unpack()[0]
    streams = {conn: record(bus, sc, 'RecordMonitor', GLib.Variant('(sa{sv})', (conn, {
        'cursor-mode': GLib.Variant('u', 1)}))) for conn in connectors}
    call(bus, RD, rd, RD + '.Session', 'Start')
    if started([node for _, node in streams.values()]):
        for conn, (_, node) in streams.items():
            print('stream %s %d' % (conn, node[0]), flush=True)
    print('ready' if all(node for _, node in streams.values()) else 'no streams', flush=True)

    def session(method, args):
        call(bus, RD, rd, RD + '.Session', method, args)

    for line in sys.stdin:
        words = line.split()
        ok = True
        try:
            if words[0] in ('key', 'down', 'up') and words[1] in KEYSYMS:
                if words[0] != 'up':
                    session('NotifyKeyboardKeysym', GLib.Variant('(ub)', (KEYSYMS[words[1]], True)))
                if words[0] != 'down':
                    session('NotifyKeyboardKeysym', GLib.Variant('(ub)', (KEYSYMS[words[1]], False)))
            elif words[0] == 'to':
                session('NotifyPointerMotionAbsolute',
                        GLib.Variant('(sdd)', (streams[words[3]][0], float(words[1]), float(words[2]))))
            elif words[0] == 'motion':
                session('NotifyPointerMotionRelative', GLib.Variant('(dd)', (float(words[1]), float(words[2]))))
            elif words[0] == 'power':
                bus.call_sync(dc[0], dc[1], 'org.freedesktop.DBus.Properties', 'Set',
                              GLib.Variant('(ssv)', (dc[2], 'PowerSaveMode', GLib.Variant('i', int(words[1])))),
                              None, Gio.DBusCallFlags.NONE, 10000, None)
            elif words[0] == 'monitors':
                print(listed(), flush=True)
            else:
                ok = False
        except (GLib.Error, IndexError, KeyError) as e:
            print('error %s' % e, file=sys.stderr, flush=True)
            ok = False
        while GLib.MainContext.default().pending():
            GLib.MainContext.default().iteration(False)
        print('ok' if ok else 'bad', flush=True)


if __name__ == '__main__':
    main()
