# A header-only library for a cross build, taken from the build machine's Debian package. The
# package's own CMake file cannot be used there: it puts all of /usr/include on the include
# path, where the build machine's C library headers would stand in for MinGW's. So only the
# library's own folder is copied into the build tree, and a target of the usual name points
# there.
#
#   zolvane_host_header_library(TARGET HEADER PACKAGE)
#     TARGET   the name the package's CMake file would give, such as CLI11::CLI11
#     HEADER   a header inside the library's folder, such as CLI/CLI.hpp
#     PACKAGE  the Debian package that holds it, for the message when it is missing
function(zolvane_host_header_library target header package)
  if(TARGET ${target})
    return()
  endif()
  get_filename_component(folder ${header} DIRECTORY)
  string(MAKE_C_IDENTIFIER "ZOLVANE_HOST_${folder}_INCLUDE_DIR" variable)
  find_path(${variable} ${header}
      PATHS /usr/local/include /usr/include
      NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
      DOC "Build machine's include folder that holds ${header}")
  if(NOT ${variable})
    message(FATAL_ERROR "${header} was not found on this machine: install ${package} "
                        "(scripts/install-deps), or set ${variable}")
  endif()
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/host-headers)
  file(COPY ${${variable}}/${folder} DESTINATION ${copy})
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${copy})
endfunction()
