#!/usr/bin/python3
"""show_picture.py [animate|typing|motion] - a full-screen GTK 3 window showing the tests' known
picture 1:1 (every pixel a distinct colour). animate: a white bar moves along the top rows at
each frame clock tick; typing: a character-sized block is added eight times a second, line after
line (the benchmark's typing); motion: the whole picture scrolls at each tick (full motion)."""
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
mode = sys.argv[1] if len(sys.argv) > 1 else "static"
animate = mode == "animate"
win = Gtk.Window(title="kestrova-test-picture")
area = Gtk.DrawingArea()
state = {"x": 0}


def draw(widget, cr):
    if mode == "motion":
        Gdk.cairo_set_source_pixbuf(cr, pix, -state["x"], 0)
        cr.paint()
        Gdk.cairo_set_source_pixbuf(cr, pix, W - state["x"], 0)
        cr.paint()
        return False
    Gdk.cairo_set_source_pixbuf(cr, pix, 0, 0)
    cr.paint()
    if mode == "typing":
        cr.set_source_rgb(0, 0, 0)
        for i in range(state["typed"]):
            cr.rectangle(40 + (i % 120) * 10, 40 + (i // 120) % 60 * 18, 8, 14)
        cr.fill()
    if animate:
        cr.set_source_rgb(1, 1, 1)
        cr.rectangle(state["x"], 0, 32, 16)
        cr.fill()
    return False


def tick(widget, clock):
    state["x"] = (state["x"] + 8) % W
    widget.queue_draw()
    return True


def type_one():
    state["typed"] += 1
    area.queue_draw_area(0, 0, W, H)
    return True


state["typed"] = 0
area.connect("draw", draw)
if animate or mode == "motion":
    area.add_tick_callback(tick)
if mode == "typing":
    GLib.timeout_add(125, type_one)
win.add(area)
win.connect("destroy", Gtk.main_quit)
win.fullscreen()
win.show_all()
print("shown", flush=True)
Gtk.main()
