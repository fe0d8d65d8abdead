// The projector's behaviour: a command frame in, the reply bytes out. No I/O and no locking;
// the caller passes the time so that cooling down needs no timer thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>

#include "command_frame.h"
#include "projector_emulator/emulator.h"
#include "settings_table.h"

namespace zolvane::emulator {

class Projector {
public:
    using Clock = std::chrono::steady_clock;

    Projector(PowerState initialPower, std::chrono::milliseconds coolingTime,
              Clock::time_point now);

    Reply handle(const CommandFrame& frame, Clock::time_point now);

    std::optional<std::uint16_t> value(std::uint16_t type, Clock::time_point now) const;
    bool forceValue(std::uint16_t type, std::uint16_t value, Clock::time_point now);
    PowerState power(Clock::time_point now) const;
    void setPower(PowerState state, Clock::time_point now);

    void refuseChanges(std::uint16_t type, bool refuse);
    void failGets(std::uint16_t type, bool fail);

private:
    using Values = std::map<std::uint16_t, std::uint16_t>;
    static constexpr std::size_t kPictureMemories = 4;

    Reply execute(const CommandFrame& frame, Clock::time_point now);
    Reply set(const Setting& setting, std::uint16_t value, Clock::time_point now);
    Reply step(const Setting& setting, int direction);
    Reply switchPower(std::uint16_t value, Clock::time_point now);
    bool answers(const Setting& setting, Clock::time_point now) const;
    Values pictureValues() const;

    std::chrono::milliseconds coolingTime_;
    PowerState power_;
    Clock::time_point coolingEnds_;
    Values values_;
    std::array<Values, kPictureMemories> memories_;
    std::set<std::uint16_t> refusedChanges_;
    std::set<std::uint16_t> failedGets_;
};

}  // namespace zolvane::emulator
