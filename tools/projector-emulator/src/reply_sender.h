// Puts a planned reply on a link, honouring its delay and pauses without holding up the stop.
#pragma once

#include "reply_plan.h"
#include "stop_signal.h"

namespace zolvane::emulator {

enum class LinkKind { Socket, Terminal };

// Returns false when the link should be dropped: the plan closes it, writing failed, or the
// emulator is stopping. fd must be non-blocking.
bool sendReply(int fd, LinkKind kind, const ReplyPlan& plan, const StopSignal& stop);

}  // namespace zolvane::emulator
