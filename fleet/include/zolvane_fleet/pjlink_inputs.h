// A PJLink input's code as the fleet numbers it, for every program that shows or takes one: the
// code's two characters, a kind 1..9 and a digit 1..9 or (class 2) a letter A..Z. A digit input
// is the code read as a number ("31" is 31), a letter input the kind's hundred plus 10 for A to
// 35 for Z ("3A" is 310), so no two codes share a number and class 1's read as they are written.
// Header-only: the command line of every system reads them, the PJLink driver or not.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zolvane::fleet {

inline std::optional<std::uint16_t> pjlinkInputValue(std::string_view code) {
    if (code.size() != 2 || code[0] < '1' || code[0] > '9') return std::nullopt;
    const int kind = code[0] - '0';
    if (code[1] >= '1' && code[1] <= '9') {
        return static_cast<std::uint16_t>(kind * 10 + (code[1] - '0'));
    }
    if (code[1] >= 'A' && code[1] <= 'Z') {
        return static_cast<std::uint16_t>(kind * 100 + 10 + (code[1] - 'A'));
    }
    return std::nullopt;
}

inline std::optional<std::string> pjlinkInputCode(std::int32_t value) {
    std::string code(2, '0');
    if (value >= 11 && value <= 99 && value % 10 != 0) {
        code[0] = static_cast<char>('0' + value / 10);
        code[1] = static_cast<char>('0' + value % 10);
        return code;
    }
    if (value >= 110 && value <= 999 && value % 100 >= 10 && value % 100 <= 35) {
        code[0] = static_cast<char>('0' + value / 100);
        code[1] = static_cast<char>('A' + value % 100 - 10);
        return code;
    }
    return std::nullopt;
}

}  // namespace zolvane::fleet
