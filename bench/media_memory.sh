#!/bin/bash
# Peak resident memory and time of `kestrova probe` and `kestrova slideshow` on hostile media
# files, for one or more kestrova binaries side by side: a 2 GB WAV (sparse: its header, then
# zeros), a 1080-byte RLE8 BMP that claims 32768x32767 pixels, and /dev/zero (probe only, cut off
# after 60 s). The status column is the command's exit status (1: refused).
# Usage: bench/media_memory.sh KESTROVA [KESTROVA...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fixtures=$here/../tests/data/media
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/huge.wav" <<'PY'
import struct, sys
data = (2 << 30) - 44
with open(sys.argv[1], 'wb') as f:
    f.write(b'RIFF' + struct.pack('<I', data + 36) + b'WAVE' + b'fmt ' +
            struct.pack('<IHHIIHH', 16, 1, 2, 44100, 44100 * 4, 4, 16) + b'data' +
            struct.pack('<I', data))
    f.truncate(2 << 30)
PY
bomb=$fixtures/damaged_bmp8_rle8_huge.bmp
picture=$fixtures/bmp24.bmp
printf '%-32s %-34s %7s %12s %8s\n' binary run status "peak RSS MB" "wall s"
measure() {
  local exe=$1 what=$2
  shift 2
  local status=0
  /usr/bin/time -f '%M %e' -o "$work/time" timeout 60 "$@" >/dev/null 2>&1 || status=$?
  read -r rss wall < <(tail -n 1 "$work/time") || true
  printf '%-32s %-34s %7s %12.1f %8.2f\n' "$exe" "$what" "$status" \
    "$(echo "${rss:-0} / 1024" | bc -l)" "${wall:-0}"
}
for exe in "$@"; do
  measure "$exe" "probe 2 GB WAV" "$exe" probe "$work/huge.wav"
  measure "$exe" "probe RLE BMP claiming 32768x32767" "$exe" probe "$bomb"
  measure "$exe" "probe /dev/zero" "$exe" probe /dev/zero
  measure "$exe" "slideshow --audio 2 GB WAV" "$exe" slideshow "$work/o.swf" "$picture" \
    --audio "$work/huge.wav"
  measure "$exe" "slideshow RLE BMP 32768x32767" "$exe" slideshow "$work/o.swf" "$bomb"
done
