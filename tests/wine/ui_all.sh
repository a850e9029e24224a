#!/usr/bin/env bash
# The Win32 user interface under Wine: one display and one prefix (or those scripts/windows.sh
# gives in DISPLAY, WINEPREFIX and WINE) for the checks and the flows.
# Usage: tests/wine/ui_all.sh [kestrova.exe]   (without it the flows drive the demo program)
UI_NAME="the Win32 user interface under Wine"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/ui_env.sh"
export DISPLAY WINEPREFIX WINE
status=0
bash "$here/ui_checks.sh" || status=1
bash "$here/ui_flow.sh" "$@" || status=1
exit $status
