#!/usr/bin/env bash
# Cross-builds the Windows kestrova.exe with mingw-w64, its installer (NSIS) and portable zip, and
# checks them under Wine against the Linux program: `dump` must print the same text (Windows
# writes CRLF line endings), `rewrite` must write the same bytes, `frames` pictures of the same
# pixels, for a few movies, a damaged one and non-ASCII file names. On an Xvfb display of its own
# (started once, with one Wine prefix kept warm by `wineserver -p`): a known picture recorded by
# `kestrova.exe record --platform win32` comes out exactly, a killed recording is recovered, `view`
# serves the page to the browser, the installer installs and uninstalls silently, and the user
# interface's scripts (tests/wine/ui_*.sh KESTROVA.EXE) run with WINE, KESTROVA_LINUX, DISPLAY and
# WINEPREFIX set for them.
# Usage: scripts/windows.sh [LINUX_KESTROVA]   (default: build/app/kestrova, built when missing)
# Skips, saying why, where mingw-w64 or Wine cannot be installed, and the desktop checks where
# Xvfb, xdotool or ImageMagick are missing.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

linux_kestrova="$(realpath -m "${1:-$KESTROVA_ROOT/build/app/kestrova}")"
win_build="$KESTROVA_ROOT/build-win"

kestrova_install_windows || echo "Could not install ${KESTROVA_WINDOWS_PACKAGES[*]}" >&2
if ! command -v x86_64-w64-mingw32-g++ >/dev/null || [ ! -f /usr/x86_64-w64-mingw32/include/zlib.h ]; then
  echo "SKIPPED: Windows cross-build: mingw-w64 or its zlib is not installed" \
    "(g++-mingw-w64-x86-64-posix, libz-mingw-w64-dev)"
  exit 0
fi
if [ ! -x "$linux_kestrova" ]; then
  kestrova_build "$KESTROVA_ROOT/build" -DKESTROVA_WERROR=ON >/dev/null
fi

# Release: GCC's -O3 warnings are checked here too, with the same GCC 12 as Debian's own.
kestrova_build "$win_build" -DCMAKE_TOOLCHAIN_FILE="$KESTROVA_ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKESTROVA_WERROR=ON -DKESTROVA_TESTS=OFF -DKESTROVA_BENCH=OFF \
  -DKESTROVA_LIBDEFLATE=OFF -DKESTROVA_WINDOWS_CHECKS=ON -DKESTROVA_PLAYER_COMMANDS=ON >/dev/null
win_kestrova="$win_build/app/kestrova.exe"
echo "Built $win_kestrova"
# The installer and the portable zip.
installer=""
if command -v makensis >/dev/null; then
  (cd "$win_build" && cpack >cpack.log 2>&1) || { echo "FAILED: cpack: $(tail -3 "$win_build/cpack.log")" >&2; exit 1; }
  installer="$win_build/kestrova-$(sed -n 's/^project(Kestrova VERSION \([0-9.]*\).*/\1/p' "$KESTROVA_ROOT/CMakeLists.txt")-windows-x86_64.exe"
  echo "Built $installer and its .zip"
else
  echo "SKIPPED: the installer and the zip: makensis is not installed (nsis)"
fi

wine_bin="$(command -v wine64 || command -v wine || true)"
if [ -z "$wine_bin" ]; then
  echo "SKIPPED: running kestrova.exe: Wine is not installed (wine, wine64)"
  exit 0
fi

