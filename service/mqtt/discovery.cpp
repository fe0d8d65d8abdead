#include "mqtt/discovery.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "json_text.h"
#include "zolvane_catalogue.h"

#ifndef ZOLVANE_VERSION
#define ZOLVANE_VERSION "0"
#endif

namespace zolvane::service::mqtt {
namespace {

using nlohmann::json;

// One Home Assistant entity of a projector. Topics are suffixes of BASE/projector/NAME; a null
// member is a key the entity does not have.
struct Entity {
    const char* component;
    const char* object;
    const char* name;
    const char* stateTopic;
    const char* commandTopic;
    const char* payloadOn;   // also the state's "on" for switches
    const char* payloadOff;  // also the state's "off" for switches
    const char* valueTemplate;
    const char* optionsFrom;  // the catalogue setting whose value names are the options
    const char* deviceClass;
    const char* unit;
    const char* stateClass;
    const char* category;
    const char* icon;
    bool followsProjector;  // available only while the projector is; else the service alone
};

// "cooling down" is an off projector that cannot be switched on yet: the switch shows off.
constexpr const char* powerTemplate = "{{ 'off' if value == 'cooling down' else value }}";

// clang-format off
constexpr std::array entities{
//         component        object          name            state           command            on        off        template       options        device class    unit  state class         category      icon                     projector
    Entity{"switch",        "power",        "Power",        "power",        "set/Power",       "on",     "off",     powerTemplate, nullptr,       nullptr,        nullptr, nullptr,          nullptr,      "mdi:projector",         true},
    Entity{"select",        "input",        "Input",        "input",        "set/InputSource", nullptr,  nullptr,   nullptr,       "InputSource", nullptr,        nullptr, nullptr,          nullptr,      "mdi:video-input-component", true},
    Entity{"switch",        "blank",        "Blank",        "blank",        "set/Blank",       "on",     "off",     nullptr,       nullptr,       nullptr,        nullptr, nullptr,          nullptr,      "mdi:monitor-off",       true},
    Entity{"switch",        "mute",         "Mute",         "mute",         "set/Mute",        "on",     "off",     nullptr,       nullptr,       nullptr,        nullptr, nullptr,          nullptr,      "mdi:volume-off",        true},
    Entity{"sensor",        "lamp_hours",   "Lamp hours",   "lamp_hours",   nullptr,           nullptr,  nullptr,   nullptr,       nullptr,       "duration",     "h",     "total_increasing", "diagnostic", "mdi:lightbulb-on-outline", true},
    Entity{"sensor",        "filter_hours", "Filter hours", "filter_hours", nullptr,           nullptr,  nullptr,   nullptr,       nullptr,       "duration",     "h",     "total_increasing", "diagnostic", "mdi:air-filter",        true},
    Entity{"sensor",        "error_status", "Error status", "error_status", nullptr,           nullptr,  nullptr,   nullptr,       nullptr,       nullptr,        nullptr, nullptr,          "diagnostic", "mdi:alert-circle-outline", true},
    Entity{"binary_sensor", "connectivity", "Connectivity", "availability", nullptr,           "online", "offline", nullptr,       nullptr,       "connectivity", nullptr, nullptr,          "diagnostic", nullptr,                 false},
};
// clang-format on

constexpr std::string_view idPrefix = "zolvane_";

bool plain(std::string_view text, std::string_view alsoAllowed) {
    for (char c : text) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && c != '-' && alsoAllowed.find(c) == std::string_view::npos) return false;
    }
    return !text.empty();
}

// Eight hex digits of the FNV-1a hash: the same on every machine and at every start.
std::string hashTag(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    char tag[9];
    std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(hash));
    return tag;
}

std::string replaced(std::string_view text, char to) {
    std::string out(text);
    for (char& c : out) {
        if (c == '.' || c == '_') c = to;
    }
    return out;
}

// Whether text ends as a tagged one does: separator and eight hex digits.
bool looksTagged(std::string_view text, char separator) {
    if (text.size() < 9 || text[text.size() - 9] != separator) return false;
    for (char c : text.substr(text.size() - 8)) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// The site's part of a node id never holds '_', so that the first '_' after "zolvane_" ends it
// and a node id tells its site without doubt: another site's discovery messages are never taken
// for this one's (and cleared). A site with '.' or '_' gets a tag of its exact name so that
// "a_b" and "a.b" stay apart from each other and from "a-b"; so does a site that ends as if
// tagged, which keeps a plain site from meeting a tagged one.
std::string siteToken(std::string_view site) {
    if (plain(site, "") && !looksTagged(site, '-')) return std::string(site);
    return replaced(site, '-') + "-" + hashTag(site);
}

// '_' is kept in a projector's part; a '.' becomes '_' with a tag of the exact name, so that
// "hall.a" and "hall_a" of one inventory keep ids of their own.
std::string nameToken(std::string_view name) {
    if (plain(name, "_") && !looksTagged(name, '_')) return std::string(name);
    return replaced(name, '_') + "_" + hashTag(name);
}

std::string base(const fleet::MqttSettings& mqtt) { return mqtt.topicPrefix + "/" + mqtt.site; }

// Entity ids take only lower-case letters, digits and '_'.
std::string entityId(std::string_view component, std::string_view uniqueId) {
    std::string id(component);
    id += '.';
    for (char c : uniqueId) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        id += (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ? c : '_';
    }
    return id;
}

json availabilityEntry(std::string topic) {
    return {{"topic", std::move(topic)},
            {"payload_available", "online"},
            {"payload_not_available", "offline"}};
}

json options(const char* setting) {
    json names = json::array();
    if (const zv_setting* entry = zv_catalogue_find(setting)) {
        for (std::size_t i = 0; i < entry->name_count; ++i) names.push_back(entry->names[i].name);
    }
    return names;
}

void setIf(json& payload, const char* key, const char* value) {
    if (value) payload[key] = value;
}

bool hasWildcardOrEmpty(std::string_view level) {
    return level.empty() || level.find_first_of("+#") != std::string_view::npos;
}

}  // namespace

