// Small text helpers shared by the parsers and the printers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ignoring_case.h"  // EqualIgnoringCase, the library's own

namespace zolvane::cli {

std::string_view Trim(std::string_view text);
// "BE EF 03": upper-case hex bytes separated by single spaces.
std::string HexBytes(std::span<const uint8_t> bytes);
// "0x2003": a 16-bit code as four upper-case hex digits.
std::string HexCode(uint32_t code, int digits = 4);
// "lamp", "lamp and filter", "power, input and blank".
std::string Listed(const std::vector<std::string>& names);

}  // namespace zolvane::cli
