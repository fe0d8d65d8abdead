// What a front end calls for each complete frame it has received.
#pragma once

#include <functional>

#include "command_frame.h"
#include "reply_plan.h"

namespace zolvane::emulator {

using FrameHandler = std::function<ReplyPlan(const RawFrame&)>;

}  // namespace zolvane::emulator
