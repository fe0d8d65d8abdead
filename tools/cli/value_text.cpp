#include "value_text.h"

#include <cctype>
#include <span>
#include <vector>

#include "exit_status.h"
#include "spelling.h"
#include "text.h"
#include "zolvane_fleet/pjlink_inputs.h"
#include "zolvane_fleet/text.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::cli {
namespace {

std::span<const zv_named_value> NamesOf(const SettingRow& row) {
    const zv_setting& setting = row.described();
    if (setting.names == nullptr) return {};
    return {setting.names, setting.name_count};
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

uint16_t ParseValue(const SettingRow& row, std::string_view text, std::string_view noun) {
    uint16_t named = 0;
    if (zv_value_from_name(&row.described(), std::string(text).c_str(), &named) == 1) {
        return named;
    }
    const std::string what = "value for " + std::string(row.name);
    std::vector<std::string_view> names;
    for (const zv_named_value& value : NamesOf(row)) {
        if (zv_value_valid(&row.described(), value.value) == 1) names.push_back(value.name);
    }
    if (!names.empty() && !text.empty() && std::isalpha(static_cast<unsigned char>(text[0]))) {
        const std::string quoted = "'" + std::string(text) + "'";
        const std::string hint = DidYouMean(text, names);
        if (!noun.empty()) {
            std::string list;
            for (std::string_view name : names)
                list += (list.empty() ? "" : ", ") + std::string(name);
            throw UsageError(quoted + " is not " + std::string(noun) + "; one of: " + list + hint);
        }
        throw UsageError(what + " " + quoted + " is neither a number nor one of " +
                         ValueNameList(row) + hint);
    }
    return ParseNumber(text, what);
}

void RequireSettable(const SettingRow& row, uint16_t value) {
    // The fleet's one check decides, by the catalogue (a PJLink projector's inputs are read
    // apart); the words are this tool's, with the way round it.
    const fleet::Command set{Operation::Set, &row.described(), value, {}, {}};
    if (fleet::check(set, fleet::Phrasing::Queued, false).command) return;
    throw UsageError("value " + std::to_string(value) + " for " + std::string(row.name) +
                     " is not one it takes: " + ValuesText(row) +
                     " (set --unchecked sends it all the same)");
}

std::string_view ValueName(const SettingRow& row, uint16_t value) {
    const char* name = zv_value_name(&row.described(), value);
    return name != nullptr ? name : std::string_view{};
}

std::string NamedValue(const SettingRow& row, uint16_t value) {
    const std::string_view name = ValueName(row, value);
    if (name.empty()) return std::to_string(value);
    return std::string(name) + " (" + std::to_string(value) + ")";
}

std::string ValueNameList(const SettingRow& row) {
    std::string list;
    for (const zv_named_value& named : NamesOf(row)) {
        if (zv_value_valid(&row.described(), named.value) != 1) continue;
        if (!list.empty()) list += '|';
        list += named.name;
    }
    return list;
}

std::string ValuesText(const SettingRow& row) {
    const zv_setting& setting = row.described();
    std::string text;
    if (setting.has_range != 0) {
        text = std::to_string(setting.min) + ".." + std::to_string(setting.max);
        if (setting.step != 1) text += " step " + std::to_string(setting.step);
    }
    std::string names;
    for (const zv_named_value& named : NamesOf(row)) {
        names += (names.empty() ? "" : ", ") + std::to_string(named.value) + " " + named.name;
    }
    if (!text.empty() && !names.empty()) text += "; ";
    return text + names;
}

std::optional<uint16_t> PjlinkInputValue(std::string_view code) {
    std::string upper(code);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return fleet::pjlinkInputValue(upper);
}

std::optional<std::string> PjlinkInputCode(uint16_t value) { return fleet::pjlinkInputCode(value); }

bool IsInput(const SettingRow& row) {
    return row.type == fleet::watchedByMember(&fleet::ProjectorState::input).type();
}

bool IsPjlinkInputName(std::string_view text) {
    return !text.empty() && !PjlinkInputValue(text) && !AllDigits(text, false) &&
           fleet::plainText(text);
}

uint16_t ParsePjlinkInput(std::string_view text) {
    if (const std::optional<uint16_t> value = PjlinkInputValue(text)) return *value;
    const std::string quoted = "'" + std::string(text) + "'";
    if (AllDigits(text, false)) {
        const uint16_t value = ParseNumber(text, "input");
        if (PjlinkInputCode(value)) return value;
        throw UsageError("input " + quoted +
                         " is no PJLink input code (a kind 1 to 9 and a digit 1 to 9 or a "
                         "letter, e.g. 31 or 3A)");
    }
    throw UsageError(quoted +
                     ": the inputs of a PJLink projector are chosen by their code here; use "
                     "the input's code, e.g. 31");
}

std::string ShownValue(const SettingRow& row, uint16_t value, bool pjlink) {
    if (pjlink && IsInput(row)) return PjlinkInputCode(value).value_or(std::to_string(value));
    return NamedValue(row, value);
}

std::string ShownName(const SettingRow& row, uint16_t value, bool pjlink) {
    if (pjlink && IsInput(row)) return PjlinkInputCode(value).value_or("");
    return std::string(ValueName(row, value));
}

}  // namespace zolvane::cli
