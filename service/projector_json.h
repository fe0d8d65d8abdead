// How the API shows projectors and the results of commands.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

#include "zolvane_fleet/fleet.h"

namespace zolvane::service {

// The projector object: name, label, address, groups, reach, last_seen, last_failure,
// failed_polls, state (each value it has, with its name where it has one), version, protocol
// ("native" or "pjlink"), and when known about (what it says of itself) and inputs (its own
// [{"value", "name"}], in its order).
nlohmann::json projectorJson(const fleet::ProjectorEntry& entry,
                             const fleet::ProjectorState& state);

// A short word for a failed result: "time-out", "refused", "connect-failed", ...
std::string_view resultName(zv_result result);

// One projector's result of a command: {"projector", "ok", "value", "name", "waited_ms"} or
// {"projector", "ok": false, "result", "reason"}. A value is named as queue's projector names it
// (null queue: the catalogue's names).
nlohmann::json outcomeJson(const fleet::Fleet::Outcome& outcome, const fleet::Command& command,
                           const fleet::ProjectorQueue* queue);

}  // namespace zolvane::service
