// Windows' own words for a GetLastError() code, for messages.
#pragma once

#include <cstdint>
#include <string>

namespace zolvane::cli {

// "Access is denied", or "error 1234" when Windows has no text for the code.
std::string ErrorText(std::uint32_t code);

}  // namespace zolvane::cli
