// What the fleet watches of every projector: one row per value, read by everything that polls,
// compares, shows or publishes it. The catalogue gives each value its type code and the names of
// its values; a row adds only what the catalogue does not know: the key every output uses, how
// often it is asked, where the state keeps it, and the hints each front end needs. Watching one
// more value is one more row and one more member of ProjectorState.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "zolvane_catalogue.h"
#include "zolvane_fleet/state.h"

namespace zolvane::fleet {

enum class Cadence {
    EveryPoll,  // asked first in every poll; the others depend on it (power)
    WhileOn,    // every poll, but only while the projector is on: it refuses them otherwise
    Slow,       // every Timing::slowPollInterval, and when the projector comes back
};

// How people are shown a value that the catalogue does not name.
enum class Shown {
    Plain,  // the number: 2
    Hours,  // a count of hours: "1200 h"
    Code,   // a state code in hex: 0x0102
};

// A Home Assistant entity for the value. A switch takes its on and off payloads from the
// catalogue's names for 1 and 0; a select takes every name of the setting as its options.
struct HomeAssistantHint {
    const char* component;    // "switch", "select", "sensor"
    const char* name;         // "Lamp hours"
    const char* icon;         // "mdi:projector"
    const char* deviceClass;  // null when none
    const char* unit;         // null when none
    const char* stateClass;   // null when none
    const char* category;     // null, or "diagnostic"
};

enum class MetricKind {
    None,      // no metric family of its own
    Gauge,     // the value: zolvaned_projector_lamp_hours{projector="hall-a"} 1200
    StateSet,  // 1 for the named value it has, 0 for the others: ..._power_state{...,state="on"}
};

struct MetricHint {
    MetricKind kind;
    const char* name;  // the family's name
    const char* help;
};

// How a projector spoken to through PJLink gives the value: the command that reads it and the
// least class that has it; a null command: PJLink has no such value.
struct PjlinkHint {
    const char* command;  // "POWR", "AVMT", ...
    int projectorClass;   // 1 or 2
};

struct WatchedValue {
    std::string_view key;  // in every output: the JSON state, topics, entity ids, the CLI's JSON
    const char* setting;   // the catalogue setting it reads
    Cadence cadence;
    std::optional<std::uint16_t> ProjectorState::*member;
    // Front ends may switch it with this short word ({"command": "power", "value": "on"});
    // null when it is only read.
    const char* command;
    const char* title;  // for people, in the command line's status: "Lamp time"
    Shown shown;
    HomeAssistantHint homeAssistant;
    MetricHint metric;
    PjlinkHint pjlink;

    // The catalogue's entry; never null for a row of the table.
    const zv_setting& described() const;
    std::uint16_t type() const { return described().type; }
    // The catalogue's name for value, or null when it has none.
    const char* valueName(std::uint16_t value) const;
};

// Every watched value, power first: whether the projector is on decides what else is asked.
std::span<const WatchedValue> watchedValues();
// The row of this key or of this setting (its catalogue name or type code); null when none.
const WatchedValue* watchedByKey(std::string_view key);
const WatchedValue* watchedByType(std::uint16_t type);
// The row whose short command word this is; null when none.
const WatchedValue* watchedByCommand(std::string_view word);
// The row of this member of ProjectorState; every value it holds has one.
const WatchedValue& watchedByMember(std::optional<std::uint16_t> ProjectorState::*member);

// The bit of the row in Abilities::lacking.
std::uint32_t lackingBit(const WatchedValue& row);
// Whether the projector has the value, as its abilities say.
bool has(const ProjectorState& state, const WatchedValue& row);

// The names of a row's values for this projector: its own input names where it gave them, else
// the catalogue's. The name of one value, null when it has none (valid while state lives); the
// value of a name (any case), empty when none; every named value, in the projector's order.
const char* valueName(const ProjectorState& state, const WatchedValue& row, std::uint16_t value);
std::optional<std::uint16_t> valueByName(const ProjectorState& state, const WatchedValue& row,
                                         std::string_view name);
std::vector<InputName> valueNames(const ProjectorState& state, const WatchedValue& row);

}  // namespace zolvane::fleet
