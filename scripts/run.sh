#!/usr/bin/env bash
# Installs what building the program needs, builds the program alone (the tests, fuzzers and
# benchmarks are the test script's) and runs it. With no arguments it records 10 seconds of the
# screen (the simulated desktop where no display backend is available) into demo.swf and
# demo.html and says how to watch them; otherwise the arguments go to the program (for example:
# scripts/run.sh dump movie.swf).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# The program's own build needs: the compiler, zlib and libdeflate, libpng (frames), and X11 with
# Qt 6 for the desktop backend. ffmpeg (export) is needed only when the program runs it.
KESTROVA_PACKAGES=(cmake make g++ pkg-config zlib1g-dev libcrypt-dev libdeflate-dev libpng-dev
                   libx11-dev libxext-dev libxfixes-dev libxtst-dev libxdamage-dev qt6-base-dev)
KESTROVA_NEEDS_NPM=0
build="$KESTROVA_ROOT/build-run"
program="$build/app/kestrova"
started=$SECONDS
say() { echo "run.sh: $*" >&2; }

say "checking the Debian packages the build needs (installed once)..."
kestrova_install >&2
if [ ! -x "$program" ]; then
  say "building the program in $build (the first build takes about 5 minutes on two cores;"
  say "later runs rebuild only what changed)"
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CCACHE_BASEDIR="$KESTROVA_ROOT" cmake -S "$KESTROVA_ROOT" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_TESTS=OFF -DKESTROVA_BENCH=OFF "${launcher[@]}" \
  >/dev/null
# The build's own progress lines ("[ 42%] Building ..."), on stderr so that the program's output
# stays alone on stdout.
CCACHE_BASEDIR="$KESTROVA_ROOT" cmake --build "$build" -j "$(nproc)" --target kestrova >&2
say "built $program in $((SECONDS - started)) s"

if [ $# -gt 0 ]; then
  exec "$program" "$@"
fi

movie="$PWD/demo.swf"
say "recording 10 seconds of the screen into $movie ..."
status=0
said=$("$program" record --seconds 10 -o "$movie") || status=$?
[ -n "$said" ] && echo "$said"
if [ $status -ne 0 ] || [ ! -f "$movie" ]; then
  say "the recording failed (status $status); the messages above say why"
  [ $status -ne 0 ] && exit $status
  exit 1
fi
page="${movie%.swf}.html"
# "wrote demo.html (120 frames)"
frames=$(sed -n 's/.*(\([0-9][0-9]*\) frames).*/\1/p' <<<"$said" | tail -n 1)
cat >&2 <<TEXT

Recorded 10 seconds of the screen${frames:+ ($frames frames at 12 a second)}:
  the movie  $movie ($(du -h "$movie" | cut -f1))
  its page   $page
To watch it:
  - open $page in a web browser with Flash support, or serve it with the Ruffle web player
    ($program record --web-player URL names the player's script in the page);
  - or turn it into a video: $program export $movie ${movie%.swf}.mp4 (needs ffmpeg);
  - or look at its frames as PNG pictures: $program frames $movie frames/
TEXT
