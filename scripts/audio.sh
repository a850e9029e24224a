#!/usr/bin/env bash
# Runs the sound source's tests (tests/pulse) against real sound servers: PulseAudio with a null
# sink "ktest" and a null source "kmic" (the default input), then PipeWire with pipewire-pulse,
# the null sink made through the PulseAudio interface and its monitor as the default input. Each
# server is started once, in a private runtime folder, and stopped by its PID however the script
# ends; the last run of each stops the server under a recording on purpose. Between, the WASAPI
# source is checked under Wine against the PulseAudio server, where Wine and mingw-w64 are.
# Usage: scripts/audio.sh [BUILD_DIR]   (default: build; pulse_tests must be built there)
# Skips, saying why, where a server or the tests are missing.
set -uo pipefail
KESTROVA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Stops what this script started, newest first, by PID; waits for each, then insists.
pids=()
stop_started() {
  local i p
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for p in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
  pids=()
}

wait_for_server() {
  for _ in $(seq 200); do pactl info >/dev/null 2>&1 && return 0; sleep 0.05; done
  return 1
}

# The WASAPI source under Wine, whose PulseAudio driver records from this server: built with
# mingw-w64 and run in the Wine prefix scripts/windows.sh keeps (made there, not here: it is big).
wasapi_under_wine() {
  local prefix="$KESTROVA_ROOT/build-win/wineprefix" exe="$work/wasapi_check.exe" status
  local gxx wine_bin
  gxx="$(command -v x86_64-w64-mingw32-g++-posix || command -v x86_64-w64-mingw32-g++ || true)"
  wine_bin="$(command -v wine64 || command -v wine || true)"
  if [ -z "$gxx" ] || [ -z "$wine_bin" ] || [ ! -d "$prefix" ]; then
    echo "SKIPPED: WASAPI under Wine: needs mingw-w64, Wine and the prefix scripts/windows.sh makes ($prefix)"
    return 0
  fi
  "$gxx" -std=c++20 -O1 -Wall -Wextra -Werror -I"$KESTROVA_ROOT" \
    "$KESTROVA_ROOT/tests/wasapi/WasapiCheck.cpp" "$KESTROVA_ROOT/platform/win32/WasapiSound.cpp" \
    "$KESTROVA_ROOT/platform/SoundMixer.cpp" -static -lole32 -o "$exe" || {
    echo "FAILED: the WASAPI check does not build" >&2
    failures=$((failures + 1))
    return 0
  }
  python3 - "$work/tone.wav" <<'PY'
import math, struct, sys, wave
w = wave.open(sys.argv[1], "wb"); w.setnchannels(2); w.setsampwidth(2); w.setframerate(48000)
w.writeframes(b"".join(struct.pack("<hh", v, v) for v in
              (int(12000 * math.sin(2 * math.pi * 440 * k / 48000)) for k in range(48000 * 25))))
PY
  # The monitor as Windows' default microphone, so that the tone reaches the capture endpoint.
  pactl set-default-source ktest.monitor
  (
    export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
    paplay -d ktest "$work/tone.wav" & player=$!
    sleep 0.5
    timeout 120 "$wine_bin" "$exe" mic 440; status=$?
    [ "$status" -eq 0 ] || echo "FAILED: WASAPI microphone under Wine (status $status)" >&2
    timeout 120 "$wine_bin" "$exe" system 440; loopback=$?
    case "$loopback" in
      0) ;;
      3) echo "SKIPPED: WASAPI loopback under Wine: this Wine cannot record what it plays" ;;
      *) echo "FAILED: WASAPI loopback under Wine (status $loopback)" >&2; status=1 ;;
    esac
    kill "$player" 2>/dev/null
    wait "$player"
    timeout 30 wineserver -k 2>/dev/null
    exit "$status"
  ) || failures=$((failures + 1))
  pactl set-default-source kmic
}

