#include "text.h"

#include <cctype>
#include <cstdio>

namespace zolvane::cli {

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string HexBytes(std::span<const uint8_t> bytes) {
    std::string hex;
    for (uint8_t byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        if (!hex.empty()) hex += ' ';
        hex += digits;
    }
    return hex;
}

std::string HexCode(uint32_t code, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, code);
    return text;
}

std::string Listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

}  // namespace zolvane::cli
