#!/usr/bin/env python3
"""Writes the media fixtures that ImageMagick and ffmpeg do not: BMP forms they never write
(RLE4, top-down rows, bit fields after a 40-byte header, masks in an unusual order, 16 bits
without masks) derived from the files they did write, and sound files built byte by byte
(RIFF chunk oddities, a VBRI header, an ID3v2.3 tag with chosen frames).

Run by make_fixtures.sh in this folder, after the ImageMagick and ffmpeg steps."""
import struct

def read_bmp(name):
    data = open(name, 'rb').read()
    offset = struct.unpack_from('<I', data, 10)[0]
    header_size = struct.unpack_from('<I', data, 14)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    bits = struct.unpack_from('<H', data, 28)[0]
    return data, offset, header_size, width, height, bits


def stride(width, bits):
    return (width * bits + 31) // 32 * 4


def write_bmp(name, width, height, bits, compression, pixels, table=b'', header_size=40):
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, compression, len(pixels),
                       2835, 2835, 0, 0)
    info += b'\0' * (header_size - 40)
    offset = 14 + len(info) + len(table)
    head = b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset)
    open(name, 'wb').write(head + info + table + pixels)


def rows_of(data, offset, width, height, bits):
    s = stride(width, bits)
    return [data[offset + r * s: offset + (r + 1) * s] for r in range(abs(height))]


def top_down():
    data, offset, hs, w, h, bits = read_bmp('bmp24.bmp')
    rows = rows_of(data, offset, w, h, bits)
    write_bmp('bmp24_topdown.bmp', w, -h, 24, 0, b''.join(reversed(rows)))


