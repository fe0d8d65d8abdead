// Built only when the web page's files are not part of the build: the API without a page.
#include "web/web_assets.h"

namespace zolvane::service {

const WebAsset* findWebAsset(std::string_view) { return nullptr; }

}  // namespace zolvane::service
