#include "value_text.h"

#include <cctype>
#include <span>

#include "exit_status.h"
#include "text.h"

namespace zolvane::cli {
namespace {

struct NamedValue {
    std::string_view name;
    uint16_t value;
};

constexpr NamedValue kOnOff[] = {{"off", 0}, {"on", 1}};
constexpr NamedValue kPower[] = {{"off", 0}, {"on", 1}, {"cooling-down", 2}};
constexpr NamedValue kInputs[] = {{"rgb", 0},  {"video", 1}, {"s-video", 2},
                                  {"m1-d", 3}, {"bnc", 4},   {"component", 5}};

struct SettingValueNames {
    std::string_view setting;
    std::span<const NamedValue> names;
};

constexpr SettingValueNames kValueNames[] = {
    {"Power", kPower}, {"InputSource", kInputs}, {"Blank", kOnOff},
    {"Mute", kOnOff},  {"Freeze", kOnOff},
};

std::span<const NamedValue> NamesOf(const SettingRow& row) {
    for (const SettingValueNames& entry : kValueNames) {
        if (entry.setting == row.name) return entry.names;
    }
    return {};
}

bool AllDigits(std::string_view text, bool hex) {
    if (text.empty()) return false;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!(hex ? std::isxdigit(byte) : std::isdigit(byte))) return false;
    }
    return true;
}

}  // namespace

uint16_t ParseNumber(std::string_view text, std::string_view what) {
    const std::string quoted = "'" + std::string(text) + "'";
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string_view digits = hex ? text.substr(2) : text;
    if (!hex && text.size() > 1 && text[0] == '-' && AllDigits(text.substr(1), false)) {
        throw UsageError(std::string(what) + " " + quoted +
                         " is out of the 16-bit range 0 to 65535 (0xFFFF)");
    }
    if (!AllDigits(digits, hex)) {
        throw UsageError(std::string(what) + " " + quoted + " is not a number (decimal or 0x hex)");
    }
    unsigned long value = 0;
    for (char c : digits) {
        const int digit = std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        value = value * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
        if (value > 0xFFFF) {
            throw UsageError(std::string(what) + " " + quoted +
                             " is out of the 16-bit range 0 to 65535 (0xFFFF)");
        }
    }
    return static_cast<uint16_t>(value);
}

uint16_t ParseValue(const SettingRow& row, std::string_view text) {
    for (const NamedValue& named : NamesOf(row)) {
        if (EqualIgnoringCase(named.name, text)) return named.value;
    }
    const std::string what = "value for " + std::string(row.name);
    const std::string names = ValueNameList(row);
    if (!names.empty() && !text.empty() && std::isalpha(static_cast<unsigned char>(text[0]))) {
        throw UsageError(what + " '" + std::string(text) + "' is neither a number nor one of " +
                         names);
    }
    return ParseNumber(text, what);
}

std::string_view ValueName(const SettingRow& row, uint16_t value) {
    for (const NamedValue& named : NamesOf(row)) {
        if (named.value == value) return named.name;
    }
    return {};
}

std::string ValueNameList(const SettingRow& row) {
    std::string list;
    for (const NamedValue& named : NamesOf(row)) {
        if (!list.empty()) list += '|';
        list += named.name;
    }
    return list;
}

}  // namespace zolvane::cli
