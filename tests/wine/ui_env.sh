# Sourced by the ui_*.sh scripts: a display, a Wine prefix and the Wine to run, plus the helpers
# the scripts share. scripts/windows.sh sets DISPLAY, WINEPREFIX and WINE for a whole run; alone,
# this starts an Xvfb on a free display and keeps a prefix of its own (made once, reused), and
# stops what it started on every way out.
# Prints "SKIPPED: ... because ..." and exits 0 where Wine, Xvfb or xdotool is missing.
set -uo pipefail

UI_PIDS=()
ui_skip() {
  echo "SKIPPED: $UI_NAME because $*"
  exit 0
}
ui_cleanup() {
  local p
  for p in "${UI_APP_PIDS[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null; done
  if [ -n "${UI_OWN_WINE:-}" ]; then timeout 30 wineserver -k 2>/dev/null; fi
  for ((i = ${#UI_PIDS[@]} - 1; i >= 0; i--)); do kill "${UI_PIDS[$i]}" 2>/dev/null; done
  [ -n "${UI_WORK:-}" ] && [ -z "${KEEP_WORK:-}" ] && rm -rf "$UI_WORK"
  return 0
}
trap ui_cleanup EXIT

for tool in xdotool Xvfb xdpyinfo; do
  command -v "$tool" >/dev/null || ui_skip "$tool is not installed (xdotool xvfb x11-utils)"
done
WINE="${WINE:-$(command -v wine64 || command -v wine || true)}"
[ -n "$WINE" ] || ui_skip "Wine is not installed (wine, wine64)"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
  UI_OWN_WINE=1
  display=""
  for n in $(seq 171 199); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
  done
  [ -n "$display" ] || ui_skip "no free X display number between 171 and 199"
  Xvfb "$display" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
  UI_PIDS+=($!)
  export DISPLAY="$display"
  for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  xdpyinfo >/dev/null 2>&1 || ui_skip "Xvfb did not start on $display"
  export WINEPREFIX="${KESTROVA_UI_PREFIX:-${TMPDIR:-/tmp}/kestrova-ui-wineprefix}"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Making the Wine prefix $WINEPREFIX (once)"
    timeout 300 "$WINE" wineboot -i >/dev/null 2>&1 || ui_skip "wineboot could not make a prefix"
  fi
  wineserver -p 60
fi
UI_WORK="$(mktemp -d)"
PASS=0
FAIL=0
check() {
  if eval "$2"; then
    echo "PASS: $1"
    PASS=$((PASS + 1))
  else
    echo "FAIL: $1"
    FAIL=$((FAIL + 1))
  fi
}
# waitwin REGEX [TRIES]: the id of a visible window whose name matches, looked up afresh (without
# a window manager, Wine's X windows come and go).
waitwin() {
  local w
  for _ in $(seq "${2:-150}"); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}
# gonewin REGEX: waits until no visible window matches.
gonewin() {
  for _ in $(seq 150); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}
# waitlog FILE REGEX: waits (up to 15 s) for a line of FILE to match.
waitlog() {
  for _ in $(seq 150); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
# place FILE TEXT [FROM]: the last "at TEXT X Y" the program said (from line FROM on), as "X Y".
place() {
  tail -n +"${3:-1}" "$1" | grep "^at $2 [0-9-]* [0-9-]*" | tail -1 | awk '{print $(NF-1), $NF}' |
    tr -d '\r'
}
# clickat "X Y" [BUTTON] [REPEAT]
clickat() {
  # shellcheck disable=SC2086
  xdotool mousemove $1 sleep 0.2 click --repeat "${3:-1}" --delay 120 "${2:-1}"
}
ui_summary() {
  echo "$PASS passed, $FAIL failed"
  [ "$FAIL" -eq 0 ]
}
