// What the projector's power state means to the commands: a refusal in words, the check that
// restore and diff make first, and waiting until the projector reports a state.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "command_context.h"

namespace zolvane::cli {

constexpr uint16_t kPowerOff = 0;
constexpr uint16_t kPowerOn = 1;
constexpr uint16_t kPowerCooling = 2;

// Why a projector in this power state does not take settings: "the projector is in standby",
// "the projector is cooling down" (for any state that is neither off nor on); empty when on.
std::string PowerStateWords(uint16_t power);

// The text after "get Contrast: " in a failure message. A refusal makes the projector be asked
// for its power state once, and when it is not on, that is the reason given; anything else is
// the library's own text.
std::string FailureText(Session& session, const Command& command, const Outcome& outcome);

// restore and diff change or compare nothing on a projector that is not on: the exit status
// when it is not (after saying why on standard error), or when it cannot be asked for its
// power state; empty when the command may go on. A projector that does not answer the
// question is left to the command. A standby projector is fine when allowStandby (a restore
// that switches it on first).
std::optional<int> StopUnlessOn(CommandContext& context, std::string_view commandWord,
                                bool allowStandby = false);

enum class PowerWaitEnd { Reached, TimedOut, LinkFailed };

struct PowerWait {
    PowerWaitEnd end = PowerWaitEnd::Reached;
    Command command;                // the last question asked
    Outcome outcome;                // and its answer
    std::optional<uint16_t> power;  // the last state the projector reported
};

using Deadline = std::chrono::steady_clock::time_point;

// Asks for the power state about every second until it is wanted (or, for WaitUntilSettled,
// until it is off or on, past any cooling down or warming up), up to the deadline. A question the
// projector refuses counts as a passing state, as projectors busy warming up do; a link failure
// ends the wait.
PowerWait WaitForPower(Session& session, uint16_t wanted, Deadline deadline);
PowerWait WaitUntilSettled(Session& session, Deadline deadline);

}  // namespace zolvane::cli
