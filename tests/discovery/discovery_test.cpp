// Home Assistant discovery messages of one projector, parsed and checked key by key, and the
// node ids that tie them to a site and a projector.
#include "mqtt/discovery.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <set>

namespace {

using nlohmann::json;
using namespace zolvane;
using service::mqtt::discoveredNode;
using service::mqtt::discoveryMessages;
using service::mqtt::nodeId;

service::mqtt::Settings settings(std::string site, std::string discoveryPrefix = "homeassistant") {
    service::mqtt::Settings mqtt;
    mqtt.host = "127.0.0.1";
    mqtt.site = std::move(site);
    mqtt.discoveryPrefix = std::move(discoveryPrefix);
    return mqtt;
}

fleet::ProjectorEntry projector(std::string name, std::string label = "") {
    fleet::ProjectorEntry entry;
    entry.name = std::move(name);
    entry.label = std::move(label);
    entry.address = "tcp://127.0.0.1:23";
    return entry;
}

// Every entity of a projector. `keys` are the entity's own keys beyond those all share
// (unique_id, default_entity_id, name, state_topic, qos, device, origin, availability,
// availability_mode): the payload must have exactly these and the shared ones.
struct ExpectedEntity {
    const char* component;
    const char* object;
    const char* stateSuffix;
    const char* commandSuffix;  // null: no command topic
    bool followsProjector;      // the projector's availability is listed besides the service's
    const char* keys;
};

const ExpectedEntity expectedEntities[] = {
    {"switch", "power", "power", "set/Power", true,
     R"({"name": "Power", "payload_on": "on", "payload_off": "off", "state_on": "on",
         "state_off": "off", "icon": "mdi:projector",
         "value_template": "{{ 'off' if value == 'cooling down' else value }}"})"},
    {"select", "input", "input", "set/InputSource", true,
     R"({"name": "Input", "icon": "mdi:video-input-component",
         "options": ["RGB", "Video", "S-Video", "M1-D", "BNC", "Component"]})"},
    {"switch", "blank", "blank", "set/Blank", true,
     R"({"name": "Blank", "payload_on": "on", "payload_off": "off", "state_on": "on",
         "state_off": "off", "icon": "mdi:monitor-off"})"},
    {"switch", "mute", "mute", "set/Mute", true,
     R"({"name": "Mute", "payload_on": "on", "payload_off": "off", "state_on": "on",
         "state_off": "off", "icon": "mdi:volume-off"})"},
    {"sensor", "lamp_hours", "lamp_hours", nullptr, true,
     R"({"name": "Lamp hours", "device_class": "duration", "unit_of_measurement": "h",
         "state_class": "total_increasing", "entity_category": "diagnostic",
         "icon": "mdi:lightbulb-on-outline"})"},
    {"sensor", "filter_hours", "filter_hours", nullptr, true,
     R"({"name": "Filter hours", "device_class": "duration", "unit_of_measurement": "h",
         "state_class": "total_increasing", "entity_category": "diagnostic",
         "icon": "mdi:air-filter"})"},
    {"sensor", "error_status", "error_status", nullptr, true,
     R"({"name": "Error status", "entity_category": "diagnostic",
         "icon": "mdi:alert-circle-outline"})"},
    {"binary_sensor", "connectivity", "availability", nullptr, false,
     R"({"name": "Connectivity", "device_class": "connectivity", "payload_on": "online",
         "payload_off": "offline", "entity_category": "diagnostic"})"},
};

