# The Debian packages, one for each component of the install, so that a server takes the tools
# without the desktop program and Qt:
#
#   package          component    holds
#   libzolvane1      library      the shared object, in the multiarch library folder
#   libzolvane-dev   development  the headers, the .so link, the pkg-config and CMake files
#   zolvane          tools        zolvane, zolvaned and its unit, the emulator, the completions
#   varnex           desktop      the desktop program, its menu entry and icon
#
#   cpack --config build/CPackConfig.cmake -G DEB -B build/packages
#
# Windows keeps one ZIP of every component.
set(ZOLVANE_PACKAGE_CONTACT "Zolvane maintainers <maintainers@zolvane.invalid>"
    CACHE STRING "Maintainer named in the Debian packages")

set(CPACK_PACKAGE_NAME zolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Projector control over RS-232 or TCP")
set(CPACK_PACKAGE_CONTACT "${ZOLVANE_PACKAGE_CONTACT}")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack-options.cmake)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  include(CPack)
  return()
endif()

# Man pages go in gzip -9n (no name, no time stamp: the same bytes on every build); each is
# installed only with the program it describes.
#   page                  program             component
set(zolvane_man_pages
    "zolvane.1            zolvane-cli         tools"
    "zolvaned.8           zolvaned            tools"
    "projector-emulator.1 projector-emulator  tools"
    "varnex.1             varnex              desktop")
# Every package carries the copyright and the changelog under /usr/share/doc/PACKAGE.
#   component    package                               present when this target is built
set(zolvane_packages
    "library     libzolvane${PROJECT_VERSION_MAJOR}  zolvane"
    "development libzolvane-dev                        zolvane"
    "tools       zolvane                               zolvane-cli"
    "desktop     varnex                                varnex")

set(zolvane_man_folder ${PROJECT_BINARY_DIR}/man)
set(zolvane_compressed)
foreach(row IN LISTS zolvane_man_pages)
  string(REGEX MATCHALL "[^ ]+" row "${row}")
  list(GET row 0 page)
  list(GET row 1 program)
  list(GET row 2 component)
  if(NOT TARGET ${program})
    continue()
  endif()
  string(REGEX REPLACE ".*\\." "" section "${page}")
  add_custom_command(OUTPUT ${zolvane_man_folder}/${page}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/${page} ${zolvane_man_folder}/${page}
      COMMAND gzip -9nf ${zolvane_man_folder}/${page}
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page}
      VERBATIM)
  list(APPEND zolvane_compressed ${zolvane_man_folder}/${page}.gz)
  install(FILES ${zolvane_man_folder}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT ${component})
endforeach()

# A Debian changelog in its own format, one entry for this version.
set(ZOLVANE_CHANGELOG_SOURCE zolvane)
string(TIMESTAMP ZOLVANE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${zolvane_man_folder}/changelog @ONLY)
add_custom_command(OUTPUT ${zolvane_man_folder}/changelog.gz
    COMMAND gzip -9nkf ${zolvane_man_folder}/changelog
    DEPENDS ${zolvane_man_folder}/changelog
    VERBATIM)
list(APPEND zolvane_compressed ${zolvane_man_folder}/changelog.gz)
add_custom_target(zolvane_package_documents ALL DEPENDS ${zolvane_compressed})

set(CPACK_COMPONENTS_ALL)
foreach(row IN LISTS zolvane_packages)
  string(REGEX MATCHALL "[^ ]+" row "${row}")
  list(GET row 0 component)
  list(GET row 1 package)
  list(GET row 2 program)
  if(NOT TARGET ${program})
    continue()
  endif()
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${upper}_FILE_NAME DEB-DEFAULT)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${zolvane_man_folder}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

# The shell completions and an example inventory (the real one, /etc/zolvaned/inventory.toml,
# is the administrator's own: the package ships no conffile).
install(FILES ${PROJECT_SOURCE_DIR}/tools/cli/completion/zolvane.bash
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME zolvane
        COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/tools/cli/completion/_zolvane
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/zsh/vendor-completions COMPONENT tools)
if(TARGET zolvaned)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/inventory.toml
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zolvane/examples COMPONENT tools)
endif()

set(library_package libzolvane${PROJECT_VERSION_MAJOR})
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The build keeps its debug information; the packages do not need it.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# Each description's first line is its package's synopsis (packaging/cpack-options.cmake).
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# The loader's cache is brought up to date by dpkg's trigger, not by a call in a script.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "projector control library
libzolvane drives a projector over a serial port or a TCP connection: every
setting of its catalogue read, set, stepped and reset, and the projector's
status, through a C interface.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${library_package} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "projector control library - development files
The C headers of libzolvane, the link for the linker, a pkg-config file
(pkg-config zolvane) and a CMake package (find_package(Zolvane) gives the
target Zolvane::zolvane).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${library_package} (>= ${PROJECT_VERSION}), tzdata")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "projector control from the command line and a fleet service
zolvane reads and changes a projector's settings from scripts, one projector
or every projector of an inventory at once. zolvaned watches and drives every
projector of a site and answers a JSON API, a web page, Prometheus metrics,
MQTT and PJLink, runs schedules and keeps a history with usage reports.
projector-emulator behaves like a projector on a TCP port or
a pseudo-terminal, for trying them without hardware.")

set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "${library_package} (>= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "desktop program to operate a projector
varnex operates one projector over a serial cable or the network from a small
toolbar and the notification area, with a window of advanced settings.")

# libzolvane1's shlibs entry lets other packages depend on it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
find_program(ZOLVANE_FILE_PROGRAM file)
find_program(ZOLVANE_SHLIBDEPS_PROGRAM dpkg-shlibdeps)
if(ZOLVANE_FILE_PROGRAM AND ZOLVANE_SHLIBDEPS_PROGRAM)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Each component is staged in a folder of its own beside the others; the programs find
  # libzolvane in the library's.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
      "../library${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}")
else()
  message(WARNING "dpkg-shlibdeps or file is missing: the packages list only the C++ run-time "
                  "as their dependencies (install dpkg-dev and file to compute them)")
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  foreach(component TOOLS DESKTOP)
    string(PREPEND CPACK_DEBIAN_${component}_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, ")
  endforeach()
endif()

include(CPack)
