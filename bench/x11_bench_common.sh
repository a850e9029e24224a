# Sourced by the X11 benchmark scripts: a work folder, one 1920x1080x24 Xvfb on a free display,
# and a cleanup that stops it and every process whose id is listed in BENCH_PIDS.
#   sets WORK, XVFB_PID, DISPLAY_NAME; exports XDG_STATE_HOME and XDG_RUNTIME_DIR into WORK.
WORK="$(mktemp -d)"
XVFB_PID="" BENCH_PIDS=""
bench_cleanup() {
  for pid in $BENCH_PIDS $XVFB_PID; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap bench_cleanup EXIT

# Xvfb picks a free display number and writes it to the file descriptor given.
exec 9>"$WORK/display"
Xvfb -displayfd 9 -screen 0 1920x1080x24 -nolisten tcp -noreset 2>/dev/null &
XVFB_PID=$!
exec 9>&-
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
DISPLAY_NAME=":$(head -1 "$WORK/display")"
export XDG_STATE_HOME="$WORK/state" XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
