// power on and power off: the set, a power-on that waits for a cool-down to end, and with
// --wait the wait until the projector reports the state.
#pragma once

#include <optional>
#include <string_view>

#include "command_context.h"

namespace zolvane::cli {

struct PowerChoice {
    bool wait = false;
    // How long a cool-down and the wait may take in all; by default kOnTimeout for on and
    // kOffTimeout for off.
    std::optional<unsigned> timeoutSeconds;
};

constexpr unsigned kOnTimeout = 120;
// Switching off takes the cool-down, which lamps need more time for than warming up.
constexpr unsigned kOffTimeout = 300;

int RunPower(CommandContext& context, std::string_view valueText, const PowerChoice& choice);

}  // namespace zolvane::cli
