#!/bin/bash
# Peak resident memory and CPU time of `kestrova dump` and `kestrova rewrite` on movies larger than
# the loader's memory budget (1 GiB): 1.2 GB and 3 GB plain, and 1.2 GB compressed, each made of
# 1 MB bitmaps by `SWFFileBench --write-big-movie` (written as they are made, never held); then a
# deflate bomb (3 GB of zeros in a file of 3 MB) that must be refused within the budget.
# Usage: bench/swf_big_movie_memory.sh SWFFileBench KESTROVA [WORK_FOLDER]
# The work folder (default: a temporary one) needs about 9 GB free; it is emptied at the end.
set -euo pipefail
bench=$1
exe=$2
work=${3:-$(mktemp -d)}
mkdir -p "$work"
trap 'rm -f "$work"/big-*.swf "$work"/bomb.swf "$work"/out.swf "$work"/time "$work"/err' EXIT
printf '%-16s %-8s %10s %12s %8s  %s\n' input command "file MB" "peak RSS MB" "CPU s" status
run() {  # name command args...
  local name=$1
  shift
  local status=0
  /usr/bin/time -f '%M %U %S' -o "$work/time" "$exe" "$@" >/dev/null 2>"$work/err" || status=$?
  read -r rss user sys <"$work/time"
  local size
  size=$(stat -c %s "$work/$name.swf")
  printf '%-16s %-8s %10.1f %12.1f %8.2f  %s\n' "$name" "$1" "$(echo "$size / 1000000" | bc -l)" \
    "$(echo "$rss / 1024" | bc -l)" "$(echo "$user + $sys" | bc -l)" \
    "$([ $status = 0 ] && echo ok || head -c 200 "$work/err")"
}
for movie in "big-1200-plain 1200" "big-3000-plain 3000" "big-1200-cws 1200 --compressed"; do
  set -- $movie
  name=$1
  "$bench" --write-big-movie "$work/$name.swf" "$2" ${3:-}
  run "$name" dump "$work/$name.swf"
  run "$name" rewrite "$work/$name.swf" "$work/out.swf"
  if [ -f "$work/out.swf" ]; then
    cmp -s "$work/$name.swf" "$work/out.swf" && echo "  (rewritten file equals its input)" ||
      echo "  (the rewritten file differs from its input)"
    rm -f "$work/out.swf"
  fi
  rm -f "$work/$name.swf"
done
"$bench" --write-zero-bomb "$work/bomb.swf" 3000
run bomb dump "$work/bomb.swf"
run bomb rewrite "$work/bomb.swf" "$work/out.swf"
rm -f "$work/bomb.swf" "$work/out.swf"