# A prefix of our own under the build tree, no debug chatter, no Mono or Gecko installer prompts.
export WINEPREFIX="$win_build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine keeps its server's socket in a folder under TMPDIR that must stay private: one of our own,
# fresh each run, which nothing else on a shared machine walks through.
export TMPDIR="$win_build/tmp"
timeout 30 wineserver -k 2>/dev/null || true
# The prefix names the folder its last server used; a fresh one is made beside the fresh TMPDIR.
rm -rf "$TMPDIR" "$WINEPREFIX/wineserver" && mkdir -m 700 -p "$TMPDIR"
unset DISPLAY
work=""
desktop_pids=()
# Everything started here is stopped on every way out: Wine's processes of this prefix, then the
# X clients and the X server, by the ids they were started with.
stop_all() {
  timeout 30 wineserver -k 2>/dev/null || true
  local i
  for ((i = ${#desktop_pids[@]} - 1; i >= 0; i--)); do kill "${desktop_pids[$i]}" 2>/dev/null || true; done
  for i in "${desktop_pids[@]}"; do wait "$i" 2>/dev/null || true; done
  [ -z "$work" ] || [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap stop_all EXIT

# The display of the desktop checks, started before Wine so that Wine's desktop lives on it. An
# unusual number, the first free one from 173.
desktop_why=""
for tool in Xvfb xdpyinfo xdotool xsetroot xterm display import convert curl; do
  command -v "$tool" >/dev/null || { desktop_why="$tool is not installed"; break; }
done
if [ -z "$desktop_why" ]; then
  for n in $(seq 173 199); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
    desktop_pids+=($!)
    for _ in $(seq 100); do DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then export DISPLAY=":$n"; break; fi
  done
  [ -n "${DISPLAY:-}" ] || desktop_why="no Xvfb display could be started"
fi
# Wine must never hang the suite: every run has a deadline (the first one creates the prefix).
wine_run() { timeout "${WINE_TIMEOUT:-60}" "$wine_bin" "$win_kestrova" "$@"; }
WINE_TIMEOUT=300 wine_run --version >/dev/null 2>&1 || {
  echo "FAILED: kestrova.exe --version does not run under $wine_bin" >&2
  exit 1
}
# Kept running between the runs below (each then starts in a fraction of a second).
wineserver -p 900 2>/dev/null || true

# File offsets past 4 GB, UTF-8 names and replacing files, as the Linux suite tests them.
if [ -f "$win_build/windows_checks.exe" ]; then
  (cd "$win_build" && timeout 120 "$wine_bin" ./windows_checks.exe --gtest_brief=1) ||
    { echo "FAILED: windows_checks.exe" >&2; exit 1; }
else
  echo "SKIPPED: windows_checks.exe (no GoogleTest source in /usr/src/googletest)"
fi

work="$(mktemp -d)"; [ -z "${KEEP_WORK:-}" ] || echo "work: $work"
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

corpus="$KESTROVA_ROOT/fuzz/corpus/swf_reader"
movies=(all-tags.swf DefineSprite.cws.swf DefineFont2.swf DoAction.cws.swf DefineBitsLossless.swf
        DefineButton2.swf PlaceObject2.cws.swf DefineMorphShape.swf)
for m in "${movies[@]}"; do cp "$corpus/$m" "$work/"; done
# A damaged movie: cut in the middle of a tag, so both programs report and copy the rest alike.
head -c 300 "$corpus/all-tags.swf" >"$work/cut.swf"
movies+=(cut.swf)
# Names outside the ANSI code page reach Windows' file functions only as UTF-16.
cp "$corpus/DefineText.swf" "$work/Fïlm 影片 ü.swf"
movies+=("Fïlm 影片 ü.swf")

cd "$work"
echo "this is no movie" >notes.txt
# compare NAME ARGS...: runs both programs with the same arguments in the same folder; standard
# output and error must match modulo CR, and the exit status exactly. With OUTPUT=FILE, the file
# the Linux run wrote is moved aside and must equal the one the Windows run writes.
compare() {
  local name="$1"
  shift
  local lin_status=0 win_status=0
  "$linux_kestrova" "$@" >"$name.lin.out" 2>"$name.lin.err" || lin_status=$?
  [ -z "${OUTPUT:-}" ] || mv "$OUTPUT" "linux-$OUTPUT"
  wine_run "$@" >"$name.win.out" 2>"$name.win.err" || win_status=$?
  [ "$lin_status" = "$win_status" ] || fail "$name: exit status $win_status on Windows, $lin_status on Linux"
  for s in out err; do
    tr -d '\r' <"$name.win.$s" | cmp -s - "$name.lin.$s" ||
      fail "$name: standard $s differs: $(tr -d '\r' <"$name.win.$s" | diff - "$name.lin.$s" | head -5)"
  done
  if [ -d "${OUTPUT:-}" ]; then
    same_pictures "$name" "$OUTPUT" "linux-$OUTPUT"
  elif [ -n "${OUTPUT:-}" ]; then
    cmp -s "$OUTPUT" "linux-$OUTPUT" || fail "$name: the written files differ"
  fi
}

# same_pictures NAME WINDIR LINUXDIR: the same PNG files in both folders, with the same pixels.
# ffmpeg decodes them (the two builds' zlib may deflate differently); without it the bytes must
# match.
same_pictures() {
  local name="$1" win="$2" lin="$3" f
  [ "$(ls "$win")" = "$(ls "$lin")" ] || { fail "$name: other pictures: $(ls "$win" | head -3)"; return; }
  for f in "$lin"/*.png; do
    [ -e "$f" ] || continue
    if command -v ffmpeg >/dev/null; then
      ffmpeg -v error -y -i "$win/${f##*/}" -f rawvideo -pix_fmt rgb24 win.rgb &&
        ffmpeg -v error -y -i "$f" -f rawvideo -pix_fmt rgb24 lin.rgb ||
        { fail "$name: ${f##*/}: ffmpeg cannot read it"; continue; }
      [ -s lin.rgb ] && cmp -s win.rgb lin.rgb || fail "$name: ${f##*/}: the pixels differ"
    else
      cmp -s "$win/${f##*/}" "$f" || fail "$name: ${f##*/}: the files differ (no ffmpeg)"
    fi
  done
}

for m in "${movies[@]}"; do
  compare "dump $m" dump "$m"
  for mode in keep --compress --plain; do
    out="out$mode-$m"
    OUTPUT="$out" compare "rewrite $m $mode" rewrite "$m" "$out" ${mode/keep/}
  done
done
# Saving over an existing file replaces it (rename() refuses to on Windows).
"$linux_kestrova" rewrite DefineFont2.swf linux-existing.swf >/dev/null
cp all-tags.swf existing.swf
wine_run rewrite DefineFont2.swf existing.swf >/dev/null || fail "rewrite over an existing file failed"
cmp -s existing.swf linux-existing.swf || fail "rewrite over an existing file: the files differ"
# frames: the players of both programs draw the same pixels, for a recording of the simulated
# desktop (bitmaps in strips, sprites), a sprite movie and a damaged movie, into a folder whose
# name needs UTF-16 on Windows.
frame_movies=(DefineSprite.cws.swf cut.swf)
if KESTROVA_PLATFORM=sim "$linux_kestrova" record --seconds 2 -o recording.swf >/dev/null 2>&1; then
  frame_movies+=(recording.swf)
else
  fail "the Linux program could not record a movie for the frames check"
fi
for m in "${frame_movies[@]}"; do
  OUTPUT="Bilder ü $m" compare "frames $m" frames "$m" "Bilder ü $m" --every 3
done
[ "$(ls "Bilder ü recording.swf" 2>/dev/null | wc -l)" -ge 8 ] ||
  fail "frames: the recording gave fewer pictures than expected"
compare "missing file" dump "no such file.swf"
compare "not a movie" dump notes.txt
compare "usage error" rewrite only-one.swf
compare "unknown option" rewrite a.swf b.swf --zip
compare "help" help rewrite
compare "version" --version

# The installer installs silently where it is told, with its Start-menu entry and the .swf
# association, leaves a kestrova.exe that runs, and the uninstaller takes all of it away.
if [ -n "$installer" ]; then
  echo "== the installer, silently"
  # /D= takes the rest of the command line unquoted: Wine would quote a name with spaces.
  install_dir="$WINEPREFIX/drive_c/KestrovaInstallerTest"
  rm -rf "$install_dir"
  timeout 120 "$wine_bin" "$installer" /S '/D=C:\KestrovaInstallerTest' || fail "installer: exit status $?"
  # What a Wine program printed (without CR), whatever its exit status.
  wine_in() { timeout 60 "$wine_bin" "$@" 2>/dev/null | tr -d '\r' || true; }
  [[ "$(wine_in "C:\\KestrovaInstallerTest\\bin\\kestrova.exe" --version)" == "kestrova "* ]] ||
    fail "installer: the installed kestrova.exe does not run"
  [[ "$(wine_in reg query 'HKCR\Kestrova.Movie\shell\open\command')" == *'kestrova.exe" view "%1"'* ]] ||
    fail "installer: .swf movies do not open with kestrova view"
  [[ "$(wine_in reg query 'HKCR\.swf')" == *Kestrova.Movie* ]] || fail "installer: .swf is not associated"
  [ -n "$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'Kestrova.lnk')" ] ||
    fail "installer: no Start-menu entry"
  timeout 60 "$wine_bin" "C:\\KestrovaInstallerTest\\Uninstall.exe" /S || fail "uninstaller: exit status $?"
  # The uninstaller runs on from a copy of itself in the temporary folder.
  for _ in $(seq 100); do [ -e "$install_dir" ] || break; sleep 0.2; done
  [ ! -e "$install_dir" ] || fail "uninstaller: left $(ls "$install_dir")"
  [[ "$(wine_in reg query 'HKCR\.swf')" != *Kestrova.Movie* ]] || fail "uninstaller: left the .swf association"
  unzip_list="$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "${installer%.exe}.zip")"
  [[ "$unzip_list" == *bin/kestrova.exe* ]] || fail "zip: no bin/kestrova.exe in it"
fi

if [ -z "$desktop_why" ]; then
  source "$KESTROVA_ROOT/scripts/windows-desktop.sh"
else
  echo "SKIPPED: recording, recover, view and the installer under Wine, because $desktop_why"
fi

if [ "$failures" -ne 0 ]; then
  echo "Windows build under Wine: $failures check(s) failed" >&2
  exit 1
fi
echo "Windows build under Wine: dump and rewrite match the Linux build on ${#movies[@]} movies," \
  "frames on ${#frame_movies[@]}${desktop_why:+; desktop checks skipped}."
