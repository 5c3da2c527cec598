#!/usr/bin/python3
"""Stands in for GNOME's display manager on the system bus of
DBUS_SYSTEM_BUS_ADDRESS (Python 3 with gi): owns org.gnome.DisplayManager and
answers the Version property of its manager, which is what GNOME Shell asks
before it makes its screen shield (the fade, the lock, org.gnome.ScreenSaver).
Prints "ready" once it owns the name.
"""
from gi.repository import Gio, GLib

INTERFACE = '''<node><interface name="org.gnome.DisplayManager.Manager">
  <property name="Version" type="s" access="read"/>
</interface></node>'''


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SYSTEM, None)
    bus.register_object('/org/gnome/DisplayManager/Manager', Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0],
                        None, lambda *_: GLib.Variant('s', '43.0'), None)
    Gio.bus_own_name_on_connection(bus, 'org.gnome.DisplayManager', Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: print('ready', flush=True), None)
    GLib.MainLoop().run()


if __name__ == '__main__':
    main()
