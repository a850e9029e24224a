#!/usr/bin/env bash
# Installs, builds and runs kestrova. With no arguments it shows what the program can do;
# otherwise the arguments go to the program (for example: scripts/run.sh dump movie.swf).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
kestrova_install
kestrova_build "$KESTROVA_ROOT/build" >/dev/null
if [ $# -eq 0 ]; then
  set -- help
fi
exec "$KESTROVA_ROOT/build/app/kestrova" "$@"
