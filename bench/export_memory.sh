#!/bin/bash
# Peak resident memory and time of `kestrova export` per output format, for one or more kestrova
# binaries side by side. The movie is a slideshow of changing 1280x720 pictures (SECONDS long, 25
# by default, at 12 frames a second) with a tone as its sound. The peak is that of the largest
# process (kestrova or the ffmpeg it feeds), as the kernel counts a waited-for child's.
# Usage: bench/export_memory.sh [--seconds N] [--size WxH] KESTROVA [KESTROVA...]
set -euo pipefail
seconds=25
size=1280x720
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    *) break ;;
  esac
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One picture a second, each a different frame of a moving test pattern.
ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=1" -frames:v "$seconds" \
  -pix_fmt bgr24 "$work/slide-%03d.bmp"
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=$seconds:sample_rate=44100" \
  "$work/tone.wav"
printf '%-40s %-8s %7s %12s %8s\n' binary format status "peak RSS MB" "wall s"
for exe in "$@"; do
  "$exe" slideshow "$work/movie.swf" "$work"/slide-*.bmp --seconds-each 1 \
    --audio "$work/tone.wav" >/dev/null 2>&1
  for format in gif mp4 webm png; do
    status=0
    /usr/bin/time -f '%M %e' -o "$work/time" "$exe" export "$work/movie.swf" \
      "$work/out.$format" >/dev/null 2>&1 || status=$?
    read -r rss wall < <(tail -n 1 "$work/time") || true
    printf '%-40s %-8s %7s %12.1f %8.2f\n' "$exe" "$format" "$status" \
      "$(echo "${rss:-0} / 1024" | bc -l)" "${wall:-0}"
  done
done
