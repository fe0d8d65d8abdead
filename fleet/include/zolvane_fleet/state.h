// What the service knows of one projector: its last known state and whether it answers.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zolvane::fleet {

enum class Reach {
    Unknown,  // not polled yet
    Online,   // the last poll was answered
    Offline,  // Timing::offlineAfter polls in a row failed
};
std::string_view reachName(Reach reach);  // "unknown", "online", "offline"

// One input of a projector and the name it is shown by.
struct InputName {
    std::uint16_t value = 0;
    std::string name;
    bool operator==(const InputName&) const = default;
};

// What a projector has and says of itself, as the queue's driver has found out. A projector of
// our own make has every watched value and the catalogue's names; one spoken to through PJLink
// has what its class and its answers show.
struct Abilities {
    std::string protocol = "native";  // how the fleet speaks to it: "native" or "pjlink"
    // Bit i set: the projector has no watchedValues()[i] (none of its answers carry it).
    std::uint32_t lacking = 0;
    // Its inputs and their names, in its own order; empty: the catalogue's names.
    std::vector<InputName> inputs;
    // What it says of itself, in the order asked: {"maker", "..."}, {"serial", "..."}, ...
    std::vector<std::pair<std::string, std::string>> about;
    bool operator==(const Abilities&) const = default;
};

// Values as the frames carry them; empty until first read, and kept (as last known) while the
// projector is offline. Input, blank and mute are not answered in standby and keep their last
// value then.
struct ProjectorState {
    Reach reach = Reach::Unknown;
    std::optional<std::uint16_t> power;  // 0 off, 1 on, 2 cooling down
    std::optional<std::uint16_t> input;
    std::optional<std::uint16_t> blank;
    std::optional<std::uint16_t> mute;
    std::optional<std::uint16_t> lampHours;
    std::optional<std::uint16_t> filterHours;
    std::optional<std::uint16_t> errorStatus;
    Abilities abilities;

    std::chrono::system_clock::time_point lastSeen{};  // epoch: never answered
    // When input, blank and mute were last read from the projector (epoch: never). While it is
    // not on they cannot be asked, and what the state holds is from this time.
    std::chrono::system_clock::time_point inputReadAt{};
    std::string lastFailure;   // reason of the latest failed poll
    unsigned failedPolls = 0;  // in a row

    // Counters for the metrics.
    std::uint64_t polls = 0;
    std::uint64_t pollFailures = 0;
    std::chrono::nanoseconds lastPollDuration{0};
    std::chrono::nanoseconds pollDurationSum{0};

    // Grows by one with every change of reach, a value, failedPolls reaching offlineAfter or
    // lastFailure; not with lastSeen or the counters, which move on every poll. A watcher is
    // told of a projector when its version grows.
    std::uint64_t version = 0;

    // Equal in reach, the values, the abilities and lastFailure.
    bool sameAs(const ProjectorState& other) const;
};

}  // namespace zolvane::fleet
