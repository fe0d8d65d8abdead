// /metrics: every projector's reachability, power, hours and polling in the Prometheus text
// format.
#pragma once

#include <string>

#include "zolvane_fleet/fleet.h"

namespace zolvane::service {

std::string metricsText(const fleet::Fleet& fleet);

}  // namespace zolvane::service
