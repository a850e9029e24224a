# Cross-builds the Windows (x86-64) program with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix,
# zlib from libz-mingw-w64-dev):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The program is linked statically, so kestrova.exe runs without any DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTROVA_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model: std::thread and std::mutex are complete there.
find_program(CMAKE_CXX_COMPILER NAMES ${KESTROVA_MINGW_PREFIX}-g++-posix ${KESTROVA_MINGW_PREFIX}-g++)
find_program(CMAKE_C_COMPILER NAMES ${KESTROVA_MINGW_PREFIX}-gcc-posix ${KESTROVA_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${KESTROVA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTROVA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and tools built for Windows run under Wine when there is one.
find_program(KESTROVA_WINE NAMES wine64 wine)
if(KESTROVA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTROVA_WINE})
endif()
