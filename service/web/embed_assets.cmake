# Writes OUTPUT, a C++ file that implements findWebAsset() over the files in FILES.
# Run as: cmake -DOUTPUT=web_assets.cpp "-DFILES=a;b" -P embed_assets.cmake
# Extension and content type; text types are served as UTF-8.
set(content_types
    ".html" "text/html"
    ".js" "text/javascript"
    ".css" "text/css"
    ".svg" "image/svg+xml")

set(bodies "")
set(entries "")
set(index 0)
foreach(file ${FILES})
  get_filename_component(name ${file} NAME)
  get_filename_component(extension ${file} LAST_EXT)
  list(FIND content_types "${extension}" found)
  if(found LESS 0)
    message(FATAL_ERROR "no content type for ${name}")
  endif()
  math(EXPR found "${found} + 1")
  list(GET content_types ${found} type)
  if(type MATCHES "^text/")
    string(APPEND type "; charset=utf-8")
  endif()

  file(READ ${file} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Every byte as a hex escape, 32 bytes to a line; each escape ends where the next begins.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
  string(REPEAT "\\\\x.." 32 line)
  string(REGEX REPLACE "(${line})" "\\1\"\n    \"" escaped "${escaped}")
  string(APPEND bodies "constexpr char body${index}[] =\n    \"${escaped}\";\n")
  string(APPEND entries
         "    {\"/${name}\", \"${type}\", std::string_view(body${index}, ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()

file(WRITE ${OUTPUT}
"// Written by embed_assets.cmake from service/web; edit the page's files, not this.
#include \"web_assets.h\"

namespace zolvane::service {
namespace {

${bodies}
constexpr WebAsset assets[] = {
${entries}};

}  // namespace

const WebAsset* findWebAsset(std::string_view path) {
    if (path == \"/\") path = \"/index.html\";
    for (const WebAsset& asset : assets) {
        if (asset.path == path) return &asset;
    }
    return nullptr;
}

}  // namespace zolvane::service
")