std::string nodeId(const fleet::MqttSettings& mqtt, std::string_view projector) {
    return std::string(idPrefix) + siteToken(mqtt.site) + "_" + nameToken(projector);
}

std::vector<Message> discoveryMessages(const fleet::MqttSettings& mqtt,
                                       const fleet::ProjectorEntry& projector) {
    const std::string node = nodeId(mqtt, projector.name);
    const std::string status = base(mqtt) + "/status";
    const std::string topics = base(mqtt) + "/projector/" + projector.name + "/";
    const json device = {{"identifiers", json::array({node})},
                         {"name", projector.label.empty() ? projector.name : projector.label},
                         {"model", "Projector"},
                         {"sw_version", ZOLVANE_VERSION}};
    const json origin = {{"name", "zolvaned"}, {"sw_version", ZOLVANE_VERSION}};

    std::vector<Message> messages;
    messages.reserve(entities.size());
    for (const Entity& entity : entities) {
        const std::string uniqueId = node + "_" + entity.object;
        json payload = {
            {"unique_id", uniqueId}, {"default_entity_id", entityId(entity.component, uniqueId)},
            {"name", entity.name},   {"state_topic", topics + entity.stateTopic},
            {"qos", mqtt.qos},       {"device", device},
            {"origin", origin}};
        json availability = json::array({availabilityEntry(status)});
        if (entity.followsProjector)
            availability.push_back(availabilityEntry(topics + "availability"));
        payload["availability"] = std::move(availability);
        payload["availability_mode"] = "all";
        if (entity.commandTopic) payload["command_topic"] = topics + entity.commandTopic;
        setIf(payload, "payload_on", entity.payloadOn);
        setIf(payload, "payload_off", entity.payloadOff);
        if (std::string_view(entity.component) == "switch") {
            setIf(payload, "state_on", entity.payloadOn);
            setIf(payload, "state_off", entity.payloadOff);
        }
        setIf(payload, "value_template", entity.valueTemplate);
        if (entity.optionsFrom) payload["options"] = options(entity.optionsFrom);
        setIf(payload, "device_class", entity.deviceClass);
        setIf(payload, "unit_of_measurement", entity.unit);
        setIf(payload, "state_class", entity.stateClass);
        setIf(payload, "entity_category", entity.category);
        setIf(payload, "icon", entity.icon);
        messages.push_back({mqtt.discoveryPrefix + "/" + entity.component + "/" + node + "/" +
                                entity.object + "/config",
                            jsonText(payload), true});
    }
    return messages;
}

// Wildcards stand for whole levels only, so the filter takes every four-level discovery message
// of the broker; discoveredNode picks this site's out of them.
std::string discoveryFilter(const fleet::MqttSettings& mqtt) {
    return mqtt.discoveryPrefix + "/+/+/+/config";
}

std::optional<std::string> discoveredNode(const fleet::MqttSettings& mqtt, std::string_view topic) {
    const std::string prefix = mqtt.discoveryPrefix + "/";
    if (!topic.starts_with(prefix)) return std::nullopt;
    topic.remove_prefix(prefix.size());
    std::array<std::string_view, 4> levels;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const std::size_t slash = topic.find('/');
        if ((slash == std::string_view::npos) != (i == levels.size() - 1)) return std::nullopt;
        levels[i] = topic.substr(0, slash);
        if (hasWildcardOrEmpty(levels[i])) return std::nullopt;
        if (slash != std::string_view::npos) topic.remove_prefix(slash + 1);
    }
    if (levels[3] != "config") return std::nullopt;
    const std::string site = std::string(idPrefix) + siteToken(mqtt.site) + "_";
    const std::string_view node = levels[1];
    if (!node.starts_with(site) || node.size() == site.size() || !plain(node, "_")) {
        return std::nullopt;
    }
    return std::string(node);
}

}  // namespace zolvane::service::mqtt
