// One message on a command topic, read whole before anything is queued: what to run on which
// projectors, or why it is refused. It touches neither the broker nor the fleet, so that any
// bytes a broker may deliver can be tried on it alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mqtt/settings.h"
#include "zolvane_fleet/inventory.h"
#include "zolvane_fleet/projector_queue.h"

namespace zolvane::service::mqtt {

// The largest payload read; a longer one is answered unread.
inline constexpr std::size_t kLargestMessage = 4096;

struct CommandMessage {
    enum class Kind {
        NotOurs,  // none of this site's command topics
        Ignored,  // an empty retained message: a command being cleared, ours or another's
        Invalid,  // answered on resultTopic with reason, nothing run
        Run,      // command to every one of targets
    };
    Kind kind = Kind::NotOurs;
    std::string resultTopic;
    std::optional<std::string> projector;  // named by the topic and in the inventory
    std::string group;                     // when it came through a group's topic
    std::vector<std::string> targets;      // in inventory order
    std::optional<fleet::Command> command;
    std::optional<std::string> id;
    std::string reason;
    // A retained command: it would run at every connect, so it is also cleared on the broker.
    bool clearRetained = false;
};

CommandMessage readCommandMessage(const mqtt::Settings& mqtt, const fleet::Inventory& inventory,
                                  std::string_view topic, std::string_view payload, bool retained);

// The answer to an Invalid message as JSON text; any bytes of topic or reason give valid UTF-8.
std::string invalidAnswer(std::string_view topic, const CommandMessage& message);

}  // namespace zolvane::service::mqtt
