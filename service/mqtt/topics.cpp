#include "mqtt/topics.h"

namespace zolvane::service::mqtt {
namespace {

// The levels of a topic; "a//b" has an empty one.
std::vector<std::string_view> levels(std::string_view topic) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = topic.find('/', start);
        parts.push_back(topic.substr(start, slash - start));
        if (slash == std::string_view::npos) return parts;
        start = slash + 1;
    }
}

}  // namespace

std::string baseTopic(const mqtt::Settings& mqtt) { return mqtt.topicPrefix + "/" + mqtt.site; }

std::string statusTopic(const mqtt::Settings& mqtt) { return baseTopic(mqtt) + "/status"; }

std::string projectorTopic(const mqtt::Settings& mqtt, std::string_view name,
                           std::string_view leaf) {
    return baseTopic(mqtt) + "/projector/" + std::string(name) + "/" + std::string(leaf);
}

std::string siteResultTopic(const mqtt::Settings& mqtt) { return baseTopic(mqtt) + "/result"; }

std::string scheduleResultTopic(const mqtt::Settings& mqtt, std::string_view schedule) {
    return baseTopic(mqtt) + "/schedule/" + std::string(schedule) + "/result";
}

std::string alertTopic(const mqtt::Settings& mqtt, std::string_view rule,
                       std::string_view subject) {
    return baseTopic(mqtt) + "/alert/" + std::string(rule) + "/" + std::string(subject);
}

std::string discoveryStatusTopic(const mqtt::Settings& mqtt) {
    return mqtt.discoveryPrefix + "/status";
}

std::vector<std::string> commandFilters(const mqtt::Settings& mqtt) {
    const std::string base = baseTopic(mqtt);
    return {base + "/projector/+/set/+", base + "/projector/+/command", base + "/group/+/set/+",
            base + "/group/+/command"};
}

std::optional<CommandTopic> parseCommandTopic(const mqtt::Settings& mqtt, std::string_view topic) {
    const std::string base = baseTopic(mqtt) + "/";
    if (!topic.starts_with(base)) return std::nullopt;
    const std::vector<std::string_view> parts = levels(topic.substr(base.size()));
    if (parts.size() < 3 || (parts[0] != "projector" && parts[0] != "group")) return std::nullopt;
    CommandTopic read{parts[0] == "group", std::string(parts[1]), false, {}};
    if (parts.size() == 3 && parts[2] == "command") return read;
    if (parts.size() == 4 && parts[2] == "set") {
        read.set = true;
        read.setting = parts[3];
        return read;
    }
    return std::nullopt;
}

}  // namespace zolvane::service::mqtt
