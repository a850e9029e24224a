#!/usr/bin/env bash
# Installs a finished build into a temporary prefix and runs the installed program, then makes
# the Debian package and checks what it holds and depends on.
# Usage: scripts/install-test.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/usr" >/dev/null
version="$("$tmp/usr/bin/kestrova" --version)"
echo "installed: $version"
for f in README.md LICENSE NOTICES.md; do
  [ -f "$tmp/usr/share/doc/kestrova/$f" ] || { echo "FAILED: $f is not installed" >&2; exit 1; }
done

(cd "$build" && cpack -G DEB -B "$tmp/package" >"$tmp/cpack.log" 2>&1) || {
  cat "$tmp/cpack.log" >&2
  exit 1
}
deb="$(ls "$tmp"/package/kestrova_*.deb)"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "$(basename "$deb"): Depends: $depends"
# The package's dependencies come from the libraries the program links.
for p in libc6 zlib1g; do
  [[ "$depends" == *"$p"* ]] || { echo "FAILED: the package does not depend on $p" >&2; exit 1; }
done
dpkg-deb -x "$deb" "$tmp/unpacked"
[ "$("$tmp/unpacked/usr/bin/kestrova" --version)" = "$version" ] ||
  { echo "FAILED: the packaged program is not the installed one" >&2; exit 1; }
[ -f "$tmp/unpacked/usr/share/doc/kestrova/LICENSE" ] ||
  { echo "FAILED: the package has no LICENSE" >&2; exit 1; }
