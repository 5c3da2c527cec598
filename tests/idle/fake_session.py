#!/usr/bin/python3
"""Stands in for the desktop's services on the session bus, one line of
stdin at a time (each answered "ok"), after printing "ready":

- GNOME's session manager (org.gnome.SessionManager): IsInhibited(flags) and
  the InhibitedActions property, with InhibitorAdded/InhibitorRemoved and
  PropertiesChanged when "inhibit" or "uninhibit" comes; it starts inhibited
  unless --free is given. "callers" answers "callers N": how many
  connections have asked it so far.
- with --shields, the desktop's own screen shields, each off until a line
  turns it on: GNOME Shell's org.gnome.ScreenSaver ("gnome on|off"), KDE
  Plasma's org.freedesktop.ScreenSaver on /ScreenSaver ("kde on|off"), each
  with GetActive and ActiveChanged; and logind (org.freedesktop.login1, on
  the bus DBUS_SYSTEM_BUS_ADDRESS names, which the test points at this one)
  with GetSession and the session's LockedHint property ("locked on|off").
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INHIBIT_IDLE = 8
PROPERTIES = 'org.freedesktop.DBus.Properties'
SESSION_PATH = '/org/freedesktop/login1/session/_31'


class WithProperties(dbus.service.Object):
    """An object whose properties are read with Get and GetAll and change
    with PropertiesChanged."""
    interface = None

    def props(self):
        return {}

    @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v', sender_keyword='sender')
    def Get(self, interface, name, sender=None):
        self.asked(sender)
        return self.props()[name]

    @dbus.service.method(PROPERTIES, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return self.props()

    @dbus.service.signal(PROPERTIES, signature='sa{sv}as')
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    def changed(self, name):
        self.PropertiesChanged(self.interface, {name: self.props()[name]}, [])

    def asked(self, sender):
        pass


class SessionManager(WithProperties):
    interface = 'org.gnome.SessionManager'
    inhibited = INHIBIT_IDLE
    callers = set()

    def props(self):
        return {'InhibitedActions': dbus.UInt32(self.inhibited)}

    def asked(self, sender):
        self.callers.add(sender)

    @dbus.service.method('org.gnome.SessionManager', in_signature='u', out_signature='b', sender_keyword='sender')
    def IsInhibited(self, flags, sender=None):
        self.asked(sender)
        return bool(self.inhibited & flags)

    @dbus.service.signal('org.gnome.SessionManager', signature='o')
    def InhibitorAdded(self, path):
        pass

    @dbus.service.signal('org.gnome.SessionManager', signature='o')
    def InhibitorRemoved(self, path):
        pass

    def set(self, on):
        self.inhibited = INHIBIT_IDLE if on else 0
        path = '/org/gnome/SessionManager/Inhibitor1'
        (self.InhibitorAdded if on else self.InhibitorRemoved)(path)
        self.changed('InhibitedActions')


def screen_saver(interface):
    class ScreenSaver(dbus.service.Object):
        active = False

        @dbus.service.method(interface, out_signature='b')
        def GetActive(self):
            return self.active

        @dbus.service.signal(interface, signature='b')
        def ActiveChanged(self, active):
            pass

        def set(self, on):
            self.active = on
            self.ActiveChanged(on)
    return ScreenSaver


class Login(dbus.service.Object):
    @dbus.service.method('org.freedesktop.login1.Manager', in_signature='s', out_signature='o')
    def GetSession(self, name):
        return dbus.ObjectPath(SESSION_PATH)


class Session(WithProperties):
    interface = 'org.freedesktop.login1.Session'
    locked = False

    def props(self):
        return {'LockedHint': dbus.Boolean(self.locked)}

    def set(self, on):
        self.locked = on
        self.changed('LockedHint')


def on_line(source, condition):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    words = line.split()
    if words == ['callers']:
        print('callers %d' % len(manager.callers), flush=True)
        return True
    if words and words[0] in ('inhibit', 'uninhibit'):
        manager.set(words[0] == 'inhibit')
    elif len(words) == 2 and words[0] in shields:
        shields[words[0]].set(words[1] == 'on')
    else:
        print('unknown: ' + line.strip(), flush=True)
        return True
    print('ok', flush=True)
    return True


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
names = [dbus.service.BusName('org.gnome.SessionManager', bus)]
manager = SessionManager(bus, '/org/gnome/SessionManager')
if '--free' in sys.argv:
    manager.inhibited = 0
shields = {}
if '--shields' in sys.argv:
    names += [dbus.service.BusName(n, bus) for n in
              ('org.gnome.ScreenSaver', 'org.freedesktop.ScreenSaver', 'org.freedesktop.login1')]
    shields['gnome'] = screen_saver('org.gnome.ScreenSaver')(bus, '/org/gnome/ScreenSaver')
    shields['kde'] = screen_saver('org.freedesktop.ScreenSaver')(bus, '/ScreenSaver')
    Login(bus, '/org/freedesktop/login1')
    shields['locked'] = Session(bus, SESSION_PATH)
loop = GLib.MainLoop()
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_line)
print('ready', flush=True)
loop.run()
