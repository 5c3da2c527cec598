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

usage: mutter_session.py [CONNECTOR:X:Y:SCALE ...]   (the layout wanted; none: as it is)
"""
import sys

from gi.repository import Gio, GLib

KEYSYMS = {'Escape': 0xff1b, 'space': 0x20, 'a': 0x61, 'Shift_L': 0xffe1}


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    dc = ('org.gnome.Mutter.DisplayConfig', '/org/gnome/Mutter/DisplayConfig', 'org.gnome.Mutter.DisplayConfig')

    def state():
        return bus.call_sync(dc[0], dc[1], dc[2], 'GetCurrentState', None, None, Gio.DBusCallFlags.NONE, 10000,
                             None).unpack()

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
    for lm in logical:
        print('monitor %s %d %d %g' % (lm[5][0][0], lm[0], lm[1], lm[2]), flush=True)

    rd = bus.call_sync('org.gnome.Mutter.RemoteDesktop', '/org/gnome/Mutter/RemoteDesktop',
                       'org.gnome.Mutter.RemoteDesktop', 'CreateSession', None, GLib.VariantType('(o)'),
                       Gio.DBusCallFlags.NONE, 10000, None).unpack()[0]
    rd_id = bus.call_sync('org.gnome.Mutter.RemoteDesktop', rd, 'org.freedesktop.DBus.Properties', 'Get',
                          GLib.Variant('(ss)', ('org.gnome.Mutter.RemoteDesktop.Session', 'SessionId')),
                          GLib.VariantType('(v)'), Gio.DBusCallFlags.NONE, 10000, None).unpack()[0]
    sc = bus.call_sync('org.gnome.Mutter.ScreenCast', '/org/gnome/Mutter/ScreenCast', 'org.gnome.Mutter.ScreenCast',
                       'CreateSession', GLib.Variant('(a{sv})', ({'remote-desktop-session-id':
                                                                  GLib.Variant('s', rd_id)},)),
                       GLib.VariantType('(o)'), Gio.DBusCallFlags.NONE, 10000, None).unpack()[0]
    streams, nodes = {}, {}
    for conn in connectors:
        path = bus.call_sync('org.gnome.Mutter.ScreenCast', sc, 'org.gnome.Mutter.ScreenCast.Session',
                             'RecordMonitor', GLib.Variant('(sa{sv})', (conn, {'cursor-mode': GLib.Variant('u', 1)})),
                             GLib.VariantType('(o)'), Gio.DBusCallFlags.NONE, 10000, None).unpack()[0]
        streams[conn] = path

        def added(_bus, _sender, obj, _iface, _signal, params, conn=conn):
            nodes[conn] = params.unpack()[0]
        bus.signal_subscribe('org.gnome.Mutter.ScreenCast', 'org.gnome.Mutter.ScreenCast.Stream',
                             'PipeWireStreamAdded', path, None, Gio.DBusSignalFlags.NONE, added)
    bus.call_sync('org.gnome.Mutter.RemoteDesktop', rd, 'org.gnome.Mutter.RemoteDesktop.Session', 'Start', None,
                  None, Gio.DBusCallFlags.NONE, 10000, None)
    ctx = GLib.MainContext.default()
    deadline = GLib.get_monotonic_time() + 10 * 1000000
    while len(nodes) < len(connectors) and GLib.get_monotonic_time() < deadline:
        ctx.iteration(True)
    for conn, node in nodes.items():
        print('stream %s %d' % (conn, node), flush=True)
    print('ready' if len(nodes) == len(connectors) else 'no streams', flush=True)

    def session(method, args):
        bus.call_sync('org.gnome.Mutter.RemoteDesktop', rd, 'org.gnome.Mutter.RemoteDesktop.Session', method, args,
                      None, Gio.DBusCallFlags.NONE, 10000, None)

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
                        GLib.Variant('(sdd)', (streams[words[3]], float(words[1]), float(words[2]))))
            elif words[0] == 'motion':
                session('NotifyPointerMotionRelative', GLib.Variant('(dd)', (float(words[1]), float(words[2]))))
            elif words[0] == 'power':
                bus.call_sync(dc[0], dc[1], 'org.freedesktop.DBus.Properties', 'Set',
                              GLib.Variant('(ssv)', (dc[2], 'PowerSaveMode', GLib.Variant('i', int(words[1])))),
                              None, Gio.DBusCallFlags.NONE, 10000, None)
            else:
                ok = False
        except (GLib.Error, IndexError, KeyError) as e:
            print('error %s' % e, file=sys.stderr, flush=True)
            ok = False
        while ctx.pending():
            ctx.iteration(False)
        print('ok' if ok else 'bad', flush=True)


if __name__ == '__main__':
    main()
