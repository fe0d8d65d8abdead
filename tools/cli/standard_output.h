// Standard output carries the answer a script acts on, so output that was lost must never pass
// for success.
#pragma once

#include <ostream>

namespace zolvane::cli {

// Called first thing. A standard descriptor that was closed is held by /dev/null, so that no
// port, socket or file opened later takes its number (and the link's bytes never mix with
// messages); standard output's stand-in is opened for reading only, so that anything written to
// it still fails as it would have. From then on std::cout keeps the reason for its first failure.
void WatchStandardOutput();

// Puts out what standard output still holds. When any of it was lost, says why on err and gives
// ExitOutputFailed in place of a status that stood for a result (success or a refusal); a usage
// error or a link failure keeps its own status.
int FinishStandardOutput(int status, std::ostream& err);

}  // namespace zolvane::cli
