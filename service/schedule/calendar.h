// Schedules as the inventory defines them, and the calendar of when each runs: in local time,
// with a time that a change to summer time skips run at the first minute after the gap, and a
// time that the change back passes twice run once, at its first.
//
//   [[schedule]]
//   name = "evening-off"
//   targets = ["@east-wing", "p1"]          # projectors, groups ("@name"), "@all"
//   days = ["mon", "fri"]                   # or "daily", "weekdays", "weekends"
//   at = "22:00"                            # or a list of times
//   command = { command = "power", value = "off" }   # as the API's command body
//   skip_dates = ["2026-12-24"]
//   closures = "/etc/zolvaned/closures.ics" # the days of its events are skipped
//   timezone = "Europe/Berlin"              # [service]'s, else the system's, if not
//   catch_up_minutes = 15                   # [service]'s if not
#pragma once

#include <date/date.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "settings.h"
#include "zolvane_fleet/command.h"

namespace zolvane::fleet {
class InventorySection;
}

namespace zolvane::service::schedule {

struct Schedule {
    std::string name;
    std::vector<std::string> targets;      // as written
    std::vector<std::string> projectors;   // what they name, in inventory order, each once
    std::array<bool, 7> days{};            // [0] Sunday .. [6] Saturday
    std::vector<std::chrono::minutes> at;  // after local midnight, ascending, each once
    fleet::Command command;                // checked as the API checks it; origin "schedule"
    nlohmann::json commandBody;            // as written, for the API
    std::set<date::local_days> skipDates;  // skip_dates and the closures' days
    std::vector<std::string> skipWritten;  // skip_dates as written, for the API
    std::string closures;                  // the file as written; empty: none
    const date::time_zone* zone = nullptr;
    std::string zoneName;  // as written, or the system's zone's name
    std::chrono::minutes catchUp{15};
    std::size_t line = 0;  // of its [[schedule]]
};

// A name of a schedule or an alert: 1 to 64 letters, digits, '.', '_' or '-'.
bool validName(std::string_view name);

// "HH:MM", both of two digits; empty when it is not a time of day.
std::optional<std::chrono::minutes> timeOfDay(std::string_view text);

// The zone a "timezone" key names; null when the system's zone database has none of that name.
const date::time_zone* namedZone(const std::string& name);
// Why a "timezone" key's name was refused.
std::string unknownZone(const std::string& name);
// The zone of a local time that names none: [service]'s, else the system's (a [service] zone
// that does not exist is [service]'s fault), and that zone's name.
struct LocalZone {
    const date::time_zone* zone = nullptr;
    std::string name;
};
LocalZone serviceZone(const Settings& service);

// The first run strictly after `after`; empty when it never runs.
std::optional<WallTime> nextRun(const Schedule& schedule, WallTime after);

// The days of an iCalendar file's events (all-day or timed, with their repetitions up to two
// years ahead) in the zone; fault says why when the text is not a calendar.
struct Closures {
    std::set<date::local_days> days;
    std::string fault;  // empty when read
};
Closures readClosures(std::string_view text, const date::time_zone* zone);

// Reads every [[schedule]] into `into`; the targets are checked against the projectors and
// groups of the file, and the defaults of [service] applied, at the end of the file.
std::unique_ptr<fleet::InventorySection> schedulesReader(const Settings& service,
                                                         std::vector<Schedule>& into);

}  // namespace zolvane::service::schedule
