// Which values a restore writes back, and in what order.
#pragma once

#include <string_view>
#include <vector>

#include "backup_file.h"
#include "session.h"

namespace zolvane::cli {

struct RestoreChoice {
    // Power and input are left alone unless asked for: switching a projector or its source
    // in a room is rarely what copying picture settings means.
    bool power = false;
    bool input = false;
    // Nor are the passing states (blank, mute, freeze, magnify): what was on the screen when
    // the backup was made says nothing of what the room needs now.
    bool passing = false;
};

// One set per settable setting that the backup holds a value for, in an order that keeps
// the projector able to take the rest: power on first, the input next (picture settings belong
// to it), then the ordinary settings, then what freezes, enlarges or blanks the picture, then
// the locks, and power off last.
std::vector<Command> RestorePlan(const Backup& backup, RestoreChoice choice);

// The passing states the backup holds that the plan leaves out, in the backup's order.
std::vector<std::string_view> PassingLeftOut(const Backup& backup, RestoreChoice choice);

}  // namespace zolvane::cli
