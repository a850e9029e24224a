#!/usr/bin/python3
"""wayland_floor.py SECONDS TIMEFILE GRABBER - the benchmark's floor: mutter's own screen cast of the
monitor (org.gnome.Mutter.ScreenCast, the pointer as metadata, no dialog) consumed by
GRABBER (bench/wayland_floor_grab.c built) for SECONDS, under /usr/bin/time (user, system, peak
KB into TIMEFILE). Prints the grabber's frames=N."""
import re
import subprocess
import sys

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

secs, timefile, grabber = sys.argv[1], sys.argv[2], sys.argv[3]
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
sc = dbus.Interface(bus.get_object("org.gnome.Mutter.ScreenCast", "/org/gnome/Mutter/ScreenCast"),
                    "org.gnome.Mutter.ScreenCast")
spath = sc.CreateSession(dbus.Dictionary({}, signature="sv"))
session = dbus.Interface(bus.get_object("org.gnome.Mutter.ScreenCast", spath),
                         "org.gnome.Mutter.ScreenCast.Session")
stpath = session.RecordMonitor("", dbus.Dictionary({"cursor-mode": dbus.UInt32(2)},
                                                   signature="sv"))
node = []
loop = GLib.MainLoop()


def added(node_id):
    node.append(int(node_id))
    loop.quit()


bus.add_signal_receiver(added, signal_name="PipeWireStreamAdded",
                        dbus_interface="org.gnome.Mutter.ScreenCast.Stream", path=stpath)
session.Start()
GLib.timeout_add_seconds(10, loop.quit)
loop.run()
if not node:
    print("no stream")
    sys.exit(1)
out = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", timefile, grabber, "-1",
                      str(node[0]), secs, "/dev/null", "0"], capture_output=True, text=True)
session.Stop()
m = re.search(r"frames=\d+", out.stdout)
print(m.group(0) if m else "frames=0")
