# What Windows users install: an NSIS installer (Debian's `nsis` package makes it on Linux) with a
# Start-menu entry, an uninstaller and .swf movies opening with `kestrova view`, and the same files
# as a portable zip. `cpack` in the Windows build folder makes both.
set(CPACK_GENERATOR NSIS ZIP)
# The values below hold quotes and backslashes for NSIS: written as they stand, not re-escaped.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_FILE_NAME "kestrova-${PROJECT_VERSION}-windows-x86_64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Kestrova")
set(CPACK_NSIS_PACKAGE_NAME "Kestrova")
set(CPACK_NSIS_DISPLAY_NAME "Kestrova")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer for the 64-bit program: it needs no 32-bit Windows layer (WoW64, or Wine's).
if(CMAKE_HOST_UNIX)
  set(CPACK_NSIS_EXECUTABLE "${PROJECT_SOURCE_DIR}/cmake/makensis-amd64.sh")
endif()
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\kestrova.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The Start-menu entry: the program without arguments opens the tool window.
set(CPACK_PACKAGE_EXECUTABLES kestrova "Kestrova")
set(CPACK_NSIS_MENU_LINKS "share/doc/kestrova/README.md" "Kestrova README")

# .swf movies open in `kestrova view`, for this user or all users as the installer runs (SHCTX);
# the uninstaller takes the association back only where it is still ours.
set(KESTROVA_NSIS_CLASS "Software\\Classes\\Kestrova.Movie")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  WriteRegStr SHCTX '${KESTROVA_NSIS_CLASS}' '' 'Kestrova recording (SWF movie)'
  WriteRegStr SHCTX '${KESTROVA_NSIS_CLASS}\\DefaultIcon' '' '$INSTDIR\\bin\\kestrova.exe,0'
  WriteRegStr SHCTX '${KESTROVA_NSIS_CLASS}\\shell\\open\\command' '' '\"$INSTDIR\\bin\\kestrova.exe\" view \"%1\"'
  WriteRegStr SHCTX 'Software\\Classes\\.swf' '' 'Kestrova.Movie'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  ReadRegStr $0 SHCTX 'Software\\Classes\\.swf' ''
  StrCmp $0 'Kestrova.Movie' 0 +2
  DeleteRegKey SHCTX 'Software\\Classes\\.swf'
  DeleteRegKey SHCTX '${KESTROVA_NSIS_CLASS}'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
")
