// One command on one setting: get, set, inc, dec, reset, exec, and the everyday power, input,
// blank and mute, which are sets with value names.
#pragma once

#include <string_view>

#include "command_context.h"

namespace zolvane::cli {

// valueText is read only for a set, which refuses a value the catalogue says the setting does
// not take before anything is sent, unless unchecked; noun ("an input") words the refusal of a
// word that is no value name. A get prints a named value as "Normal (16)", any other in
// decimal, and every value in decimal alone when number is set; with json, as status --json
// gives a reading: {"value": 16, "name": "Normal"}.
int RunSettingCommand(CommandContext& context, Operation operation, std::string_view setting,
                      std::string_view valueText = {}, bool number = false, bool unchecked = false,
                      std::string_view noun = {}, bool json = false);

}  // namespace zolvane::cli
