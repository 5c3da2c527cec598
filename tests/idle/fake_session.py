#!/usr/bin/python3
"""Stands in for GNOME's session manager on the session bus: owns
org.gnome.SessionManager and answers IsInhibited(flags) with whether an
inhibitor of idle (8) is there, which each line of stdin sets: "inhibit" or
"uninhibit" (answered "ok"); it starts inhibited and prints "ready".
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INHIBIT_IDLE = 8


class SessionManager(dbus.service.Object):
    inhibited = INHIBIT_IDLE

    @dbus.service.method('org.gnome.SessionManager', in_signature='u', out_signature='b')
    def IsInhibited(self, flags):
        return bool(self.inhibited & flags)


def on_line(source, condition):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    manager.inhibited = INHIBIT_IDLE if line.strip() == 'inhibit' else 0
    print('ok', flush=True)
    return True


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName('org.gnome.SessionManager', bus)
manager = SessionManager(bus, '/org/gnome/SessionManager')
loop = GLib.MainLoop()
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_line)
print('ready', flush=True)
loop.run()
