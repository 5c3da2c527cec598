#!/usr/bin/python3
"""Input through Mutter's RemoteDesktop interface on the session bus: a
session made and started at the start (Mutter ends it when this client
leaves the bus), then what each line of stdin says, answering "ok":
    key KEYSYM      press and release the key of the keysym (a number)
    motion DX DY    move the pointer by DX, DY
"""
import sys

import dbus

NAME = 'org.gnome.Mutter.RemoteDesktop'
bus = dbus.SessionBus()
path = bus.get_object(NAME, '/org/gnome/Mutter/RemoteDesktop').CreateSession(dbus_interface=NAME)
session = dbus.Interface(bus.get_object(NAME, path), NAME + '.Session')
session.Start()
print('ready', flush=True)
for line in sys.stdin:
    words = line.split()
    if words[0] == 'key':
        for down in (True, False):
            session.NotifyKeyboardKeysym(dbus.UInt32(int(words[1])), down)
    elif words[0] == 'motion':
        session.NotifyPointerMotionRelative(float(words[1]), float(words[2]))
    print('ok', flush=True)
