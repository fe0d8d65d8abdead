// Where everything of one site lives on the broker (docs/mqtt.md), built and read in one place.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mqtt/settings.h"
#include "zolvane_fleet/inventory.h"

namespace zolvane::service::mqtt {

// "topic_prefix/site".
std::string baseTopic(const mqtt::Settings& mqtt);
// BASE/status: the service's own availability, with the last will.
std::string statusTopic(const mqtt::Settings& mqtt);
// BASE/projector/NAME/LEAF, e.g. LEAF "power", "availability", "state", "result".
std::string projectorTopic(const mqtt::Settings& mqtt, std::string_view name,
                           std::string_view leaf);
// BASE/schedule/NAME/result: each run of a schedule.
std::string scheduleResultTopic(const mqtt::Settings& mqtt, std::string_view schedule);
// BASE/alert/RULE/SUBJECT: an alert of a rule on a projector or a schedule, retained while open.
std::string alertTopic(const mqtt::Settings& mqtt, std::string_view rule, std::string_view subject);
// BASE/result: answers to messages that name no known projector or group.
std::string siteResultTopic(const mqtt::Settings& mqtt);
// DISCOVERY_PREFIX/status: Home Assistant's own availability.
std::string discoveryStatusTopic(const mqtt::Settings& mqtt);
// The subscriptions that bring in every command of this site.
std::vector<std::string> commandFilters(const mqtt::Settings& mqtt);

// A command topic read: BASE/{projector|group}/TARGET/{set/SETTING|command}.
struct CommandTopic {
    bool group = false;
    std::string target;
    bool set = false;     // .../set/SETTING, else .../command
    std::string setting;  // may be empty: ".../set/" names none, and is answered so
};
// Empty when the topic is none of this site's command topics.
std::optional<CommandTopic> parseCommandTopic(const mqtt::Settings& mqtt, std::string_view topic);

}  // namespace zolvane::service::mqtt
