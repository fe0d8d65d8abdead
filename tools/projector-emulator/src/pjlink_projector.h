// One emulated PJLink projector: its state and the answer it gives to one command line.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "projector_emulator/pjlink_emulator.h"

namespace zolvane::emulator {

using PjlinkClock = std::chrono::steady_clock;

namespace pjlink_power {
constexpr int kStandby = 0;
constexpr int kOn = 1;
constexpr int kCooling = 2;
constexpr int kWarming = 3;
}  // namespace pjlink_power

// The longest command line a projector takes, without its CR; a longer one closes the connection.
constexpr std::size_t kPjlinkMaxLine = 136;

// Lines kept per projector, the oldest dropped first.
constexpr std::size_t kPjlinkLineLimit = 10'000;

struct PjlinkProjector {
    std::size_t index = 0;
    int projectorClass = 1;
    std::chrono::milliseconds warmUpTime{2000};
    std::chrono::milliseconds coolingTime{3000};

    // Cooling down and warming up end at `until`; power() settles them as time passes.
    int powerState = pjlink_power::kStandby;
    PjlinkClock::time_point until{};
    std::string input = "31";
    bool videoMuted = false;
    bool audioMuted = false;
    bool frozen = false;

    PjlinkFault fault = PjlinkFault::None;
    std::chrono::milliseconds delay{0};
    std::deque<std::string> lines;
    std::size_t connectionsAccepted = 0;

    int power(PjlinkClock::time_point now);
    void setPower(int power, PjlinkClock::time_point now);
    void record(std::string line);
};

// The answer to one command line (CR and any authentication hash removed), without its CR, as
// the projector's state and fault make it; the command is carried out. Empty when the line is no
// PJLink command at all, which a projector answers by closing the connection.
std::optional<std::string> pjlinkAnswer(PjlinkProjector& projector, std::string_view line,
                                        PjlinkClock::time_point now);

}  // namespace zolvane::emulator
