#!/usr/bin/env bash
# Cross-compiles the user interface's demo program and checks (win32_ui_demo.exe,
# win32_ui_checks.exe) straight from the sources, for trying the interface before the Windows
# build carries it. Usage: tests/wine/build_ui_demo.sh OUTDIR
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
out="${1:?usage: build_ui_demo.sh OUTDIR}"
mkdir -p "$out"
cxx=x86_64-w64-mingw32-g++-posix
flags=(-std=c++20 -O1 -Wall -Wextra -Werror -I"$root" -DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0A00)
libs=(-static -luser32 -lgdi32 -lshell32 -lcomdlg32 -lcomctl32)
ui=("$root"/platform/win32/Win32Ui*.cpp "$root"/platform/win32/Win32UserInterface.cpp
    "$root"/platform/win32/Win32Text.cpp)
objs=()
for f in "${ui[@]}"; do
  o="$out/$(basename "$f" .cpp).o"
  [ "$o" -nt "$f" ] && [ -z "$(find "$root/platform/win32" -name '*.h' -newer "$o")" ] ||
    "$cxx" "${flags[@]}" -c "$f" -o "$o"
  objs+=("$o")
done
"$cxx" "${flags[@]}" -o "$out/win32_ui_demo.exe" "$root/tests/wine/Win32UiDemo.cpp" "${objs[@]}" "${libs[@]}"
gtest=/usr/src/googletest/googletest
if [ -f "$gtest/src/gtest-all.cc" ] && compgen -G "$root/tests/wine/*Test.cpp" >/dev/null; then
  [ -f "$out/gtest-all.o" ] ||
    "$cxx" -std=c++20 -O1 -I"$gtest/include" -I"$gtest" -c "$gtest/src/gtest-all.cc" -o "$out/gtest-all.o"
  [ -f "$out/gtest_main.o" ] ||
    "$cxx" -std=c++20 -O1 -I"$gtest/include" -c "$gtest/src/gtest_main.cc" -o "$out/gtest_main.o"
  "$cxx" "${flags[@]}" -I"$gtest/include" -o "$out/win32_ui_checks.exe" "$root"/tests/wine/*Test.cpp \
    "${objs[@]}" "$out/gtest-all.o" "$out/gtest_main.o" "${libs[@]}"
fi