TEST(DiscoveryMessages, EveryEntityKeyByKey) {
    auto mqtt = settings("building-a");
    mqtt.topicPrefix = "av/zolvane";
    mqtt.qos = 2;
    const auto messages = discoveryMessages(mqtt, projector("hall.a", "Hall A"));
    const std::string node = "zolvane_building-a_hall_a_8c88532f";
    const std::string base = "av/zolvane/building-a/projector/hall.a/";
    const json device = {{"identifiers", {node}},
                         {"name", "Hall A"},
                         {"model", "Projector"},
                         {"sw_version", ZOLVANE_VERSION}};
    const json service = {{"topic", "av/zolvane/building-a/status"},
                          {"payload_available", "online"},
                          {"payload_not_available", "offline"}};
    const json reach = {{"topic", base + "availability"},
                        {"payload_available", "online"},
                        {"payload_not_available", "offline"}};

    ASSERT_EQ(messages.size(), std::size(expectedEntities));
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const ExpectedEntity& want = expectedEntities[i];
        SCOPED_TRACE(want.object);
        const std::string uniqueId = node + "_" + want.object;
        EXPECT_EQ(messages[i].topic, std::string("homeassistant/") + want.component + "/" + node +
                                         "/" + want.object + "/config");
        EXPECT_TRUE(messages[i].retain);

        json expected = json::parse(want.keys);
        expected["unique_id"] = uniqueId;
        expected["default_entity_id"] =
            std::string(want.component) + ".zolvane_building_a_hall_a_8c88532f_" + want.object;
        expected["state_topic"] = base + want.stateSuffix;
        if (want.commandSuffix) expected["command_topic"] = base + want.commandSuffix;
        expected["qos"] = 2;
        expected["device"] = device;
        expected["origin"] = {{"name", "zolvaned"}, {"sw_version", ZOLVANE_VERSION}};
        expected["availability"] = want.followsProjector ? json{service, reach} : json{service};
        expected["availability_mode"] = "all";

        const json payload = json::parse(messages[i].payload);
        for (const auto& [key, value] : expected.items()) {
            EXPECT_EQ(payload.value(key, json()), value) << key;
        }
        for (const auto& [key, value] : payload.items()) {
            EXPECT_TRUE(expected.contains(key)) << "unexpected key " << key;
        }
    }
}

// Node ids are written out in full: they must never change between versions, or Home
// Assistant would see new devices beside the old ones.
struct NodeCase {
    const char* site;
    const char* name;
    const char* node;
};

void PrintTo(const NodeCase& row, std::ostream* out) { *out << row.site << " " << row.name; }

class NodeIds : public testing::TestWithParam<NodeCase> {};

TEST_P(NodeIds, StayAsTheyWere) {
    EXPECT_EQ(nodeId(settings(GetParam().site), GetParam().name), GetParam().node);
}

INSTANTIATE_TEST_SUITE_P(
    Discovery, NodeIds,
    testing::Values(NodeCase{"building-a", "hall-a", "zolvane_building-a_hall-a"},
                    NodeCase{"building-a", "Hall_A2", "zolvane_building-a_Hall_A2"},
                    NodeCase{"building-a", "hall.a", "zolvane_building-a_hall_a_8c88532f"},
                    NodeCase{"building-a", "b_c_70681ef6",
                             "zolvane_building-a_b_c_70681ef6_07f61417"},
                    NodeCase{"site.b", "hall-a", "zolvane_site-b-9534bae6_hall-a"},
                    NodeCase{"site_b", "hall-a", "zolvane_site-b-96708973_hall-a"}));

