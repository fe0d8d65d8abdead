// status: power, input, blank, mute, lamp and filter time and error status in one go.
#pragma once

#include "command_context.h"

namespace zolvane::cli {

int RunStatus(CommandContext& context, bool json);

}  // namespace zolvane::cli
