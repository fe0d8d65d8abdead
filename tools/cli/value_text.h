// Values as people type them and read them: decimal, 0x hex, or the value's name where the
// library's catalogue names the setting's values ("16:9", "on", "S-Video").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "setting_table.h"

namespace zolvane::cli {

// A 16-bit value in decimal or 0x hex. UsageError naming `what` when the text is not a number
// or does not fit 16 bits.
uint16_t ParseNumber(std::string_view text, std::string_view what);

// A value for this setting: one of its value names (any case, '-', '_' and ' ' alike) or a
// number as above. A word that is no name is refused with the nearest name when one is near;
// with a noun ("an input") the refusal reads "'hdmi' is not an input; one of: RGB, Video, ...".
uint16_t ParseValue(const SettingRow& row, std::string_view text, std::string_view noun = {});

// UsageError, naming what may be set instead, when the catalogue says this setting does not
// take this value.
void RequireSettable(const SettingRow& row, uint16_t value);

// The name of this value of this setting ("on", "S-Video"); empty when it has none.
std::string_view ValueName(const SettingRow& row, uint16_t value);

// "Normal (16)" for a named value, "16" otherwise.
std::string NamedValue(const SettingRow& row, uint16_t value);

// The names a set may use, "off|on"; empty for settings without value names.
std::string ValueNameList(const SettingRow& row);

// What the catalogue knows of the values: "96..160", "0..1; 0 off, 1 on, 2 cooling down",
// "0 4:3, 1 16:9, 16 Normal, 2 Small"; empty when it knows nothing.
std::string ValuesText(const SettingRow& row);

}  // namespace zolvane::cli
