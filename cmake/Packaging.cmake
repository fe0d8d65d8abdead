# The Debian package: everything `cmake --install` puts in place (library, header, pkg-config
# file, CMake package, zolvane, the emulator, and varnex when it is built), under /usr.
#
#   cpack --config build/CPackConfig.cmake -G DEB -B build/packages
set(ZOLVANE_PACKAGE_CONTACT "Zolvane maintainers <maintainers@zolvane.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME zolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Projector control over RS-232 or TCP")
if(TARGET varnex)
  set(zolvane_desktop_program ", the Varnex desktop program")
endif()
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "The zolvane command library, the zolvane command-line tool for scripts"
    "${zolvane_desktop_program} and a projector emulator for trying them without hardware.")
set(CPACK_PACKAGE_CONTACT "${ZOLVANE_PACKAGE_CONTACT}")
if(WIN32)
  # No Debian package for the Windows build: a plain archive of the installed files.
  set(CPACK_GENERATOR ZIP)
  include(CPack)
  return()
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The build keeps its debug information; the package does not need it.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libzolvane.so.1 is in the package itself; the shlibs entry lets other packages depend on it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
find_program(ZOLVANE_FILE_PROGRAM file)
find_program(ZOLVANE_SHLIBDEPS_PROGRAM dpkg-shlibdeps)
if(ZOLVANE_FILE_PROGRAM AND ZOLVANE_SHLIBDEPS_PROGRAM)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(WARNING "dpkg-shlibdeps or file is missing: the .deb lists only the C++ run-time as its "
                  "dependencies (install dpkg-dev and file to compute them)")
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()

include(CPack)
