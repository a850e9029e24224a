# The Windows program on a desktop, under Wine on the Xvfb display scripts/windows.sh started
# (sourced by it: DISPLAY, WINEPREFIX, wine_bin, win_kestrova, linux_kestrova, win_build, work,
# wine_run and fail are set). Each check says what it found; fail counts what went wrong.

# A Linux path as Wine's Z: drive names it.
win_path() { local p="$1"; echo "Z:${p//\//\\}"; }

# The recordings' state folder of this prefix (%LOCALAPPDATA%\Kestrova), emptied of recordings
# left by an earlier run so that recover sees only this run's.
state_folder="$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -type d -path '*/AppData/Local' | head -1)/Kestrova"
rm -rf "$state_folder"/recording-*

# The known picture: a gradient with shapes on the root window, drawn after Wine's desktop started
# (it paints the root black when it does), and another X client's window over it.
convert -size 720x1280 gradient:'#ff2000-#0030ff' -rotate 90 -fill '#ffff00' \
  -draw 'rectangle 600,300 900,500' -fill '#102030' -draw 'circle 200,500 260,560' "$work/pattern.png"
display -window root "$work/pattern.png" || true
xterm -bg '#00ff00' -fg black -geometry 40x10+40+40 -e sleep 100000 >/dev/null 2>&1 &
picture_xterm=$!
desktop_pids+=($picture_xterm)
for _ in $(seq 50); do xdotool search --onlyvisible --class xterm >/dev/null 2>&1 && break; sleep 0.1; done
# The pointer in the far corner, where it covers no pixel the comparison looks at.
xdotool mousemove 1279 719
sleep 0.5

echo "== record --platform win32: the screen comes out exactly"
KESTROVA_WIN32_STATS=1 wine_run record --platform win32 --seconds 4 --colours 16m -q \
  -o "$(win_path "$work/screen.swf")" >record.out 2>record.err &
recorder=$!
# The screen is taken while the recording runs: the program's tray icon is then on it too (in
# Wine's own tray window when no X tray runs), as it is in the recorded frames.
for _ in $(seq 100); do
  xdotool search --onlyvisible --name 'Wine System Tray' >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 1
import -window root -depth 8 "$work/root.ppm"
wait "$recorder" || fail "record: exit status $?: $(tail -3 record.err)"
grep '^win32:' record.err || fail "record: no capture statistics on stderr"
# Wine has no desktop duplication: the GDI path must have taken over cleanly.
grep -q 'path GDI (no duplication' record.err ||
  grep -q 'path desktop duplication' record.err || fail "record: the capture path is not named"
if [ -s "$work/screen.swf" ] && "$linux_kestrova" frames "$work/screen.swf" "$work/screen-frames" --every 12 >/dev/null; then
  last="$(ls "$work/screen-frames"/*.png | tail -1)"
  # All but the corner under the pointer: the recording draws it, the X capture does not.
  convert "$last" -crop 1270x710+0+0 +repage rgb:"$work/recorded.rgb"
  convert "$work/root.ppm" -crop 1270x710+0+0 +repage rgb:"$work/screen.rgb"
  if cmp -s "$work/recorded.rgb" "$work/screen.rgb"; then
    echo "record: the last frame equals the screen (${last##*/}, 1270x710 compared)"
  else
    fail "record: the recorded frame differs from the screen ($(cmp -l "$work/recorded.rgb" "$work/screen.rgb" | wc -l) bytes)"
  fi
  [ "$(ls "$work/screen-frames" | wc -l)" -ge 4 ] || fail "record: fewer than 4 pictures in 4 s at --every 12"
else
  fail "record: no movie, or the Linux program cannot read it"
fi

echo "== recover: a killed recording is joined; a running one is left alone"
"$wine_bin" "$win_kestrova" record --platform win32 -q -o "$(win_path "$work/never.swf")" \
  >killed.out 2>killed.err &
recording=$!
# One segment is written after 10 s of recording.
for _ in $(seq 150); do
  compgen -G "$state_folder/recording-*/capture1.swf" >/dev/null && break
  sleep 0.1
done
sleep 2
wine_run recover >running.out 2>running.err || fail "recover beside a running recording: exit status $?"
grep -q 'in progress' running.out || fail "recover did not see the running recording: $(cat running.out running.err)"
grep -q 'Joining' running.out && fail "recover joined a recording that was running"
kill -9 "$recording" 2>/dev/null || true
wait "$recording" 2>/dev/null || true
compgen -G "$state_folder/recording-*/capture1.swf" >/dev/null || fail "recover: the killed recording left no segment"
wine_run recover -o "$(win_path "$work/recovered.swf")" >recover.out 2>recover.err ||
  fail "recover: exit status $?: $(tail -3 recover.err)"
if "$linux_kestrova" frames "$work/recovered.swf" "$work/recovered-frames" --every 60 >/dev/null; then
  [ "$(ls "$work/recovered-frames" | wc -l)" -ge 2 ] || fail "recover: under 10 s of recording joined"
else
  fail "recover: the movie cannot be read"
fi
[ -z "$(ls -A "$state_folder" | grep '^recording-')" ] || fail "recover: the recording's folder was left: $(ls "$state_folder")"
[ ! -e "$work/never.swf" ] || fail "recover: the killed recording wrote its movie after all"

echo "== view: the page is served on 127.0.0.1 and handed to the browser"
# Wine's browser launcher asks xdg-open first; ours notes the address instead of opening one.
mkdir -p "$work/bin"
printf '#!/bin/sh\necho "$1" > "%s"\n' "$work/browser-url" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
PATH="$work/bin:$PATH" "$wine_bin" "$win_kestrova" view "$(win_path "$work/screen.swf")" >view.out 2>view.err &
viewer=$!
for _ in $(seq 100); do [ -s "$work/browser-url" ] && break; sleep 0.1; done
url="$(cat "$work/browser-url" 2>/dev/null)"
case "$url" in
  http://127.0.0.1:*/screen.html)
    curl -s -o "$work/served.swf" "${url%/*}/screen.swf" && cmp -s "$work/served.swf" "$work/screen.swf" ||
      fail "view: the movie served differs"
    [ "$(curl -s -o /dev/null -w '%{http_code}' "${url%/*}/..%2F..%2Fetc%2Fpasswd")" != 200 ] ||
      fail "view: a path outside the folder was served" ;;
  *) fail "view: the browser was not sent to the page (got '$url'; $(cat view.out view.err | head -3))" ;;
esac
kill "$viewer" 2>/dev/null || true
wait "$viewer" 2>/dev/null || true
true

# The user interface's own checks, on the same display and prefix, given the program: they find
# Wine, the display, the prefix and the Linux program (to read movies back) in these variables.
export WINE="$wine_bin" KESTROVA_LINUX="$linux_kestrova" DISPLAY WINEPREFIX
kill "$picture_xterm" 2>/dev/null || true  # the xterm: its focus is not theirs to meet
# ui_all.sh runs the interface's checks and then its flows against the program.
ui="$KESTROVA_ROOT/tests/wine/ui_all.sh"
if [ -e "$ui" ]; then
  echo "== ${ui##*/}"
  bash "$ui" "$win_kestrova" || fail "${ui##*/}: exit status $?"
fi
