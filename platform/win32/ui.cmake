# The Win32 user interface (tool window, paused dialog, message boxes, save dialog, tray icon,
# hot key, single instance, settings, countdown, region picker, hot key dialog): the library
# platform_win32_ui, for the Windows backend to link and own through TWin32UserInterface.
# Included by platform/win32/CMakeLists.txt on Windows builds. Expects the targets `media` (the
# bitmap type the interfaces name) and, where it exists, `platform` (which then carries the
# portable text helpers, Win32UiText.cpp, built and tested on Linux too).
set(KESTROVA_WIN32_UI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/Win32UiCommon.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Win32UiExtras.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Win32UiPictures.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Win32UiServices.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Win32UiViews.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Win32UserInterface.cpp)
if(NOT TARGET platform)
  list(APPEND KESTROVA_WIN32_UI_SOURCES ${CMAKE_CURRENT_LIST_DIR}/Win32UiText.cpp
       ${CMAKE_CURRENT_LIST_DIR}/Win32Text.cpp)
endif()
add_library(platform_win32_ui STATIC ${KESTROVA_WIN32_UI_SOURCES})
get_filename_component(_kestrova_ui_root ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
target_include_directories(platform_win32_ui PUBLIC ${_kestrova_ui_root})
target_compile_definitions(platform_win32_ui PRIVATE UNICODE _UNICODE NOMINMAX)
# Windows 10's declarations (the notification icon's balloon fields, MOD_NOREPEAT), unless the
# build asks for others.
if(NOT CMAKE_CXX_FLAGS MATCHES "_WIN32_WINNT")
  target_compile_definitions(platform_win32_ui PRIVATE _WIN32_WINNT=0x0A00 WINVER=0x0A00)
endif()
if(TARGET platform)
  target_link_libraries(platform_win32_ui PUBLIC platform)
elseif(TARGET media)
  target_link_libraries(platform_win32_ui PUBLIC media)
endif()
target_link_libraries(platform_win32_ui PRIVATE user32 gdi32 shell32 comdlg32 comctl32)

# Tried under Wine by tests/wine/ui_*.sh: the demo program that drives the interface as the
# recorder does, and, where GoogleTest is built for Windows, the interface's checks.
add_executable(win32_ui_demo ${_kestrova_ui_root}/tests/wine/Win32UiDemo.cpp)
target_link_libraries(win32_ui_demo PRIVATE platform_win32_ui)
target_compile_definitions(win32_ui_demo PRIVATE UNICODE _UNICODE NOMINMAX)
if(TARGET gtest AND TARGET gtest_main)
  file(GLOB _kestrova_ui_checks ${_kestrova_ui_root}/tests/wine/*Test.cpp)
  if(_kestrova_ui_checks)
    add_executable(win32_ui_checks ${_kestrova_ui_checks})
    target_link_libraries(win32_ui_checks PRIVATE platform_win32_ui gtest gtest_main)
    target_compile_definitions(win32_ui_checks PRIVATE UNICODE _UNICODE NOMINMAX)
  endif()
endif()
