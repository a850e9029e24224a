#!/usr/bin/env bash
# Side by side on one 1920x1080 Xvfb display: `kestrova record` against
#   ffmpeg -f x11grab -framerate 10 -c:v flashsv -g 100
# (the nearest peer that writes SWF's lossless screen video), alternating which goes first, on
# three kinds of scripted activity (bench/x11/ActivityClient.cpp): typing and scrolling in a
# terminal-like window, a still desktop, a full-motion picture; or on the same three drawn by
# ordinary X programs (bench/x11_apps.sh: SCENARIOS="terminal desktop animation").
#
#   bench/x11_vs_ffmpeg.sh [BUILD_DIR]      (environment: RUN_SECONDS=20 REPS=3
#                                            SCENARIOS="typing still video" BEFORE=)
# Prints one line per run and, per scenario, the medians and the ratios Kestrova / ffmpeg.
# BEFORE: a second build folder (an earlier version's app/kestrova) recorded in the same run,
# taking turns with the others, so a change is measured before and after under the same load.
# CPU is user + system seconds of the recording process per recorded second; memory the peak
# resident set; grabs per second from the backend's count (KESTROVA_X11_STATS) and ffmpeg's
# frame count.
set -euo pipefail

BUILD="${1:-build}"
RUN_SECONDS="${RUN_SECONDS:-20}"
REPS="${REPS:-3}"
SCENARIOS="${SCENARIOS:-typing still video}"
BEFORE="${BEFORE:-}"
TOOLS="kestrova ffmpeg"
if [ -n "$BEFORE" ]; then
  TOOLS="kestrova before ffmpeg"
  command -v "$BEFORE/app/kestrova" >/dev/null || { echo "missing: $BEFORE/app/kestrova" >&2; exit 1; }
fi
KESTROVA="$BUILD/app/kestrova"
ACTIVITY="$BUILD/bench/x11/x11_activity"
for tool in "$KESTROVA" "$ACTIVITY" ffmpeg Xvfb /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

source "$(dirname "${BASH_SOURCE[0]}")/x11_apps.sh"
for scenario in $SCENARIOS; do
  case " $APPS_SCENARIOS " in *" $scenario "*)
    missing=$(apps_missing)
    [ -z "$missing" ] || { echo "missing: $missing (apt-get install xterm x11-apps ffmpeg)" >&2; exit 1; } ;;
  esac
done
source "$(dirname "${BASH_SOURCE[0]}")/x11_bench_common.sh"
echo "display $DISPLAY_NAME, $RUN_SECONDS s per run, $REPS repetitions"

# run_kestrova / run_ffmpeg: one recording; prints "cpu_per_s bytes_per_s grabs_per_s peak_mb".
report() {  # time-file output-file grabs
  local user sys peak bytes
  read -r user sys peak <"$1"
  bytes=$(stat -c %s "$2")
  awk -v u="$user" -v s="$sys" -v p="$peak" -v b="$bytes" -v g="$3" -v t="$RUN_SECONDS" \
    'BEGIN { printf "%.4f %.0f %.2f %.1f\n", (u + s) / t, b / t, g / t, p / 1024 }'
}

record_with() {  # kestrova-binary
  rm -f "$WORK/k.swf" "$WORK/k.html"
  DISPLAY="$DISPLAY_NAME" KESTROVA_X11_STATS=1 /usr/bin/time -f "%U %S %M" -o "$WORK/time" \
    "$1" record --platform x11 --full-screen --seconds "$RUN_SECONDS" -o "$WORK/k.swf" \
    >/dev/null 2>"$WORK/k.log"
  local grabs
  grabs=$(sed -n 's/^x11: \([0-9]*\) grabs.*/\1/p' "$WORK/k.log" | tail -1)
  report "$WORK/time" "$WORK/k.swf" "${grabs:-0}"
}
run_kestrova() { record_with "$KESTROVA"; }
run_before() { record_with "$BEFORE/app/kestrova"; }

run_ffmpeg() {
  rm -f "$WORK/f.flv"
  /usr/bin/time -f "%U %S %M" -o "$WORK/time" \
    ffmpeg -hide_banner -nostdin -y -f x11grab -framerate 10 -video_size 1920x1080 \
    -i "$DISPLAY_NAME" -t "$RUN_SECONDS" -c:v flashsv -g 100 "$WORK/f.flv" 2>"$WORK/f.log"
  local frames
  frames=$(tr '\r' '\n' <"$WORK/f.log" | sed -n 's/^frame= *\([0-9]*\).*/\1/p' | tail -1)
  report "$WORK/time" "$WORK/f.flv" "${frames:-0}"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf "%-8s %-9s %3s %12s %12s %8s %8s\n" scenario tool rep cpu_s/s bytes/s grabs/s peak_MB
for scenario in $SCENARIOS; do
  BENCH_PIDS=""
  case " $APPS_SCENARIOS " in
    *" $scenario "*) start_apps "$scenario" ;;
    *)
      "$ACTIVITY" "$DISPLAY_NAME" "$scenario" &
      BENCH_PIDS="$!"
      ;;
  esac
  sleep 2
  for tool in $TOOLS; do : >"$WORK/$tool.$scenario"; done
  for rep in $(seq "$REPS"); do
    # Each repetition starts with the next tool, so none always runs first.
    order=$(echo $TOOLS $TOOLS | cut -d' ' -f$(( (rep - 1) % $(echo $TOOLS | wc -w) + 1 ))- |
      cut -d' ' -f1-$(echo $TOOLS | wc -w))
    for tool in $order; do
      line=$("run_$tool")
      echo "$line" >>"$WORK/$tool.$scenario"
      printf "%-8s %-9s %3s %12s %12s %8s %8s\n" "$scenario" "$tool" "$rep" $line
    done
  done
  for pid in $BENCH_PIDS; do kill "$pid" 2>/dev/null || true; done
  for pid in $BENCH_PIDS; do wait "$pid" 2>/dev/null || true; done
  BENCH_PIDS=""
  for col in 1 2 3 4; do
    name=$(echo "cpu_s/s bytes/s grabs/s peak_MB" | cut -d' ' -f$col)
    f=$(cut -d' ' -f$col "$WORK/ffmpeg.$scenario" | median)
    for tool in $TOOLS; do
      [ "$tool" = ffmpeg ] && continue
      k=$(cut -d' ' -f$col "$WORK/$tool.$scenario" | median)
      awk -v s="$scenario" -v n="$name" -v t="$tool" -v k="$k" -v f="$f" \
        'BEGIN { printf "%-8s median %-8s %-8s %12s  ffmpeg %12s  ratio %.3f\n", s, n, t, k, f, (f > 0 ? k / f : 0) }'
    done
  done
done
