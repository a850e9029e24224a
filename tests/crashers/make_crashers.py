#!/usr/bin/env python3
"""Writes the inputs in this folder that once broke the SWF reader or the commands built on it.

Run from this folder: python3 make_crashers.py
"""
import struct
import zlib


def plain(body, version=5):
    head = b"\x00" + struct.pack("<HH", 12 << 8, 1)  # empty RECT, 12 fps, 1 frame
    return b"FWS" + bytes([version]) + struct.pack("<I", 8 + len(head) + len(body)) + head + body


def compressed(body, claimed=None, version=6):
    head = b"\x00" + struct.pack("<HH", 12 << 8, 1)
    length = 8 + len(head) + len(body) if claimed is None else claimed
    return b"CWS" + bytes([version]) + struct.pack("<I", length) + zlib.compress(head + body)


def record(code, body, long_form=False):
    if long_form or len(body) > 62:
        return struct.pack("<HI", (code << 6) | 0x3F, len(body)) + body
    return struct.pack("<H", (code << 6) | len(body)) + body


FILES = {
    # rewrite dereferenced a missing error object for any stored tag of code 240.
    "code240.swf": plain(record(240, b"") + record(1, b"") + record(0, b"")),
    # 4 MB of zero bytes (two million End tags) in a file of a few kilobytes: memory budget.
    "zeros4mb.swf": compressed(b"\x00" * (4 << 20)),
    # A header claiming far more than the zlib data holds, and one claiming less.
    "claims_more.swf": compressed(record(1, b"") + record(0, b""), claimed=0xFFFFFFF0),
    "claims_less.swf": compressed(record(1, b"") * 50 + record(0, b""), claimed=20),
    # A version 5 font name in Windows-1252 rewritten compressed (version 6): the tag-by-tag
    # rewrite read it as version 6, took it for UTF-8 and left it unconverted.
    "font_name_cp1252.swf": plain(
        record(13, b"\x01\x00" + b"\x02\xC7a" + b"\x00" + b"\x41\x42") + record(1, b"")
        + record(0, b"")),
    # A sprite holding an unknown tag and an unreadable StartSound.
    "sprite_inner.swf": plain(
        record(39, b"\x01\x00\x01\x00" + record(3, b"\x77") + record(15, b"\x05\x00\x01")
               + record(1, b"") + record(0, b""))
        + record(1, b"") + record(0, b"")),
}

for name, data in FILES.items():
    with open(name, "wb") as f:
        f.write(data)
