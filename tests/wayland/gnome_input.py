#!/usr/bin/python3
"""gnome_input.py click X Y | move X Y | key KEYSYM... | answer FILE SECONDS X Y [X Y]... - input
into the headless compositor through org.gnome.Mutter.RemoteDesktop: how the tests answer the
portal's consent dialog. answer clicks the points in turn, twice a second, until FILE exists (the
recorder has its answer) or SECONDS have passed, in one remote-desktop session."""
import os
import sys
import time

import dbus

bus = dbus.SessionBus()
rd = dbus.Interface(bus.get_object("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop"),
                    "org.gnome.Mutter.RemoteDesktop")
rpath = rd.CreateSession()
rsess_obj = bus.get_object("org.gnome.Mutter.RemoteDesktop", rpath)
rsess = dbus.Interface(rsess_obj, "org.gnome.Mutter.RemoteDesktop.Session")
sid = rsess_obj.Get("org.gnome.Mutter.RemoteDesktop.Session", "SessionId",
                    dbus_interface=dbus.PROPERTIES_IFACE)
sc = dbus.Interface(bus.get_object("org.gnome.Mutter.ScreenCast", "/org/gnome/Mutter/ScreenCast"),
                    "org.gnome.Mutter.ScreenCast")
spath = sc.CreateSession(dbus.Dictionary({"remote-desktop-session-id": sid}, signature="sv"))
ssess = dbus.Interface(bus.get_object("org.gnome.Mutter.ScreenCast", spath),
                       "org.gnome.Mutter.ScreenCast.Session")
stream = ssess.RecordMonitor("", dbus.Dictionary({}, signature="sv"))
rsess.Start()
time.sleep(0.2)
if sys.argv[1] == "click":
    x, y = float(sys.argv[2]), float(sys.argv[3])
    rsess.NotifyPointerMotionAbsolute(stream, x, y)
    time.sleep(0.05)
    rsess.NotifyPointerButton(0x110, True)  # BTN_LEFT
    time.sleep(0.05)
    rsess.NotifyPointerButton(0x110, False)
elif sys.argv[1] == "answer":
    done, seconds = sys.argv[2], float(sys.argv[3])
    points = [(float(sys.argv[i]), float(sys.argv[i + 1])) for i in range(4, len(sys.argv), 2)]
    end = time.monotonic() + seconds
    while time.monotonic() < end and not os.path.exists(done):
        for x, y in points:
            rsess.NotifyPointerMotionAbsolute(stream, x, y)
            time.sleep(0.05)
            rsess.NotifyPointerButton(0x110, True)
            time.sleep(0.05)
            rsess.NotifyPointerButton(0x110, False)
            time.sleep(0.2)
elif sys.argv[1] == "move":
    rsess.NotifyPointerMotionAbsolute(stream, float(sys.argv[2]), float(sys.argv[3]))
else:
    for k in sys.argv[2:]:
        ks = int(k, 0)
        rsess.NotifyKeyboardKeysym(dbus.UInt32(ks), True)
        rsess.NotifyKeyboardKeysym(dbus.UInt32(ks), False)
        time.sleep(0.05)
time.sleep(0.2)
rsess.Stop()
