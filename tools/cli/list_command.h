// list: every setting with its type code, operations, reset code and label.
#pragma once

#include <ostream>

namespace zolvane::cli {

int RunList(std::ostream& out, bool json);

}  // namespace zolvane::cli
