# Rebuilds a 32-bit DLL's import library from the decorated names ld lists for it (name@n), so
# that callers compiled against the header's __stdcall declarations link, while each function
# is still imported by the plain name the DLL exports (dlltool --kill-at).
#
#   cmake -DDEF=exports.def -DDLL_NAME=ZOLVANE.DLL -DDLLTOOL=i686-w64-mingw32-dlltool
#         -DOUTPUT=libzolvane.dll.a -P stdcall-import-library.cmake
file(STRINGS "${DEF}" lines REGEX "=")
set(decorated "EXPORTS\n")
foreach(line IN LISTS lines)
  if(line MATCHES "= *([A-Za-z0-9_]+@[0-9]+)")
    string(APPEND decorated "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(WRITE "${DEF}.decorated" "${decorated}")
execute_process(
    COMMAND "${DLLTOOL}" --dllname "${DLL_NAME}" --def "${DEF}.decorated" --output-lib "${OUTPUT}"
            --kill-at
    RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "dlltool could not build ${OUTPUT}")
endif()
