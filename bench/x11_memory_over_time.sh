#!/usr/bin/env bash
# Resident memory of `kestrova record` over a long recording of the X11 desktop, sampled every
# few seconds, to show whether it stays flat. One 1920x1080x24 Xvfb on a free display and the
# scripted activity of bench/x11/ActivityClient.cpp.
#
#   bench/x11_memory_over_time.sh [BUILD_DIR]   (environment: SCENARIO=video RUN_SECONDS=600
#                                                EVERY=10)
# Prints "seconds rss_MB" per sample, then the peak resident set (/usr/bin/time) and the
# output's size.
set -euo pipefail

BUILD="${1:-build}"
SCENARIO="${SCENARIO:-video}"
RUN_SECONDS="${RUN_SECONDS:-600}"
EVERY="${EVERY:-10}"
KESTROVA="$BUILD/app/kestrova"
ACTIVITY="$BUILD/bench/x11/x11_activity"
for tool in "$KESTROVA" "$ACTIVITY" Xvfb /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

source "$(dirname "${BASH_SOURCE[0]}")/x11_bench_common.sh"

"$ACTIVITY" "$DISPLAY_NAME" "$SCENARIO" &
ACTIVITY_PID=$!
BENCH_PIDS="$ACTIVITY_PID"
sleep 2
DISPLAY="$DISPLAY_NAME" /usr/bin/time -f "%M" -o "$WORK/time" \
  "$KESTROVA" record --platform x11 --full-screen --seconds "$RUN_SECONDS" -o "$WORK/k.swf" \
  >/dev/null 2>"$WORK/k.log" &
RECORD_PID=$!
BENCH_PIDS="$ACTIVITY_PID $RECORD_PID"
sleep 1
# /usr/bin/time's child is the recorder.
PID=$(pgrep -P "$RECORD_PID" | head -1)
START=$(date +%s)
echo "scenario $SCENARIO, $RUN_SECONDS s, display $DISPLAY_NAME"
echo "seconds rss_MB"
while kill -0 "$PID" 2>/dev/null; do
  rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$PID/status" 2>/dev/null || true)
  [ -n "$rss" ] && awk -v t=$(($(date +%s) - START)) -v r="$rss" 'BEGIN { printf "%d %.1f\n", t, r / 1024 }'
  sleep "$EVERY"
done
wait "$RECORD_PID" || { cat "$WORK/k.log" >&2; exit 1; }
BENCH_PIDS="$ACTIVITY_PID"
awk '{ printf "peak resident set: %.1f MB\n", $1 / 1024 }' "$WORK/time"
echo "output: $(stat -c %s "$WORK/k.swf") bytes"
