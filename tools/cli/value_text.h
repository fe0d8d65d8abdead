// Values as people type them: decimal, 0x hex, or a name for the everyday settings (power, input,
// blank, mute, freeze).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "setting_table.h"

namespace zolvane::cli {

// A 16-bit value in decimal or 0x hex. UsageError naming `what` when the text is not a number
// or does not fit 16 bits.
uint16_t ParseNumber(std::string_view text, std::string_view what);

// A value for this setting: a number as above or, where the setting has them, a value name.
uint16_t ParseValue(const SettingRow& row, std::string_view text);

// The name of this value of this setting ("on", "s-video"); empty when it has none.
std::string_view ValueName(const SettingRow& row, uint16_t value);

// "off|on", for messages and help; empty for settings without value names.
std::string ValueNameList(const SettingRow& row);

}  // namespace zolvane::cli
