// /metrics: every projector's reachability, power, hours and polling, the history's writing and
// the schedules' runs, the alerts and their notifiers, in the Prometheus text format.
#pragma once

#include <cstdint>
#include <string>

#include "zolvane_fleet/fleet.h"

namespace zolvane::service {

namespace history {
class Store;
}
namespace schedule {
class Scheduler;
}
namespace alert {
class Alerts;
}

// The HTTP API's refusals for want of a good token, since the service started.
struct AuthCounters {
    std::uint64_t failures = 0;  // presented tokens that matched none
    std::uint64_t refused401 = 0;
    std::uint64_t refused403 = 0;
    std::uint64_t refused429 = 0;
};

// With the history's, the schedules', the alerts' and the API's own lines when they are given.
std::string metricsText(const fleet::Fleet& fleet, const history::Store* history = nullptr,
                        const schedule::Scheduler* schedules = nullptr,
                        const alert::Alerts* alerts = nullptr, const AuthCounters* auth = nullptr);

}  // namespace zolvane::service
