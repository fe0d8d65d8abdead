#include "mqtt/discovery.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>

#include "json_text.h"
#include "zolvane_catalogue.h"
#include "zolvane_fleet/watched.h"

#ifndef ZOLVANE_VERSION
#define ZOLVANE_VERSION "0"
#endif

namespace zolvane::service::mqtt {
namespace {

using nlohmann::json;

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

std::string base(const mqtt::Settings& mqtt) { return mqtt.topicPrefix + "/" + mqtt.site; }

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

void setIf(json& payload, const char* key, const char* value) {
    if (value) payload[key] = value;
}

// The keys of a watched value's entity beyond those every entity has, from its row and the
// projector's names. A switch sends and shows the names of 1 and 0, and shows any further named
// value as off (power cooling down: off, and not to be switched on yet); a select offers every
// name the projector has for the setting (its own inputs where it named them).
json watchedKeys(const fleet::WatchedValue& row, const std::string& topics,
                 const fleet::ProjectorState& state) {
    const fleet::HomeAssistantHint& hint = row.homeAssistant;
    json keys = {{"name", hint.name}};
    if (row.command) keys["command_topic"] = topics + "set/" + row.setting;
    setIf(keys, "device_class", hint.deviceClass);
    setIf(keys, "unit_of_measurement", hint.unit);
    setIf(keys, "state_class", hint.stateClass);
    setIf(keys, "entity_category", hint.category);
    setIf(keys, "icon", hint.icon);
    const std::vector<fleet::InputName> names = fleet::valueNames(state, row);
    const std::string_view component = hint.component;
    if (component == "select") {
        keys["options"] = json::array();
        for (const fleet::InputName& named : names) keys["options"].push_back(named.name);
    }
    const char* on = fleet::valueName(state, row, 1);
    const char* off = fleet::valueName(state, row, 0);
    if (component != "switch" || !on || !off) return keys;
    keys["payload_on"] = keys["state_on"] = on;
    keys["payload_off"] = keys["state_off"] = off;
    std::string others;
    for (const fleet::InputName& named : names) {
        // A name that would end the template's quoted text is left out of it.
        if (named.value <= 1 || named.name.find_first_of("'\\{}%") != std::string::npos) continue;
        others += (others.empty() ? "value == '" : " or value == '") + named.name + "'";
    }
    if (!others.empty()) {
        keys["value_template"] = "{{ '" + std::string(off) + "' if " + others + " else value }}";
    }
    return keys;
}

bool hasWildcardOrEmpty(std::string_view level) {
    return level.empty() || level.find_first_of("+#") != std::string_view::npos;
}

}  // namespace

std::string nodeId(const mqtt::Settings& mqtt, std::string_view projector) {
    return std::string(idPrefix) + siteToken(mqtt.site) + "_" + nameToken(projector);
}

std::vector<Message> discoveryMessages(const mqtt::Settings& mqtt,
                                       const fleet::ProjectorEntry& projector) {
    return discoveryMessages(mqtt, projector, fleet::ProjectorState{});
}

std::vector<Message> discoveryMessages(const mqtt::Settings& mqtt,
                                       const fleet::ProjectorEntry& projector,
                                       const fleet::ProjectorState& state) {
    const std::string node = nodeId(mqtt, projector.name);
    const std::string status = base(mqtt) + "/status";
    const std::string topics = base(mqtt) + "/projector/" + projector.name + "/";
    json device = {{"identifiers", json::array({node})},
                   {"name", projector.label.empty() ? projector.name : projector.label},
                   {"model", "Projector"},
                   {"sw_version", ZOLVANE_VERSION}};
    // What the projector says of itself, where it says it.
    constexpr std::pair<std::string_view, const char*> aboutKeys[] = {
        {"maker", "manufacturer"},
        {"product", "model"},
        {"serial", "serial_number"},
        {"software", "sw_version"},
    };
    for (const auto& [key, text] : state.abilities.about) {
        for (const auto& [said, deviceKey] : aboutKeys) {
            if (key == said && !text.empty()) device[deviceKey] = text;
        }
    }
    const json origin = {{"name", "zolvaned"}, {"sw_version", ZOLVANE_VERSION}};

    std::vector<Message> messages;
    const auto entity = [&](const std::string& component, const std::string& object,
                            const std::string& stateLeaf, bool followsProjector, json payload) {
        const std::string uniqueId = node + "_" + object;
        payload["unique_id"] = uniqueId;
        payload["default_entity_id"] = entityId(component, uniqueId);
        payload["state_topic"] = topics + stateLeaf;
        payload["qos"] = mqtt.qos;
        payload["device"] = device;
        payload["origin"] = origin;
        // Available while the service is, and a projector's own values while it answers.
        payload["availability"] = json::array({availabilityEntry(status)});
        if (followsProjector)
            payload["availability"].push_back(availabilityEntry(topics + "availability"));
        payload["availability_mode"] = "all";
        messages.push_back(
            {mqtt.discoveryPrefix + "/" + component + "/" + node + "/" + object + "/config",
             jsonText(payload), true});
    };
    for (const fleet::WatchedValue& row : fleet::watchedValues()) {
        const std::string key(row.key);
        if (fleet::has(state, row)) {
            entity(row.homeAssistant.component, key, key, true, watchedKeys(row, topics, state));
        } else {
            // Cleared: announced before the projector's abilities were known, or by an earlier run.
            std::string topic = mqtt.discoveryPrefix;
            topic.append("/").append(row.homeAssistant.component).append("/").append(node);
            topic.append("/").append(key).append("/config");
            messages.push_back({std::move(topic), "", true});
        }
    }
    // Whether the projector answers: not a watched value, and available while the service is.
    entity("binary_sensor", "connectivity", "availability", false,
           {{"name", "Connectivity"},
            {"device_class", "connectivity"},
            {"payload_on", "online"},
            {"payload_off", "offline"},
            {"entity_category", "diagnostic"}});
    return messages;
}

// Wildcards stand for whole levels only, so the filter takes every four-level discovery message
// of the broker; discoveredNode picks this site's out of them.
std::string discoveryFilter(const mqtt::Settings& mqtt) {
    return mqtt.discoveryPrefix + "/+/+/+/config";
}

std::optional<std::string> discoveredNode(const mqtt::Settings& mqtt, std::string_view topic) {
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
