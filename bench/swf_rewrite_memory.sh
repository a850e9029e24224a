#!/bin/bash
# Peak resident memory and CPU time of `kestrova rewrite` on the generated 31 MB movie (plain and
# compressed, written back as it was), for one or more kestrova binaries side by side.
# Usage: bench/swf_rewrite_memory.sh SWFFileBench KESTROVA [KESTROVA...]
set -euo pipefail
bench=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --write-movie "$work/plain.swf"
"$bench" --write-movie "$work/compressed.swf" --compressed
printf '%-40s %-11s %10s %10s %12s %10s\n' binary input "file MB" "body MB" "peak RSS MB" "CPU s"
for exe in "$@"; do
  for kind in plain compressed; do
    in="$work/$kind.swf"
    /usr/bin/time -f '%M %U %S' -o "$work/time" "$exe" rewrite "$in" "$work/out.swf" >/dev/null
    read -r rss user sys <"$work/time"
    body=$("$exe" dump "$in" | awk '/^File length:/ {print $3}')
    printf '%-40s %-11s %10.1f %10.1f %12.1f %10.2f\n' "$exe" "$kind" \
      "$(echo "$(stat -c %s "$in") / 1048576" | bc -l)" "$(echo "$body / 1048576" | bc -l)" \
      "$(echo "$rss / 1024" | bc -l)" "$(echo "$user + $sys" | bc -l)"
    cmp -s "$in" "$work/out.swf" || echo "  (the rewritten file differs from its input)"
  done
done
