// The service's wall clock: the system's, or for the tests one that starts at a given time and
// runs at the system's pace from there (--test-clock). Everything the service records or plans by
// the calendar (history, schedules) reads it; waits and time-outs keep the steady clock.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace date {
class time_zone;
}

namespace zolvane::service {

using WallClock = std::chrono::system_clock;
using WallTime = WallClock::time_point;

WallTime wallNow();
// Before any thread reads it.
void startWallClockAt(WallTime start);

// "2026-03-29T00:59:50Z" or with an offset ("...+01:00"); empty when it does not read as one.
std::optional<WallTime> parseInstant(std::string_view text);
// The instant as the API writes every time of the calendar: "2026-03-29T01:00:00Z", to the
// second.
std::string instantText(WallTime time);

// The zone of this name from the system's zone database ("Europe/Berlin"); empty: the system's
// own (TZ, else /etc/localtime, else UTC). Null for a name the database lacks.
const date::time_zone* findZone(std::string_view name);

}  // namespace zolvane::service
