// The service's log: one line per event on standard error, each prefixed with its syslog
// priority ("<3>", "<4>", "<6>", "<7>") so that the journal records the level of every line.
#pragma once

#include <string_view>

namespace zolvane::service {

enum class Level { Error = 3, Warning = 4, Info = 6, Debug = 7 };

// Writes "<N>message\n" in one write, so lines of different threads never mix. Line breaks
// inside the message become spaces, other control characters and bytes that are not UTF-8
// \xNN: one event is one line, whatever a peer sent.
void log(Level level, std::string_view message);

// Lines below this level of detail are dropped; Info unless changed.
void setLogLevel(Level most);
bool logs(Level level);

}  // namespace zolvane::service
