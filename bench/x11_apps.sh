# Sourced by bench/x11_vs_ffmpeg.sh: scenarios drawn by ordinary X programs rather than by the
# benchmark's own activity client, so that what is measured does not depend on how that client
# draws. Needs xterm, xclock and xlogo (Debian: xterm, x11-apps) and ffplay (ffmpeg).
#   terminal:  an xterm where a line is typed at ten characters a second and a burst of
#              command output scrolls by every five seconds, beside a ticking xclock, an xlogo
#              and a second xterm holding still text;
#   desktop:   the same windows, the clock left out, nothing moving;
#   animation: the same desktop with ffplay showing a 640 x 360 test picture at 25 frames a
#              second (testsrc2: moving gradients, a counter, noise).
# start_apps SCENARIO starts them on $DISPLAY_NAME and adds their ids to BENCH_PIDS.
APPS_SCENARIOS="terminal desktop animation"

apps_missing() {
  local tool
  for tool in xterm xclock xlogo xsetroot ffplay; do
    command -v "$tool" >/dev/null || { echo "$tool"; return; }
  done
}

# The typist: characters one by one, a command's output in a burst every fifty.
APPS_TYPIST='
text="the quick brown fox jumps over the lazy dog while the build runs its tests again "
n=0
while :; do
  printf "%s" "${text:$((n % ${#text})):1}"
  n=$((n + 1))
  if [ $((n % 50)) -eq 0 ]; then printf "\n"; ls -l /usr/bin | head -40; fi
  sleep 0.1
done'

start_apps() {  # scenario
  local d="$DISPLAY_NAME"
  DISPLAY="$d" xsetroot -solid "#3a6ea5"
  DISPLAY="$d" xterm -geometry 100x40+60+60 -e bash -c 'head -c 6000 /etc/services; sleep infinity' &
  BENCH_PIDS="$BENCH_PIDS $!"
  DISPLAY="$d" xlogo -geometry 160x160+1700+860 &
  BENCH_PIDS="$BENCH_PIDS $!"
  DISPLAY="$d" xterm -geometry 120x45+760+120 -e bash -c \
    "$([ "$1" = terminal ] && echo "$APPS_TYPIST" || echo 'echo \$ make test; sleep infinity')" &
  BENCH_PIDS="$BENCH_PIDS $!"
  if [ "$1" = terminal ]; then
    DISPLAY="$d" xclock -update 1 -geometry 200x200+1680+40 &
    BENCH_PIDS="$BENCH_PIDS $!"
  fi
  if [ "$1" = animation ]; then
    DISPLAY="$d" SDL_AUDIODRIVER=dummy ffplay -loglevel error -an -f lavfi \
      -i "testsrc2=size=640x360:rate=25" -left 1180 -top 620 -window_title animation &
    BENCH_PIDS="$BENCH_PIDS $!"
  fi
}