# run_suite NAME SERVER_PID [extra]: the tests, extra, then the test that stops the server.
failures=0
run_suite() {
  local name="$1" server_pid="$2"
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native" KESTROVA_AUDIO_SINK=ktest
  echo "-- $name: $(pactl info | grep -E 'Server (Name|Version)' | tr '\n' ' ')"
  "$tests" --gtest_brief=1 --gtest_filter='-*ServerGoingAway*' || {
    echo "FAILED: sound source tests on $name" >&2
    failures=$((failures + 1))
  }
  [ -z "${3:-}" ] || "$3"
  KESTROVA_AUDIO_SERVER_PID="$server_pid" "$tests" --gtest_brief=1 \
    --gtest_filter='*ServerGoingAway*' || {
    echo "FAILED: the server going away on $name" >&2
    failures=$((failures + 1))
  }
}

# Inside dbus-run-session (wireplumber wants a session bus): PipeWire's three daemons.
if [ "${1:-}" = "--pipewire-inner" ]; then
  tests="$2" work="$3"
  trap stop_started EXIT
  export XDG_RUNTIME_DIR="$work/pw/xdg" HOME="$work/pw/home"
  mkdir -p -m 700 "$XDG_RUNTIME_DIR" && mkdir -p "$HOME"
  pipewire >"$work/pw/pipewire.log" 2>&1 & pids+=($!)
  for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.05; done
  wireplumber >"$work/pw/wireplumber.log" 2>&1 & pids+=($!)
  pipewire-pulse >"$work/pw/pipewire-pulse.log" 2>&1 & pids+=($!)
  pulse_pid=$!
  if ! wait_for_server; then
    echo "FAILED: pipewire-pulse does not answer (logs in $work/pw)" >&2
    exit 1
  fi
  pactl load-module module-null-sink sink_name=ktest rate=48000 channels=2 >/dev/null
  for _ in $(seq 100); do pactl list short sources 2>/dev/null | grep -q ktest.monitor && break; sleep 0.05; done
  pactl set-default-sink ktest
  pactl set-default-source ktest.monitor
  run_suite "PipeWire (pipewire-pulse)" "$pulse_pid"
  exit $((failures > 0))
fi

build="$(realpath -m "${1:-$KESTROVA_ROOT/build}")"
tests="$build/tests/pulse_tests"
if [ ! -x "$tests" ]; then
  echo "SKIPPED: sound server tests: $tests is not built (libpulse-dev is missing?)"
  exit 0
fi
work="$(mktemp -d)"
trap 'stop_started; rm -rf "$work"' EXIT

if command -v pulseaudio >/dev/null && command -v pactl >/dev/null && command -v paplay >/dev/null; then
  (
    trap stop_started EXIT
    export XDG_RUNTIME_DIR="$work/pa/xdg" HOME="$work/pa/home"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR" && mkdir -p "$HOME"
    cat >"$work/pa/pa.conf" <<'EOF'
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=ktest rate=48000 channels=2 sink_properties=device.description=KTest
load-module module-null-source source_name=kmic rate=48000 channels=1
set-default-sink ktest
set-default-source kmic
EOF
    pulseaudio -n -F "$work/pa/pa.conf" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
      >"$work/pa/pulseaudio.log" 2>&1 & pids+=($!)
    if ! wait_for_server; then
      echo "FAILED: pulseaudio does not answer:" >&2
      cat "$work/pa/pulseaudio.log" >&2
      exit 1
    fi
    run_suite "PulseAudio" "${pids[0]}" wasapi_under_wine
    exit $((failures > 0))
  ) || failures=$((failures + 1))
else
  echo "SKIPPED: PulseAudio: pulseaudio or pulseaudio-utils is not installed"
fi

if command -v pipewire >/dev/null && command -v pipewire-pulse >/dev/null &&
  command -v wireplumber >/dev/null && command -v dbus-run-session >/dev/null &&
  command -v paplay >/dev/null; then
  dbus-run-session -- bash "${BASH_SOURCE[0]}" --pipewire-inner "$tests" "$work" 2>&1 |
    grep -v '^dbus-daemon'
  [ "${PIPESTATUS[0]}" -eq 0 ] || failures=$((failures + 1))
else
  echo "SKIPPED: PipeWire: pipewire, pipewire-pulse, wireplumber or dbus-user-session is not installed"
fi

if [ "$failures" -gt 0 ]; then
  echo "FAILED: sound server tests ($failures runs failed)" >&2
  exit 1
fi
echo "Sound server tests passed"
