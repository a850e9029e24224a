#!/usr/bin/env bash
# The Win32 user interface's own checks (win32_ui_checks.exe, GoogleTest) under Wine on a display:
# messages to events, the paused dialog's results, modal input, settings, single instance,
# countdown, region picker, hot key dialog.
# Usage: tests/wine/ui_checks.sh [win32_ui_checks.exe] [--gtest_filter=...]
#   (default program: built by build_ui_demo.sh)
UI_NAME="the Win32 user interface's checks under Wine"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
source "$here/ui_env.sh"
checks=""
case "${1:-}" in --*|"") ;; *) checks="$1"; shift ;; esac
if [ -z "$checks" ]; then
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || ui_skip "mingw-w64 is not installed"
  [ -f /usr/src/googletest/googletest/src/gtest-all.cc ] ||
    ui_skip "there is no GoogleTest source in /usr/src/googletest (libgtest-dev)"
  "$here/build_ui_demo.sh" "$root/build-win/ui-demo" >/dev/null || { echo "FAILED: building the checks"; exit 1; }
  checks="$root/build-win/ui-demo/win32_ui_checks.exe"
fi
cd "$UI_WORK" || exit 1
timeout 300 "$WINE" "$checks" --gtest_brief=1 "$@"
