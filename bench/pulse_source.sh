#!/usr/bin/env bash
# CPU per recorded second of the libpulse sound source alone, mono 22050 Hz and stereo 44100 Hz,
# over a private PulseAudio with a null sink into which a tone plays all along (so the monitor
# carries sound) and a null source as the microphone. Prints the source's CPU (its process: the
# capture thread and libpulse) and, beside it, the server's.
# Usage: bench/pulse_source.sh [BUILD_DIR]   (pulse_source_cpu built there; SECONDS=20)
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${1:-$root/build}")"
prog="$build/bench/pulse/pulse_source_cpu"
seconds="${SECONDS_EACH:-20}"
for tool in pulseaudio pactl paplay python3; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 0; }
done
[ -x "$prog" ] || { echo "SKIPPED: $prog is not built"; exit 0; }

work="$(mktemp -d)"
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; wait "${pids[$i]}" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$work/xdg" HOME="$work/home"
mkdir -p -m 700 "$XDG_RUNTIME_DIR" && mkdir -p "$HOME"
cat >"$work/pa.conf" <<'CONF'
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=ktest rate=48000 channels=2
load-module module-null-source source_name=kmic rate=48000 channels=1
set-default-sink ktest
set-default-source kmic
CONF
pulseaudio -n -F "$work/pa.conf" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  >"$work/pulseaudio.log" 2>&1 & pids+=($!)
server=$!
for _ in $(seq 200); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
python3 - "$work/tone.wav" <<'PY'
import math, struct, sys, wave
w = wave.open(sys.argv[1], "wb"); w.setnchannels(2); w.setsampwidth(2); w.setframerate(48000)
w.writeframes(b"".join(struct.pack("<hh", v, v) for v in
              (int(12000 * math.sin(2 * math.pi * 440 * k / 48000)) for k in range(48000 * 10))))
PY
(while true; do paplay -d ktest "$work/tone.wav" 2>/dev/null || break; done) & pids+=($!)

ticks="$(getconf CLK_TCK)"
server_cpu() { awk '{print $14 + $15}' "/proc/$server/stat"; }
echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); ${seconds} s each"
for format in "22050 1" "44100 2"; do
  for input in system mic both; do
    before=$(server_cpu)
    # shellcheck disable=SC2086
    line="$("$prog" "$seconds" $format "$input")"
    after=$(server_cpu)
    echo "$line; server $(python3 -c "print(round(($after - $before) * 1000 / $ticks / $seconds, 2))") ms CPU per second"
  done
done
