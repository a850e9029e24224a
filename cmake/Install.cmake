# Where `cmake --install` puts the program and its documents (the usual Linux places under
# CMAKE_INSTALL_PREFIX), and the Debian package that `cpack -G DEB` makes of the same files.
# Only the program is installed: the libraries are static and linked into it.

# Debian keeps a package's documents in share/doc/<package>, in lower case.
set(CMAKE_INSTALL_DOCDIR "share/doc/kestrova" CACHE PATH "Documentation directory")
# Qt's CMake files include GNUInstallDirs before this, leaving the cache entry empty.
if(NOT CMAKE_INSTALL_DOCDIR)
  set(CMAKE_INSTALL_DOCDIR "share/doc/kestrova" CACHE PATH "Documentation directory" FORCE)
endif()
include(GNUInstallDirs)

install(TARGETS kestrova RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md LICENSE NOTICES.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(NOT CMAKE_CROSSCOMPILING)
  install(FILES ${PROJECT_BINARY_DIR}/app/kestrova.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Where bash-completion loads a command's completion from when it is first completed.
  install(FILES ${PROJECT_BINARY_DIR}/app/kestrova.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kestrova)
endif()
# With the desktop backend: the menu entry and the icon (drawn at build time) where a Linux
# desktop looks for them.
if(KESTROVA_X11)
  install(FILES platform/qt/kestrova.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # "Open with" for SWF movies: the viewer window (kestrova view).
  install(FILES platform/qt/kestrova-view.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_BINARY_DIR}/platform/qt/kestrova.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
endif()

# File managers draw a recording's first frame as its icon (kestrova thumbnail needs no desktop
# backend).
if(UNIX AND NOT CMAKE_CROSSCOMPILING)
  install(FILES platform/qt/kestrova.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
endif()

set(CPACK_PACKAGE_NAME kestrova)
set(CPACK_PACKAGE_VENDOR "The Kestrova developers")
set(CPACK_PACKAGE_CONTACT "The Kestrova developers <kestrova@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Screen recorder that writes compressed SWF movies")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrova records what happens on the screen into a compressed SWF (Flash) movie plus an \
HTML page that embeds it. The kestrova program also lists and rewrites SWF files.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(WIN32)
  include(${PROJECT_SOURCE_DIR}/cmake/WindowsPackage.cmake)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# A package carries no debugging information, whatever the build type.
set(CPACK_STRIP_FILES ON)
# The runtime dependencies are the Debian packages of the shared libraries the program really
# links (dpkg-shlibdeps reads them off the binary), so they follow whatever the build linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
