#!/usr/bin/env bash
# The Wayland backend's tests on a headless GNOME compositor: mutter, PipeWire, WirePlumber and
# the desktop portal (xdg-desktop-portal with its GNOME backend), started once inside a private
# D-Bus session and runtime folder as an unprivileged user, stopped on every way out.
#   scripts/wayland.sh BUILD_DIR [gtest arguments...]
#   scripts/wayland.sh BUILD_DIR --run COMMAND...   (COMMAND inside the stack instead: benchmarks)
# Prints "SKIPPED: ... because ..." and succeeds where the stack cannot run.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

if [ "${1:-}" = "--inside" ]; then
  shift
  BUILD="$1"
  shift
  RUN="$KESTROVA_WAYLAND_RUN"
  export HOME=$RUN/home XDG_RUNTIME_DIR=$RUN/xdg XDG_CONFIG_HOME=$RUN/config
  export XDG_STATE_HOME=$RUN/state XDG_CURRENT_DESKTOP=GNOME
  PIDS=()
  cleanup() {
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[$i]}" 2>/dev/null; done
    for p in "${PIDS[@]}"; do
      for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$p" 2>/dev/null
    done
  }
  trap cleanup EXIT
  wait_for() {  # wait_for WHAT CHECK...: polls up to 10 s
    local what="$1"
    shift
    for _ in $(seq 200); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done
    echo "SKIPPED: the Wayland tests because $what did not start (logs in $RUN)"
    exit 0
  }
  pipewire >"$RUN/pipewire.log" 2>&1 & PIDS+=($!)
  wait_for "PipeWire" test -S "$XDG_RUNTIME_DIR/pipewire-0"
  wireplumber >"$RUN/wireplumber.log" 2>&1 & PIDS+=($!)
  mutter --headless --virtual-monitor 1280x720 --wayland --no-x11 --sm-disable \
    --wayland-display=wayland-9 >"$RUN/mutter.log" 2>&1 & PIDS+=($!)
  wait_for "mutter" busctl --user status org.gnome.Mutter.ScreenCast
  export WAYLAND_DISPLAY=wayland-9 GDK_BACKEND=wayland
  # The portal's GNOME backend can crash when a session it timed out is closed; D-Bus starts it
  # again on the next call, and it must find the compositor then.
  dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_RUNTIME_DIR \
    XDG_CONFIG_HOME HOME GDK_BACKEND >/dev/null 2>&1
  /usr/libexec/xdg-desktop-portal-gnome >"$RUN/xdpg.log" 2>&1 & PIDS+=($!)
  wait_for "xdg-desktop-portal-gnome" busctl --user status org.freedesktop.impl.portal.desktop.gnome
  /usr/libexec/xdg-desktop-portal >"$RUN/xdp.log" 2>&1 & PIDS+=($!)
  wait_for "xdg-desktop-portal" busctl --user status org.freedesktop.portal.Desktop
  export KESTROVA_WAYLAND_STACK=1 KESTROVA_BIN="$BUILD/app/kestrova"
  export KESTROVA_WAYLAND_HELPERS="$ROOT/tests/wayland"
  if [ "${1:-}" = "--run" ]; then
    shift
    "$@"
  else
    "$BUILD/tests/wayland_tests" "$@"
  fi
  exit $?
fi

BUILD="$(cd "${1:?usage: scripts/wayland.sh BUILD_DIR [gtest arguments...]}" && pwd)"
shift
source "$ROOT/scripts/common.sh"
set +e
need=()
for p in "${KESTROVA_WAYLAND_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -ne 0 ] && [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${need[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends "${need[@]}" >/dev/null
fi
missing=()
for p in mutter pipewire wireplumber /usr/libexec/xdg-desktop-portal \
  /usr/libexec/xdg-desktop-portal-gnome dbus-run-session busctl setpriv /usr/bin/python3; do
  command -v "$p" >/dev/null || missing+=("$p")
done
/usr/bin/python3 -c 'import dbus, gi; gi.require_version("Gtk", "3.0")' 2>/dev/null || missing+=("python3-dbus/python3-gi")
if [ ${#missing[@]} -ne 0 ]; then
  echo "SKIPPED: the Wayland tests because ${missing[*]} is not installed (KESTROVA_WAYLAND_PACKAGES in scripts/common.sh)"
  exit 0
fi
if [ "${1:-}" != "--run" ] && [ ! -x "$BUILD/tests/wayland_tests" ]; then
  echo "SKIPPED: the Wayland tests because $BUILD has no wayland_tests (built without PipeWire)"
  exit 0
fi
RUN="$(mktemp -d /tmp/kestrova-wayland.XXXXXX)"
mkdir -p "$RUN/home" "$RUN/xdg" "$RUN/config" "$RUN/state"
chmod 700 "$RUN/xdg"
# The compositor and the portal run as an ordinary user, as on a desktop; as root they need
# nothing else but the files must be theirs.
RUNAS=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R 65534:65534 "$RUN"
  RUNAS=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
  # That user must reach the sources and the build: a folder on the way that others may not
  # enter (a clone in a private temporary folder) is opened for passing through, not for
  # listing, while the tests run, and closed again after.
  opened=()
  for top in "$ROOT" "$BUILD"; do
    d="$top"
    while [ "$d" != "/" ]; do
      if [ -z "$(find "$d" -maxdepth 0 -perm -o=x)" ]; then
        chmod o+x "$d" && opened+=("$d")
      fi
      d="$(dirname "$d")"
    done
  done
  close_opened() { [ ${#opened[@]} -eq 0 ] || chmod o-x "${opened[@]}" 2>/dev/null; }
  trap close_opened EXIT
fi
status=0
(cd "$RUN" && timeout 600 "${RUNAS[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 \
  HOME="$RUN/home" KESTROVA_WAYLAND_RUN="$RUN" ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} \
  ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} \
  dbus-run-session -- bash "$ROOT/scripts/wayland.sh" --inside "$BUILD" "$@") || status=$?
if [ $status -eq 0 ] && [ -z "${KESTROVA_WAYLAND_KEEP:-}" ]; then rm -rf "$RUN" 2>/dev/null; else echo "logs kept in $RUN"; fi
exit $status
