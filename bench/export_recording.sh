#!/usr/bin/env bash
# Export of a 60 s 1920x1080 recording of the X11 desktop: time, peak memory and bytes of
# `kestrova export` to MP4 and to GIF. The recording is made first by `kestrova record` on a
# 1920x1080x24 Xvfb with the scripted activity of bench/x11/ActivityClient.cpp; the peak is that
# of the largest process of the export (kestrova or the ffmpeg it feeds), as the kernel counts a
# waited-for child's.
#
#   bench/export_recording.sh [BUILD_DIR]   (environment: SCENARIO=typing RUN_SECONDS=60
#                                            FORMATS="mp4 gif")
set -euo pipefail

BUILD="${1:-build}"
SCENARIO="${SCENARIO:-typing}"
RUN_SECONDS="${RUN_SECONDS:-60}"
FORMATS="${FORMATS:-mp4 gif}"
KESTROVA="$BUILD/app/kestrova"
ACTIVITY="$BUILD/bench/x11/x11_activity"
for tool in "$KESTROVA" "$ACTIVITY" Xvfb ffmpeg /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

source "$(dirname "${BASH_SOURCE[0]}")/x11_bench_common.sh"

"$ACTIVITY" "$DISPLAY_NAME" "$SCENARIO" &
BENCH_PIDS="$!"
sleep 2
DISPLAY="$DISPLAY_NAME" "$KESTROVA" record --platform x11 --full-screen -q \
  --seconds "$RUN_SECONDS" -o "$WORK/recording.swf" >/dev/null 2>"$WORK/record.log" ||
  { cat "$WORK/record.log" >&2; exit 1; }
frames=$("$KESTROVA" dump "$WORK/recording.swf" | sed -n 's/.*frame count[^0-9]*\([0-9]*\).*/\1/Ip' | head -1)
echo "recording: $SCENARIO, $RUN_SECONDS s of 1920x1080, ${frames:-?} frames," \
  "$(stat -c %s "$WORK/recording.swf") bytes"
printf '%-6s %8s %12s %14s\n' format "wall s" "peak RSS MB" "output bytes"
for format in $FORMATS; do
  /usr/bin/time -f '%M %e' -o "$WORK/time" "$KESTROVA" export "$WORK/recording.swf" \
    "$WORK/out.$format" >/dev/null 2>"$WORK/export.log" ||
    { cat "$WORK/export.log" >&2; exit 1; }
  read -r rss wall < <(tail -n 1 "$WORK/time")
  printf '%-6s %8.1f %12.1f %14s\n' "$format" "$wall" "$(echo "$rss / 1024" | bc -l)" \
    "$(stat -c %s "$WORK/out.$format")"
done