// Pairs of site and name that simpler schemes would run together. Every id of every one must
// be distinct and made of what Home Assistant takes, and each site must find its own discovery
// topics, and no other site's, among all of them.
TEST(NodeIds, DistinctAndTiedToTheirSite) {
    const std::pair<const char*, const char*> pairs[] = {
        {"a", "b_c"}, {"a_b", "c"},          {"a.b", "c"},   {"a-b", "c"}, {"a", "b.c"},
        {"a", "b-c"}, {"a", "b_c_70681ef6"}, {"a_b", "c.d"}, {"a", "B_c"}, {"a-b-108bf50c", "c"},
    };
    const std::regex allowed("[A-Za-z0-9_-]+");
    std::set<std::string> uniqueIds;
    std::size_t count = 0;
    for (const auto& [site, name] : pairs) {
        for (const auto& message : discoveryMessages(settings(site), projector(name))) {
            const std::string id = json::parse(message.payload)["unique_id"];
            EXPECT_TRUE(std::regex_match(id, allowed)) << id;
            uniqueIds.insert(id);
            ++count;
            for (const auto& [ownSite, ownName] : pairs) {
                const auto found = discoveredNode(settings(ownSite), message.topic);
                if (std::string_view(ownSite) == site) {
                    EXPECT_EQ(found, nodeId(settings(site), name)) << ownSite << " " << id;
                } else {
                    EXPECT_EQ(found, std::nullopt) << ownSite << " " << id;
                }
            }
        }
    }
    EXPECT_EQ(uniqueIds.size(), count);
}

struct TopicCase {
    const char* discoveryPrefix;
    const char* topic;
    const char* node;  // null: not this site's
};

void PrintTo(const TopicCase& row, std::ostream* out) { *out << row.topic; }

class DiscoveredNode : public testing::TestWithParam<TopicCase> {};

TEST_P(DiscoveredNode, OnlyThisSitesNodes) {
    const auto found =
        discoveredNode(settings("building-a", GetParam().discoveryPrefix), GetParam().topic);
    if (GetParam().node) {
        EXPECT_EQ(found, GetParam().node);
    } else {
        EXPECT_EQ(found, std::nullopt);
    }
}

constexpr const char* ha = "homeassistant";
INSTANTIATE_TEST_SUITE_P(
    Discovery, DiscoveredNode,
    testing::Values(
        TopicCase{ha, "homeassistant/switch/zolvane_building-a_hall-a/power/config",
                  "zolvane_building-a_hall-a"},
        // An entity kind of another version is still this site's, to be cleared.
        TopicCase{ha, "homeassistant/button/zolvane_building-a_old/reset/config",
                  "zolvane_building-a_old"},
        TopicCase{"ha/discovery", "ha/discovery/sensor/zolvane_building-a_x_1/lamp_hours/config",
                  "zolvane_building-a_x_1"},
        TopicCase{ha, "homeassistant/switch/zolvane_building-b_hall-a/power/config", nullptr},
        TopicCase{ha, "homeassistant/switch/zolvane_building-a-annex_hall/power/config", nullptr},
        TopicCase{ha, "homeassistant/switch/zolvane_building_hall-a/power/config", nullptr},
        TopicCase{ha, "homeassistant/switch/zolvane_building-a_/power/config", nullptr},
        TopicCase{ha, "homeassistant/sensor/kitchen/temperature/config", nullptr},
        TopicCase{ha, "hass/switch/zolvane_building-a_hall-a/power/config", nullptr},
        TopicCase{ha, "homeassistant2/switch/zolvane_building-a_hall-a/power/config", nullptr},
        TopicCase{"ha/discovery", "ha/switch/zolvane_building-a_hall-a/power/config", nullptr},
        TopicCase{ha, "homeassistant/switch/zolvane_building-a_hall-a/power/state", nullptr},
        TopicCase{ha, "homeassistant/switch/zolvane_building-a_hall-a/config", nullptr},
        TopicCase{ha, "homeassistant/switch/x/zolvane_building-a_hall-a/power/config", nullptr},
        TopicCase{ha, "homeassistant/switch/zolvane_building-a_hall-a/power/config/", nullptr},
        TopicCase{ha, "homeassistant/switch/zolvane_building-a_hall-a//config", nullptr},
        TopicCase{ha, "homeassistant/+/zolvane_building-a_hall-a/power/config", nullptr},
        TopicCase{ha, "homeassistant/switch/zolvane_building-a_#/power/config", nullptr},
        TopicCase{ha, "homeassistant/switch/zolvane_building-a_hall.a/power/config", nullptr},
        TopicCase{ha, "", nullptr}));

}  // namespace
