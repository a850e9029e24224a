#!/usr/bin/env bash
# Installs, builds and runs the whole test suite twice: a normal build, then an AddressSanitizer
# and UndefinedBehaviorSanitizer build that halts on the first error.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
kestrova_install

echo "== normal build =="
kestrova_build "$KESTROVA_ROOT/build"
(cd "$KESTROVA_ROOT/build" && ctest --output-on-failure -j "$(nproc)")

echo "== sanitizer build (address, undefined) =="
kestrova_build "$KESTROVA_ROOT/build-asan" -DKESTROVA_SANITIZE=ON -DKESTROVA_BENCH=OFF
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
(cd "$KESTROVA_ROOT/build-asan" && ctest --output-on-failure -j "$(nproc)")
echo "All tests passed (normal and sanitizer builds)."
