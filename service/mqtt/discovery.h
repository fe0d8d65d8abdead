// Home Assistant's MQTT discovery: one device per projector, one entity per watched value and
// one for whether the projector answers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mqtt/settings.h"
#include "zolvane_fleet/inventory.h"
#include "zolvane_fleet/state.h"

namespace zolvane::service::mqtt {

struct Message {
    std::string topic;
    std::string payload;
    bool retain = true;
};

// "zolvane_SITE_NAME": the device identifier and the node id of its discovery topics, made of the
// site and the name alone so that it stays the same across restarts. Ids take letters, digits,
// '-' and '_' only, and the site's part holds no '_' so that the node tells its site: a '.' in a
// name becomes '_', a '.' or '_' in a site becomes '-', and either then adds an eight-digit tag
// of the exact text ("zolvane_b_hall_a_8c88532f") that keeps "hall.a" apart from "hall_a".
std::string nodeId(const mqtt::Settings& mqtt, std::string_view projector);

// The retained discovery messages of one projector, one per entity (docs/mqtt.md): for what it
// has and by its names as state says (an empty message for a value it does not have), or, without
// a state, for every watched value.
std::vector<Message> discoveryMessages(const mqtt::Settings& mqtt,
                                       const fleet::ProjectorEntry& projector);
std::vector<Message> discoveryMessages(const mqtt::Settings& mqtt,
                                       const fleet::ProjectorEntry& projector,
                                       const fleet::ProjectorState& state);

// The subscription that brings back this service's retained discovery messages, and for one of
// those topics the node id it belongs to when it is one of this site's (else empty). The bridge
// clears (empty retained payload) every such topic whose node is not in the inventory any more.
std::string discoveryFilter(const mqtt::Settings& mqtt);
std::optional<std::string> discoveredNode(const mqtt::Settings& mqtt, std::string_view topic);

}  // namespace zolvane::service::mqtt
