# The Debian package: `cpack -G DEB` in a build folder makes kestrune_<version>_<arch>.deb of
# whatever that build installs. A headless build (KESTRUNE_APP=OFF) installs no window, so its
# package holds the command line, the virtual receiver and their pages, and needs no Qt.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and set up a TSIP GPS receiver on a serial port")
# Lines of the long description stay under 80 columns, as Debian asks.
set(CPACK_PACKAGE_DESCRIPTION
  "Kestrune finds a GPS receiver that speaks TSIP on a serial port by trying
baud rates and parities until it answers, shows its port settings, output
format (TSIP or NMEA) and NMEA sentences, writes a new configuration, and
resets it to factory settings with a line break.

The package holds the command line (kestrunectl), a virtual receiver on a
pseudo-terminal (kestrune-sim) for trying it, or other GPS software, without
hardware, and, when built with Qt, the settings window (kestrune).")
set(KESTRUNE_MAINTAINER "Kestrune developers <kestrune@example.invalid>"
  CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTRUNE_MAINTAINER}")
include(${CMAKE_CURRENT_LIST_DIR}/debian/PackageDocs.cmake)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends comes from the libraries the installed programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debian ships binaries without symbols; the debug information stays in the build folder.
set(CPACK_STRIP_FILES ON)
include(CPack)
