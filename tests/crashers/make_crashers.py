#!/usr/bin/env python3
"""Writes the inputs in this folder that once broke a reader or the commands built on it.

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


def bmp_bitfields(red, green, blue, width=2):
    """A 32-bit BMP with bit-field masks and one row of pixels."""
    info = struct.pack("<IiiHHIIiiII", 40, width, 1, 1, 32, 3, 0, 0, 0, 0, 0)
    masks = struct.pack("<III", red, green, blue)
    pixels = bytes(range(4 * width))
    offset = 14 + len(info) + len(masks)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + masks + pixels


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
    # Bit fields filling all 32 bits with blue and green: the red channel, empty, started at
    # bit 32, and repacking shifted by 32 bits.
    "bmp_red_at_bit32.bmp": bmp_bitfields(0, 0x0000FFFF, 0xFFFF0000),
    # A sprite holding an unknown tag and an unreadable StartSound.
    "sprite_inner.swf": plain(
        record(39, b"\x01\x00\x01\x00" + record(3, b"\x77") + record(15, b"\x05\x00\x01")
               + record(1, b"") + record(0, b""))
        + record(1, b"") + record(0, b"")),
    # An ImportAssets whose count claims five assets where two are stored: the join took the
    # error tag standing in for it for an ImportAssets and counted garbage as its assets.
    "import_assets_damaged.swf": plain(
        record(57, b"a.swf\x00" + b"\x05\x00" + b"\x01\x00name1\x00" + b"\x02\x00name2\x00")),
    # A record of a code without a class cut off by the end of the file: the join copied it as
    # it stood, and its claimed length swallowed the sprite written after it.
    "join_cut_record.swf": plain(record(200, b"\x01\x02\x03\x04\x05\x06"))[:-3],
}

for name, data in FILES.items():
    with open(name, "wb") as f:
        f.write(data)
