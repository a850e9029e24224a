# Shared by run.sh and test.sh: installs what the build needs and builds one configuration.
# Safe to run again and again: installed packages and finished builds are reused.
set -euo pipefail

KESTROVA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KESTROVA_PACKAGES=(cmake make g++ pkg-config zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
                   libcrypt-dev libdeflate-dev libcli11-dev)
# The player's commands and their tests: libpng reads back the PNG pictures, ffmpeg exports;
# the browser test: Chromium and Node.js (npm installs the browser driver and the web player).
KESTROVA_PACKAGES+=(libpng-dev ffmpeg chromium nodejs)
# The player decodes JPEG pictures with libjpeg(-turbo) and MP3 sound with libmpg123.
KESTROVA_PACKAGES+=(libjpeg-dev libmpg123-dev)
# The recorder codes a recording's sound in MP3 with libmp3lame (ADPCM without it).
KESTROVA_PACKAGES+=(libmp3lame-dev)
# The extra configurations of the test script: clang, the Debian package (dpkg-shlibdeps, file),
# and the Windows cross-build checked under Wine. A machine without them skips those parts.
KESTROVA_PACKAGES+=(clang dpkg-dev file)
KESTROVA_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64)
# The Windows program's desktop tests (Wine on Xvfb, a known picture, xdotool) and its installer.
KESTROVA_WINDOWS_PACKAGES+=(xvfb x11-utils x11-xserver-utils xdotool xterm imagemagick curl nsis)
# The X11 desktop backend (X11 and Qt 6) and its tests (Xvfb) and side-by-side benchmark.
KESTROVA_PACKAGES+=(libx11-dev libxext-dev libxfixes-dev libxtst-dev qt6-base-dev xvfb xfonts-base time)
KESTROVA_PACKAGES+=(libxdamage-dev)
KESTROVA_PACKAGES+=(openbox)  # the window manager of the tool window's Active Window tests
# The Wayland backend (PipeWire, Qt on Wayland). Its tests' headless GNOME compositor with the
# desktop portal is installed by scripts/wayland.sh (without recommends: no whole GNOME desktop);
# GStreamer's PipeWire source is the benchmark's floor.
KESTROVA_PACKAGES+=(libpipewire-0.3-dev qt6-wayland)
KESTROVA_WAYLAND_PACKAGES=(mutter xdg-desktop-portal xdg-desktop-portal-gnome pipewire wireplumber
                           dbus-user-session python3-dbus python3-gi gir1.2-gtk-3.0
                           gstreamer1.0-pipewire gstreamer1.0-tools)
# Sound from the sound server (libpulse) and its tests on PulseAudio and on PipeWire.
KESTROVA_PACKAGES+=(pulseaudio pulseaudio-utils libpulse-dev pipewire pipewire-pulse wireplumber dbus-user-session)

kestrova_install() {
  local missing=()
  for p in "${KESTROVA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  # Some Node.js builds carry npm themselves and conflict with Debian's npm package.
  [ "${KESTROVA_NEEDS_NPM:-1}" = 0 ] || command -v npm >/dev/null || missing+=(npm)
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
  # With -g ccache hashes the build folder too; leaving it out lets worktrees and fresh clones
  # share objects (their debug info then names the first checkout's folder).
  CCACHE_BASEDIR="$KESTROVA_ROOT" CCACHE_NOHASHDIR=1 cmake --build "$dir" -j "$(nproc)"
}

# Installs the Windows cross-build's packages where the system has them; returns non-zero if not.
kestrova_install_windows() {
  local saved=("${KESTROVA_PACKAGES[@]}") status=0
  KESTROVA_PACKAGES=("${KESTROVA_WINDOWS_PACKAGES[@]}")
  kestrova_install >&2 || status=$?
  KESTROVA_PACKAGES=("${saved[@]}")
  return $status
}
