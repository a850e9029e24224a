#!/usr/bin/env bash
# Builds every CMake build type (Debug, Release, RelWithDebInfo, MinSizeRel) with GCC and with
# clang, warnings as errors, one configuration after the other, and stops at the first that fails.
# Optimisation levels and compilers warn differently, so a build type nobody built can break a
# packager's build; this is the check for that. Tests are built, not run (scripts/test.sh runs them).
# Usage: scripts/build-types.sh [BUILD_ROOT]   (default: build-types/ in the repository)
#        KESTROVA_BUILD_TYPES="Release" KESTROVA_COMPILERS="clang++" narrow the matrix.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

root="$(realpath -m "${1:-$KESTROVA_ROOT/build-types}")"
mkdir -p "$root"
types=(${KESTROVA_BUILD_TYPES:-Release MinSizeRel RelWithDebInfo Debug})
compilers=(${KESTROVA_COMPILERS:-g++ clang++})

for cxx in "${compilers[@]}"; do
  if ! command -v "$cxx" >/dev/null; then
    echo "SKIPPED: $cxx is not installed"
    continue
  fi
  for type in "${types[@]}"; do
    dir="$root/$cxx-$type"
    echo "== $cxx $type =="
    start=$SECONDS
    if ! kestrova_build "$dir" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE="$type" \
      -DKESTROVA_WERROR=ON >"$dir.log" 2>&1; then
      grep -E "error|warning" "$dir.log" | head -40 >&2
      echo "FAILED: $cxx $type (full log: $dir.log)" >&2
      exit 1
    fi
    echo "-- $cxx $type: $((SECONDS - start)) s"
  done
done
echo "All build types build warning-free with: ${compilers[*]}"
