#!/bin/bash
# Makes the image and sound fixtures of the media tests. The files it writes are committed, so the
# tests need none of the tools; run it again (with ImageMagick's convert, ffmpeg with libmp3lame
# and python3) only to change them. Each BMP gets an .rgb file beside it: the pixels as
# ImageMagick decodes them, 8-bit red, green, blue, top row first, which the tests compare the
# reader's pixels with.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

# The source picture: 17 pixels wide (rows need padding at every depth), with a flat rectangle so
# that run-length data has runs as well as literals.
convert -size 17x9 -seed 7 plasma:fractal -fill '#3060c0' -draw 'rectangle 2,2 12,5' src.png
im() { convert src.png "$@"; }
im -colors 2 -type Palette -compress None BMP3:bmp1.bmp
im -colors 16 -type Palette -compress None BMP3:bmp4.bmp
im -colors 200 -type Palette -compress None BMP3:bmp8.bmp
im -colors 200 -type Palette -compress RLE BMP3:bmp8_rle8.bmp
im -colors 200 -type Palette BMP2:bmp8_core.bmp
im -type TrueColor BMP3:bmp24.bmp
im -define bmp:subtype=RGB565 BMP:bmp16_565.bmp
im -define bmp:subtype=RGB555 BMP:bmp16_555.bmp
im -alpha set -channel A -evaluate set 50% +channel BMP:bmp32_v5.bmp
im -alpha set -define bmp3:alpha=true BMP3:bmp32.bmp
rm src.png
python3 make_handmade.py
for f in bmp*.bmp; do convert "$f" -depth 8 "rgb:${f%.bmp}.rgb"; done

# JPEG size: a baseline and a progressive file of the same size.
convert -size 640x480 xc:'#808080' -strip -quality 30 jpeg_baseline_640x480.jpg
convert -size 640x480 xc:'#808080' -strip -quality 30 -interlace JPEG jpeg_progressive.jpg

ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
tone() { echo "sine=frequency=440:sample_rate=$1:duration=$2"; }
ff -f lavfi -i "$(tone 11025 2)" -ac 1 -c:a pcm_u8 wav_pcm8_mono_11025.wav
ff -f lavfi -i "$(tone 44100 0.1)" -ac 2 -c:a pcm_s16le wav_pcm16_stereo_44100.wav
ff -f lavfi -i "$(tone 44100 0.5)" -ac 2 -c:a libmp3lame -b:a 128k -f wav wav_mp3.wav
ff -f lavfi -i "$(tone 44100 0.5)" -ac 2 -c:a libmp3lame -b:a 128k -id3v2_version 3 \
  -write_id3v1 1 -metadata title='A Title' -metadata artist='An Artist' \
  -metadata album='An Album' -metadata date=2001 -metadata track=7 -metadata genre=Rock \
  -metadata comment='A comment' mp3_cbr128_tags.mp3
ff -f lavfi -i "$(tone 44100 0.5)" -ac 2 -c:a libmp3lame -q:a 4 -id3v2_version 0 \
  -map_metadata -1 mp3_vbr_xing.mp3
ff -f lavfi -i "$(tone 22050 0.5)" -ac 1 -c:a libmp3lame -b:a 32k -id3v2_version 0 \
  -map_metadata -1 mp3_mpeg2_mono.mp3
# Neither WAV nor MP3 by its extension.
printf 'OggS\0\2\0\0\0\0\0\0\0\0' >not_sound.ogg
# Damaged copies of the files above (cut short, lying headers).
python3 make_damaged.py
