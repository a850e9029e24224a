#!/usr/bin/env bash
# The browser test: the pages of movies built like the recorder's, played by the Ruffle web
# player in headless Chromium, must show the frames the project's own player draws.
# Usage: run_browser_test.sh MAKE_BROWSER_MOVIES WORKDIR KESTROVA
# Installs playwright-core and @ruffle-rs/ruffle from the npm registry into WORKDIR (once); at test
# time only 127.0.0.1 is contacted. Exits 77 (skipped) saying why when it cannot run.
set -uo pipefail

maker="$1"
work="$2"
kestrova="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
skip() {
  echo "SKIP: $*"
  exit 77
}

chromium="$(command -v chromium || command -v chromium-browser || true)"
[ -n "$chromium" ] || skip "no Chromium (on Debian: apt-get install chromium)"
command -v node >/dev/null || skip "no Node.js (on Debian: apt-get install nodejs npm)"

mkdir -p "$work"
if ! cmp -s "$here/package.json" "$work/package.json" ||
  [ ! -d "$work/node_modules/playwright-core" ] || [ ! -f "$work/node_modules/@ruffle-rs/ruffle/ruffle.js" ]; then
  command -v npm >/dev/null || skip "no npm to install playwright-core and @ruffle-rs/ruffle (apt-get install npm)"
  cp "$here/package.json" "$work/package.json"
  if ! (cd "$work" && npm install --no-audit --no-fund --no-package-lock >npm-install.log 2>&1); then
    tail -5 "$work/npm-install.log"
    skip "npm could not install playwright-core and @ruffle-rs/ruffle (see $work/npm-install.log)"
  fi
fi

site="$work/site"
rm -rf "$site"
mkdir -p "$site"
"$maker" "$site" || exit 1
# The slideshow of the maker's JPEG slides as the program makes it, and its frames as the
# program's own player draws them.
"$kestrova" slideshow "$site/slideshow.swf" "$site/slide-1.jpg" "$site/slide-2.jpg" \
  --seconds-each 2 -q >/dev/null || exit 1
"$kestrova" frames "$site/slideshow.swf" "$site/slideshow-frames" >/dev/null || exit 1
ln -s "$work/node_modules/@ruffle-rs/ruffle" "$site/ruffle"
exec node "$here/ruffle_test.cjs" "$site" "$work/node_modules" "$chromium"
