#!/usr/bin/env bash
# Installs, builds and runs kestrova. With no arguments it records 10 seconds of the screen (the
# simulated desktop where no display backend is available) into demo.swf and demo.html;
# otherwise the arguments go to the program (for example: scripts/run.sh dump movie.swf).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
kestrova_install
kestrova_build "$KESTROVA_ROOT/build" >/dev/null
if [ $# -eq 0 ]; then
  set -- record --seconds 10 -o demo.swf
fi
exec "$KESTROVA_ROOT/build/app/kestrova" "$@"
