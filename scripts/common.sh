# Shared by run.sh and test.sh: installs what the build needs and builds one configuration.
# Safe to run again and again: installed packages and finished builds are reused.
set -euo pipefail

KESTROVA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KESTROVA_PACKAGES=(cmake make g++ pkg-config zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
                   libcrypt-dev libdeflate-dev
                   libx11-dev libxext-dev libxfixes-dev libxtst-dev qt6-base-dev xvfb xfonts-base
                   ffmpeg time)

kestrova_install() {
  local missing=()
  for p in "${KESTROVA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

# kestrova_build DIR [cmake options...]
kestrova_build() {
  local dir="$1"
  shift
  local launcher=()
  # Rebuilds of several checkouts on one machine share compiled objects when ccache is there.
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  CCACHE_BASEDIR="$KESTROVA_ROOT" cmake -S "$KESTROVA_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "${launcher[@]}" "$@" >/dev/null
  CCACHE_BASEDIR="$KESTROVA_ROOT" cmake --build "$dir" -j "$(nproc)"
}
