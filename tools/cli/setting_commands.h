// One command on one setting: get, set, inc, dec, reset, exec, and the everyday power, input,
// blank and mute, which are sets with value names.
#pragma once

#include <string_view>

#include "command_context.h"

namespace zolvane::cli {

// valueText is read only for a set, which refuses a value the catalogue says the setting does
// not take before anything is sent, unless unchecked. A get prints the value in decimal, or with names as
// "Normal (16)" where the value has a name.
int RunSettingCommand(CommandContext& context, Operation operation, std::string_view setting,
                      std::string_view valueText = {}, bool names = false,
                      bool unchecked = false);

}  // namespace zolvane::cli
