// The fleet on a broker: every projector's state out as retained topics, commands in from the
// command topics, each answered on a result topic (docs/mqtt.md).
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "mqtt/settings.h"
#include "zolvane_fleet/fleet.h"

namespace zolvane::service::mqtt {

class Bridge {
public:
    // The fleet must outlive the bridge.
    Bridge(fleet::Fleet& fleet, const fleet::Inventory& inventory, mqtt::Settings settings);
    ~Bridge();  // stop()
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Subscribes to the fleet and starts connecting; false with the reason when the settings
    // cannot be used (an unreadable password file). A broker not there yet is retried.
    bool start(std::string* why);
    // Publishes the service's status offline and disconnects. Call it after the fleet has
    // stopped: every command queued has been answered by then, and a result that came later
    // would not be published.
    void stop();

    // The inventory read anew, after the fleet's reconcile() made changes: discovery and the
    // retained topics follow the projectors that came, went or changed, on the same connection.
    // From any thread.
    void reload(const fleet::Inventory& inventory, const fleet::Changes& changes);

    // A schedule's run, retained on BASE/schedule/NAME/result so that a dashboard shows the
    // last; from any thread.
    void publishScheduleRun(const std::string& schedule, const std::string& run);
    // An alert's notification (alert/notification.h) on BASE/alert/RULE/SUBJECT: the alert's
    // JSON, retained while it is open, and the retained message cleared once it resolved. False
    // when the broker is not connected; from any thread.
    bool publishAlert(const nlohmann::json& notification);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::service::mqtt
