// frame: the 13 bytes of a command frame in hex, as the library would send them; sends nothing.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace zolvane::cli {

// action: get, set, inc, dec, reset or exec. setting: a name or label, or a type code in
// decimal or 0x hex for frames the catalogue has no function for.
int RunFrame(std::ostream& out, const std::string& action, const std::string& setting,
             const std::optional<std::string>& value);

}  // namespace zolvane::cli
