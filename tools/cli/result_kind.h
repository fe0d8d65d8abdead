// What a library result code means to the user: refused, link failure, or fine.
#pragma once

#include <cstdint>

#include "exit_status.h"

namespace zolvane::cli {

ExitStatus ExitStatusFor(uint32_t result);

// True when the failure happened before the frame could leave (the port would not open, the
// connection was never made), so that even a command that must not run twice may be repeated.
bool FrameNeverLeft(uint32_t result);

}  // namespace zolvane::cli
