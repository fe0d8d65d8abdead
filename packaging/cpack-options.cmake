# Read by cpack for each generator. The Debian packages each open their description with a
# synopsis of their own: without this, CPack would put the one summary in front of all of them.
if(CPACK_GENERATOR STREQUAL "DEB")
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
endif()
