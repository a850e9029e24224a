#!/usr/bin/env bash
# Kestrova recording a Wayland desktop through the portal, against a PipeWire consumer that
# keeps nothing (bench/wayland_floor_grab.c on the same compositor's own screen cast) as
# the floor, on the headless GNOME compositor of scripts/wayland.sh: a still screen, typing
# (eight characters a second) and full motion (the whole 1280x720 picture scrolling at every
# compositor frame). Per scenario: CPU seconds per recorded second (user + system of the
# consumer's process alone), frames per second delivered, bytes per second written, peak memory.
#   bench/wayland_vs_floor.sh BUILD_DIR [SECONDS]
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

if [ "${1:-}" = "--inside" ]; then
  BUILD="$2"
  SECS="$3"
  R="$KESTROVA_WAYLAND_RUN/bench"
  H="$ROOT/tests/wayland"
  mkdir -p "$R/state"
  GRAB="$R/wayland_floor_grab"
  cc -O2 "$ROOT/bench/wayland_floor_grab.c" $(pkg-config --cflags --libs libpipewire-0.3) -o "$GRAB"
  export XDG_STATE_HOME="$R/state"
  # The first recording gets the user's consent (the dialog answered here); the restore token
  # spares the dialog for the measured ones.
  /usr/bin/python3 "$H/show_picture.py" >/dev/null 2>&1 & P=$!
  sleep 1.5
  KESTROVA_PORTAL_TIMEOUT=30 "$BUILD/app/kestrova" record --platform wayland --seconds 1 --quiet \
    -o "$R/consent.swf" >"$R/consent.log" 2>&1 & K=$!
  for _ in $(seq 40); do
    sleep 0.5
    kill -0 $K 2>/dev/null || break
    ls "$R/state/kestrova" 2>/dev/null | grep -q token && break
    /usr/bin/python3 "$H/gnome_input.py" click 640 385 >/dev/null 2>&1
    /usr/bin/python3 "$H/gnome_input.py" click 852 233 >/dev/null 2>&1
  done
  wait $K
  kill $P
  # The pointer out of the way of the typing.
  /usr/bin/python3 "$H/gnome_input.py" move 1279 719 >/dev/null 2>&1
  printf "%-10s %-12s %9s %9s %11s %9s\n" scenario consumer "CPU s/s" "frames/s" "bytes/s" "peak MB"
  for scenario in static typing motion; do
    /usr/bin/python3 "$H/show_picture.py" $scenario >/dev/null 2>&1 & P=$!
    sleep 2
    # Kestrova: the movie's frames and bytes over the seconds asked.
    /usr/bin/time -f "%U %S %M" -o "$R/time" "$BUILD/app/kestrova" record --platform wayland \
      --seconds "$SECS" --quiet -o "$R/$scenario.swf" >"$R/$scenario.log" 2>&1
    read -r user sys rss <"$R/time"
    frames=$(grep -o '([0-9]* frames)' "$R/$scenario.log" | tr -dc 0-9)
    bytes=$(stat -c %s "$R/$scenario.swf" 2>/dev/null || echo 0)
    awk -v s="$scenario" -v u="$user" -v y="$sys" -v m="$rss" -v f="${frames:-0}" -v b="$bytes" \
      -v t="$SECS" 'BEGIN { printf "%-10s %-12s %9.3f %9.1f %11.0f %9.1f\n", s, "kestrova",
                          (u + y) / t, f / t, b / t, m / 1024 }'
    # The floor: the compositor's own screen cast, consumed and dropped.
    /usr/bin/python3 "$ROOT/bench/wayland_floor.py" "$SECS" "$R/time" "$GRAB" >"$R/$scenario.floor" 2>&1
    read -r user sys rss <"$R/time"
    frames=$(grep -o 'frames=[0-9]*' "$R/$scenario.floor" | tr -dc 0-9)
    awk -v s="$scenario" -v u="$user" -v y="$sys" -v m="$rss" -v f="${frames:-0}" -v t="$SECS" \
      'BEGIN { printf "%-10s %-12s %9.3f %9.1f %11s %9.1f\n", s, "pw-consumer", (u + y) / t,
               f / t, "-", m / 1024 }'
    kill $P
    wait $P 2>/dev/null
  done
  exit 0
fi

BUILD="$(cd "${1:?usage: bench/wayland_vs_floor.sh BUILD_DIR [SECONDS]}" && pwd)"
SECS="${2:-10}"
command -v cc >/dev/null && pkg-config --exists libpipewire-0.3 || { echo "SKIPPED: the floor needs cc and libpipewire-0.3-dev"; exit 0; }
exec bash "$ROOT/scripts/wayland.sh" "$BUILD" --run bash "$ROOT/bench/wayland_vs_floor.sh" \
  --inside "$BUILD" "$SECS"
