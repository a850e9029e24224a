#!/usr/bin/python3
"""show_picture.py [animate] - a full-screen GTK 3 window showing the tests' known picture 1:1
(every pixel a distinct colour); with 'animate' a white bar moves along the top rows at each
frame clock tick, so every frame differs."""
import sys

import gi
gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GdkPixbuf, GLib, Gtk

W, H = 1280, 720


def pattern():
    # The same formula as KnownPixel in the tests.
    data = bytearray(W * H * 3)
    i = 0
    for y in range(H):
        for x in range(W):
            data[i] = (x * 255) // (W - 1)
            data[i + 1] = (y * 255) // (H - 1)
            data[i + 2] = (x ^ y) & 255
            i += 3
    return GdkPixbuf.Pixbuf.new_from_bytes(GLib.Bytes.new(bytes(data)), GdkPixbuf.Colorspace.RGB,
                                           False, 8, W, H, W * 3)


pix = pattern()
animate = len(sys.argv) > 1 and sys.argv[1] == "animate"
win = Gtk.Window(title="kestrova-test-picture")
area = Gtk.DrawingArea()
state = {"x": 0}


def draw(widget, cr):
    Gdk.cairo_set_source_pixbuf(cr, pix, 0, 0)
    cr.paint()
    if animate:
        cr.set_source_rgb(1, 1, 1)
        cr.rectangle(state["x"], 0, 32, 16)
        cr.fill()
    return False


def tick(widget, clock):
    state["x"] = (state["x"] + 8) % W
    widget.queue_draw()
    return True


area.connect("draw", draw)
if animate:
    area.add_tick_callback(tick)
win.add(area)
win.connect("destroy", Gtk.main_quit)
win.fullscreen()
win.show_all()
print("shown", flush=True)
Gtk.main()
