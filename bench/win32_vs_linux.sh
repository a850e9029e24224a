#!/usr/bin/env bash
# The Windows program's capture under Wine against the Linux program's, on the same Xvfb screen:
# grabs per second and CPU seconds per recorded second of `record --seconds N`, for a still screen
# and a screen in motion (a terminal scrolling over most of it), medians of RUNS runs, as a ratio.
# Wine's CPU includes its wineserver's. Wine has no desktop duplication: the Windows figures are
# those of the GDI path, whose BitBlt under Wine is far slower than on Windows.
# Usage: bench/win32_vs_linux.sh LINUX_KESTROVA KESTROVA_EXE [SECONDS] [RUNS]
# (WINEPREFIX: the prefix to use, default build-win/wineprefix, made when missing.)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
linux="$(realpath "$1")"
exe="$(realpath "$2")"
seconds="${3:-10}"
runs="${4:-3}"
export WINEPREFIX="${WINEPREFIX:-$root/build-win/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_bin="$(command -v wine64 || command -v wine)"
work="$(mktemp -d)"
# Wine's server folder: private, fresh, under our own TMPDIR (as scripts/windows.sh keeps it).
timeout 30 wineserver -k 2>/dev/null || true
rm -f "$WINEPREFIX/wineserver"
export TMPDIR="$work"
pids=()
stop() {
  timeout 30 wineserver -k 2>/dev/null || true
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  for i in "${pids[@]}"; do wait "$i" 2>/dev/null || true; done
  rm -rf "$work"
}
trap stop EXIT
for n in $(seq 181 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  export DISPLAY=":$n"
  break
done
timeout 300 "$wine_bin" "$exe" --version >/dev/null
wineserver -p 900 || true
server_pid=""
for p in $(pgrep -x wineserver || true); do
  tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && server_pid=$p
done
# CPU seconds (user + system) a process has used so far.
cpu_of() { [ -n "$1" ] && awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) / hz}' "/proc/$1/stat" 2>/dev/null || echo 0; }

# One run: prints "GRABS CPU_SECONDS".
run() {
  local which="$1" before after
  before="$(cpu_of "$server_pid")"
  if [ "$which" = linux ]; then
    KESTROVA_X11_STATS=1 /usr/bin/time -f '%U %S' -o "$work/time" \
      "$linux" record --platform x11 --seconds "$seconds" -q -o "$work/l.swf" 2>"$work/err" >/dev/null
    grabs="$(sed -n 's/^x11: \([0-9]*\) grabs.*/\1/p' "$work/err")"
  else
    KESTROVA_WIN32_STATS=1 /usr/bin/time -f '%U %S' -o "$work/time" \
      "$wine_bin" "$exe" record --platform win32 --seconds "$seconds" -q -o 'Z:\tmp\kestrova-bench-w.swf' \
      2>"$work/err" >/dev/null
    grabs="$(sed -n 's/^win32: \([0-9]*\) grabs.*/\1/p' "$work/err")"
    rm -f /tmp/kestrova-bench-w.swf /tmp/kestrova-bench-w.html
  fi
  after="$(cpu_of "$server_pid")"
  rm -f "$work"/l.swf "$work"/l.html
  awk -v g="${grabs:-0}" -v b="$before" -v a="$after" '{print g, $1 + $2 + a - b}' "$work/time"
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

printf '| scenario | program | grabs/s | CPU s per recorded s |\n|---|---|---|---|\n'
xsetroot -solid '#336699'
for scenario in still motion; do
  scroller=""
  if [ "$scenario" = motion ]; then
    xterm -geometry 180x50+0+0 -e sh -c 'while :; do head -c 2000 /dev/urandom | od -x; done' \
      >/dev/null 2>&1 &
    scroller=$!
    pids+=($scroller)
    sleep 1
  fi
  declare -A grabs_of cpu_of_run
  for which in linux windows; do
    : >"$work/$which.g"
    : >"$work/$which.c"
    for _ in $(seq "$runs"); do
      read -r g c < <(run "$which")
      echo "$g / $seconds" | bc -l >>"$work/$which.g"
      echo "$c / $seconds" | bc -l >>"$work/$which.c"
    done
    grabs_of[$which]="$(median <"$work/$which.g")"
    cpu_of_run[$which]="$(median <"$work/$which.c")"
    printf '| %s | %s | %.1f | %.3f |\n' "$scenario" "$which" "${grabs_of[$which]}" "${cpu_of_run[$which]}"
  done
  printf '| %s | Windows / Linux | %.2f | %.2f |\n' "$scenario" \
    "$(echo "${grabs_of[windows]} / ${grabs_of[linux]}" | bc -l)" \
    "$(echo "${cpu_of_run[windows]} / ${cpu_of_run[linux]}" | bc -l)"
  [ -z "$scroller" ] || kill "$scroller" 2>/dev/null || true
done