def rle4():
    data, offset, hs, w, h, bits = read_bmp('bmp4.bmp')
    table = data[14 + hs: offset]
    out = bytearray()
    for row in rows_of(data, offset, w, h, 4):
        px = [(row[x // 2] >> 4) if x % 2 == 0 else (row[x // 2] & 15) for x in range(w)]
        x = 0
        while x < w:
            n = 1
            while x + n < w and px[x + n] == px[x] and n < 255:
                n += 1
            if n >= 3 or w - x < 3:
                out += bytes([n, px[x] << 4 | px[x]])
                x += n
                continue
            # A literal until the next run of three starts; odd lengths exercise the padding.
            m = 3
            while x + m < w and m < 255 and not (x + m + 2 < w and px[x + m] == px[x + m + 1] == px[x + m + 2]):
                m += 1
            lit = px[x:x + m] + [0]
            body = bytes(lit[i] << 4 | lit[i + 1] for i in range(0, m, 2))
            out += bytes([0, m]) + body + (b'\0' if len(body) % 2 else b'')
            x += m
        out += b'\0\0'
    out += b'\0\1'
    write_bmp('bmp4_rle4.bmp', w, h, 4, 2, bytes(out), table)


def bit_fields():
    data, offset, hs, w, h, bits = read_bmp('bmp16_565.bmp')
    pixels = data[offset: offset + stride(w, 16) * abs(h)]
    write_bmp('bmp16_565_info40.bmp', w, h, 16, 3, pixels, struct.pack('<III', 0xF800, 0x07E0, 0x001F))
    data, offset, hs, w, h, bits = read_bmp('bmp16_555.bmp')
    pixels = data[offset: offset + stride(w, 16) * abs(h)]
    write_bmp('bmp16_plain.bmp', w, h, 16, 0, pixels)
    # 32 bits with red in the low byte and blue in the third: the reader must repack.
    data, offset, hs, w, h, bits = read_bmp('bmp24.bmp')
    out = bytearray()
    for row in rows_of(data, offset, w, h, 24):
        for x in range(w):
            b, g, r = row[3 * x: 3 * x + 3]
            out += bytes([r, g, b, 0x5A])
    write_bmp('bmp32_masks_rgb.bmp', w, h, 32, 3, bytes(out),
              struct.pack('<III', 0x000000FF, 0x0000FF00, 0x00FF0000))


def chunk(cid, body):
    return cid + struct.pack('<I', len(body)) + body + (b'\0' if len(body) % 2 else b'')


def pcm_fmt(channels, rate, bits, extra=b''):
    align = channels * bits // 8
    return struct.pack('<HHIIHH', 1, channels, rate, rate * align, align, bits) + extra


def riff(*chunks):
    body = b'WAVE' + b''.join(chunks)
    return b'RIFF' + struct.pack('<I', len(body)) + body


def wavs():
    samples = bytes((i * 7) & 0xFF for i in range(1001))
    # An odd-sized chunk before "fmt " (its pad byte must be skipped), and a "fmt " chunk of 300
    # bytes of which only the start counts.
    open('wav_odd_chunks.wav', 'wb').write(riff(
        chunk(b'junk', b'abc'), chunk(b'fmt ', pcm_fmt(1, 8000, 8, b'\0' * 284)),
        chunk(b'data', samples)))
    # No "data" chunk.
    open('wav_no_data.wav', 'wb').write(riff(chunk(b'fmt ', pcm_fmt(2, 44100, 16))))
    # A "data" chunk that claims more than its parent holds.
    bad = riff(chunk(b'fmt ', pcm_fmt(1, 8000, 8)), chunk(b'data', samples))
    bad = bad[:-len(samples) - 5] + struct.pack('<I', 0x7FFFFFF0) + bad[-len(samples) - 1:]
    open('wav_data_overrun.wav', 'wb').write(bad)
    # Zero channels and zero bits: the sample count is undefined.
    open('wav_zero_channels.wav', 'wb').write(riff(
        chunk(b'fmt ', struct.pack('<HHIIHH', 1, 0, 8000, 0, 0, 0)), chunk(b'data', samples)))


MP3_HEADER = bytes([0xFF, 0xFB, 0x90, 0x44])  # MPEG 1 Layer III, 128 kbit/s, 44100 Hz, joint stereo


def mp3_frames(count, first=None):
    frames = bytearray()
    for i in range(count):
        body = bytearray(417 - 4)
        body[10:14] = bytes([i & 0xFF, 0x55, 0xAA, 0x11])
        if i == 0 and first is not None:
            body[:len(first)] = first
        frames += MP3_HEADER + body
    return bytes(frames)


def vbri():
    # The VBRI header sits 32 bytes after the 4-byte frame header (36 from the frame's start).
    head = bytearray(32) + b'VBRI' + struct.pack('>HHHII', 1, 0x0D5C, 80, 12345 * 417, 12345)
    open('mp3_vbri.mp3', 'wb').write(mp3_frames(8, bytes(head)))


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def id3v23(frames, pad=0):
    body = b''.join(fid + struct.pack('>I', len(text)) + b'\0\0' + text for fid, text in frames)
    body += b'\0' * pad
    return b'ID3\x03\x00\x00' + syncsafe(len(body)) + body


def id3():
    tag = id3v23([(b'TIT2', b'\0Song'), (b'TRCK', b'\x003/12'), (b'TCON', b'\0(17)'),
                  (b'TPE1', b'\0First'), (b'TPE1', b'\0Second'),
                  (b'COMM', b'\0engA comment'), (b'TXXX', b'\0skipped')])
    open('id3v23_frames.mp3', 'wb').write(tag + mp3_frames(6))
    # A frame whose size runs past the tag and the file.
    bad = id3v23([(b'TIT2', b'\0Cut')])
    bad = bad[:14] + struct.pack('>I', 0x00FFFFFF) + bad[18:]
    open('id3v23_frame_overrun.mp3', 'wb').write(bad + mp3_frames(5))
    # A 2-kilobyte tag before the audio: the frame search starts after it.
    open('id3v23_2k.mp3', 'wb').write(id3v23([(b'TIT2', b'\0Padded')], pad=2048) + mp3_frames(6))


top_down()
rle4()
bit_fields()
wavs()
vbri()
id3()
