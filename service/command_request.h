// A command as the API receives it, checked against the catalogue before anything is queued.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "zolvane_fleet/projector_queue.h"

namespace zolvane::service {

struct RequestFault {
    int status = 400;  // 400 malformed, 404 unknown setting, 422 a value or operation it lacks
    std::string reason;
};

struct CheckedCommand {
    std::optional<fleet::Command> command;
    RequestFault fault;  // when command is empty
};

// A command body: {"command": "set", "setting": "Power", "value": "on"}, or a short form
// {"command": "power"|"input"|"blank"|"mute", "value": ...}.
CheckedCommand commandFromBody(std::string_view body);

// The body of PUT .../settings/{setting}: {"value": V}.
CheckedCommand setFromBody(std::string_view setting, std::string_view body);

// The status the API answers a refusal of the fleet's check with.
int statusOf(const fleet::Refusal& refusal);

}  // namespace zolvane::service
