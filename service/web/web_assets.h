// The web page's files, built into the service: nothing is fetched from anywhere else.
#pragma once

#include <string_view>

namespace zolvane::service {

struct WebAsset {
    std::string_view path;         // "/index.html", "/app.js", ...
    std::string_view contentType;  // "text/html; charset=utf-8", ...
    std::string_view body;
};

// The file served at this request path; "/" is "/index.html". Null for any other path.
const WebAsset* findWebAsset(std::string_view path);

}  // namespace zolvane::service
