#!/usr/bin/env python3
"""Writes the damaged media fixtures: files cut short or claiming more than they hold, each made
from a whole fixture of this folder so that only the damage differs. The readers describe what
is there and say what is missing; a slideshow refuses them.

Run from anywhere: python3 make_damaged.py (after make_fixtures.sh, whose files it reads)."""
import os
import struct

os.chdir(os.path.dirname(os.path.abspath(__file__)))


def read(name):
    return open(name, 'rb').read()


def write(name, data):
    open(name, 'wb').write(data)


def bmps():
    # Run-length data cut in its middle: no end-of-picture marker.
    rle = read('bmp8_rle8.bmp')
    offset = struct.unpack_from('<I', rle, 10)[0]
    write('damaged_bmp8_rle8_cut.bmp', rle[:offset + (len(rle) - offset) // 2])
    # The 12-byte header form, whose table always has 2^bits entries, with 16 of its 256
    # three-byte colours and then the rows: the file ends before the table would.
    core = read('bmp8_core.bmp')
    rows = core[struct.unpack_from('<I', core, 10)[0]:]
    short = bytearray(core[:14 + 12 + 48] + rows)
    struct.pack_into('<II', short, 2, len(short), 0)
    struct.pack_into('<I', short, 10, 14 + 12 + 48)
    write('damaged_bmp8_core_short_table.bmp', bytes(short))
    # Plain rows cut: two rows of 17 pixels at 24 bits are missing.
    whole = read('bmp24.bmp')
    write('damaged_bmp24_cut_rows.bmp', whole[:len(whole) - 2 * 52])
    # 1080 bytes declaring 32768 x 32767 pixels at 8 bits (a gigabyte), run-length data that
    # moves down the picture and ends properly.
    table = bytes(1024)
    runs = bytearray()
    while len(runs) + 6 <= 1080 - 14 - 40 - 1024 - 2:
        runs += bytes([0, 2, 255, 255])
    runs += bytes([0, 1])
    info = struct.pack('<IiiHHIIiiII', 40, 32768, 32767, 1, 8, 1, len(runs), 0, 0, 0, 0)
    pixels_at = 14 + len(info) + len(table)
    head = b'BM' + struct.pack('<IHHI', pixels_at + len(runs), 0, 0, pixels_at)
    bomb = head + info + table + bytes(runs)
    write('damaged_bmp8_rle8_huge.bmp', bomb + bytes(1080 - len(bomb)))


def jpeg_segments(data):
    """(marker, offset, end) of each segment up to the start of scan."""
    at = 2
    while at < len(data):
        marker = data[at + 1]
        length = data[at + 2] << 8 | data[at + 3]
        yield marker, at, at + 2 + length
        if marker == 0xDA:
            return
        at += 2 + length


def jpegs():
    whole = read('jpeg_baseline_640x480.jpg')
    segments = list(jpeg_segments(whole))
    frame_end = next(end for marker, _, end in segments if marker == 0xC0)
    scan_end = segments[-1][2]
    write('damaged_jpeg_cut_after_frame.jpg', whole[:frame_end])
    write('damaged_jpeg_cut_in_scan.jpg', whole[:scan_end + (len(whole) - scan_end) // 2])


def chunk(cid, body):
    return cid + struct.pack('<I', len(body)) + body + (b'\0' if len(body) % 2 else b'')


def wavs():
    fmt = chunk(b'fmt ', struct.pack('<HHIIHH', 1, 1, 11025, 11025, 1, 8))
    samples = bytes((i * 5) & 0xFF for i in range(200))
    data = b'data' + struct.pack('<I', 0xFFFFFFF0) + samples
    body = b'WAVE' + fmt + data
    write('damaged_wav_data_claims_4g.wav', b'RIFF' + struct.pack('<I', 0xFFFFFFF8) + body)


def mp3s():
    # A Xing header whose frame count says 0xFFFFFFFF (its other fields are as the encoder wrote).
    whole = bytearray(read('mp3_vbr_xing.mp3'))
    at = whole.find(b'Xing')
    flags = struct.unpack_from('>I', whole, at + 4)[0]
    assert flags & 1
    struct.pack_into('>I', whole, at + 8, 0xFFFFFFFF)
    write('damaged_mp3_xing_lying_count.mp3', bytes(whole))
    # An ID3v2.3 title that says it is UTF-8 (encoding 3) but is not, before the same audio.
    title = b'\x03Caf\xe9 \xc3\x28 \xff\xfe end'
    frame = b'TIT2' + struct.pack('>I', len(title)) + b'\0\0' + title
    size = len(frame)
    syncsafe = bytes([(size >> 21) & 127, (size >> 14) & 127, (size >> 7) & 127, size & 127])
    write('damaged_id3v23_bad_utf8.mp3', b'ID3\x03\x00\x00' + syncsafe + frame +
          read('mp3_vbr_xing.mp3'))


bmps()
jpegs()
wavs()
mp3s()
