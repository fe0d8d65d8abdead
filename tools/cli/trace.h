// The --trace lines: each frame as sent and each reply as the library judged it. A projector
// spoken to through PJLink is sent no frame of ours: its lines give each command and its outcome
// in words.
//
// The library hands back the outcome of an exchange, not the bytes received. A reply it
// accepted can only have been 06 (acknowledge) or 1D followed by the value, so those bytes are
// shown, marked as rebuilt; for any other outcome the line gives the library's reason instead.
#pragma once

#include <ostream>
#include <string>

#include "session.h"

namespace zolvane::cli {

void TraceSent(std::ostream& trace, const Command& command, bool pjlink = false);
// failure: the words for a failed outcome.
void TraceReply(std::ostream& trace, const Command& command, const Outcome& outcome,
                const std::string& failure, bool pjlink = false);
void TraceRetry(std::ostream& trace, unsigned attempt, unsigned attempts);

}  // namespace zolvane::cli
