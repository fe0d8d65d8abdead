// Values as people type them and read them: decimal, 0x hex, or the value's name where the
// library's catalogue names the setting's values ("16:9", "on", "S-Video").
#pragma once

#include <cstdint>
#include <optional>
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

// PJLink projectors number their inputs by a two-character code of their own, a kind digit and
// a digit or letter: "31" is 31, "3A" is 310. Each code's value, and each value's code; empty
// for anything else.
std::optional<uint16_t> PjlinkInputValue(std::string_view code);
std::optional<std::string> PjlinkInputCode(uint16_t value);
// Whether the row is the input source.
bool IsInput(const SettingRow& row);
// An input of a PJLink projector as given by code ("31", "3A") or the number of one (310).
uint16_t ParsePjlinkInput(std::string_view text);
// Whether text names a PJLink input by its own name rather than by a code or number: plain
// text that is not all digits and no code. Such a name is looked up among the projector's inputs.
bool IsPjlinkInputName(std::string_view text);

// The value as a projector shows it: for the input of a PJLink projector its code, which the
// catalogue does not name; otherwise as NamedValue.
std::string ShownValue(const SettingRow& row, uint16_t value, bool pjlink);
// The name a reading gives the value: for the input of a PJLink projector its code, otherwise
// as ValueName.
std::string ShownName(const SettingRow& row, uint16_t value, bool pjlink);

}  // namespace zolvane::cli
