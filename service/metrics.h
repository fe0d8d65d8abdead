// /metrics: every projector's reachability, power, hours and polling, the history's writing and
// the schedules' runs, the alerts and their notifiers, in the Prometheus text format.
#pragma once

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

// With the history's, the schedules' and the alerts' own lines when they are given.
std::string metricsText(const fleet::Fleet& fleet, const history::Store* history = nullptr,
                        const schedule::Scheduler* schedules = nullptr,
                        const alert::Alerts* alerts = nullptr);

}  // namespace zolvane::service
