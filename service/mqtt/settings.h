// The broker side of the inventory: its [mqtt] table (see docs/mqtt.md).
#pragma once

#include "zolvane_fleet/inventory.h"

namespace zolvane::service::mqtt {

using Settings = fleet::MqttSettings;

}  // namespace zolvane::service::mqtt
