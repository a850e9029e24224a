#!/usr/bin/env bash
# Installs, builds and runs the whole test suite: the normal build (GCC), its installation and
# Debian package, a clang Release build, the Windows cross-build checked under Wine, and an
# AddressSanitizer and UndefinedBehaviorSanitizer build that halts on the first error. Warnings
# are errors in every build here.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
kestrova_install

# Prints how long the section took, so the cost of each configuration stays visible.
section() {
  [ -z "${section_name:-}" ] || echo "-- $section_name: $((SECONDS - section_start)) s"
  section_name="$1"
  section_start=$SECONDS
  [ -z "$1" ] || echo "== $1 =="
}

section "normal build (GCC, RelWithDebInfo)"
kestrova_build "$KESTROVA_ROOT/build" -DKESTROVA_WERROR=ON
(cd "$KESTROVA_ROOT/build" && ctest --output-on-failure -j "$(nproc)")

section "install and Debian package"
bash "$KESTROVA_ROOT/scripts/install-test.sh" "$KESTROVA_ROOT/build"

# Another compiler's warnings and optimiser; the suite runs once more, the benchmarks are left out.
section "clang build (Release)"
if command -v clang++ >/dev/null; then
  kestrova_build "$KESTROVA_ROOT/build-clang" -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=Release -DKESTROVA_WERROR=ON -DKESTROVA_BENCH=OFF
  (cd "$KESTROVA_ROOT/build-clang" && ctest --output-on-failure -j "$(nproc)")
else
  echo "SKIPPED: clang++ is not installed"
fi

section "Windows cross-build (mingw-w64, Release) under Wine"
bash "$KESTROVA_ROOT/scripts/windows.sh" "$KESTROVA_ROOT/build/app/kestrova"

section "Win32 user interface under Wine (checks, tool window flows)"
bash "$KESTROVA_ROOT/tests/wine/ui_all.sh"

section "sanitizer build (address, undefined)"
kestrova_build "$KESTROVA_ROOT/build-asan" -DKESTROVA_SANITIZE=ON -DKESTROVA_BENCH=OFF \
  -DKESTROVA_WERROR=ON
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
(cd "$KESTROVA_ROOT/build-asan" && ctest --output-on-failure -j "$(nproc)")
section ""
echo "All tests passed (GCC, install, clang, Windows, sanitizer builds)."
