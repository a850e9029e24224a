# Tests that must also pass on Windows, for the cross-build: Debian has no mingw-w64 GoogleTest,
# so it is built from Debian's own GoogleTest source (libgtest-dev), and only the tests that say
# something particular to the system are built (the rest need POSIX parts such as crypt()).
# They run under Wine from scripts/windows.sh.
set(KESTROVA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source (libgtest-dev)")
if(NOT EXISTS ${KESTROVA_GTEST_SOURCE}/CMakeLists.txt)
  message(WARNING "No GoogleTest source in ${KESTROVA_GTEST_SOURCE}: no Windows checks")
  return()
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KESTROVA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_executable(windows_checks ${PROJECT_SOURCE_DIR}/tests/swftools/FileSystemTest.cpp)
target_link_libraries(windows_checks PRIVATE swftools gtest gtest_main)
# The Windows backend's files (the folder lock, the state folder).
if(TARGET platform)
  target_sources(windows_checks PRIVATE ${PROJECT_SOURCE_DIR}/tests/win32/Win32FilesTest.cpp)
  target_link_libraries(windows_checks PRIVATE platform)
endif()
