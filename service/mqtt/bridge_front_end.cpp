#include "mqtt/bridge_front_end.h"

#include <mutex>
#include <optional>

#include "alert/alerts.h"
#include "json_text.h"
#include "log.h"
#include "mqtt/bridge.h"
#include "schedule/scheduler.h"
#include "zolvane_fleet/inventory_section.h"

namespace zolvane::service::mqtt {
namespace {

class Broker final : public FrontEnd {
public:
    Broker(const FrontEndContext& context, const Settings& settings)
        : fleet_(context.fleet),
          inventory_(context.inventory),
          schedules_(context.schedules),
          alerts_(context.alerts),
          settings_(settings) {}

    std::string_view name() const override { return "mqtt"; }

    bool start(std::string* why) override {
        if (startBridge(why)) return true;
        *why = std::string(name()) + ": " + *why;
        return false;
    }

    // After the fleet, so that no command it waits for waits long.
    void stop() override { stopBridge(); }

    // The same broker and topics: the bridge goes on, on the same connection, with the new
    // projectors. Otherwise the old bridge says goodbye and a new one connects.
    void reload(const FrontEndContext& next, const Settings& settings,
                const fleet::Changes& changes) {
        inventory_ = next.inventory;
        if (bridge_ && settings.sameAs(settings_)) {
            bridge_->reload(inventory_, changes);
            return;
        }
        stopBridge();
        settings_ = settings;
        std::string why;
        if (startBridge(&why)) {
            log(Level::Info, "reload: mqtt: started anew with the changed [mqtt] settings");
        } else {
            log(Level::Error, "reload: mqtt: " + why);
        }
    }

private:
    // What the schedules' and the alerts' callbacks reach: the bridge while one runs, then
    // nothing, so that a call that comes after this front end stopped (or was dropped by a
    // reload) does nothing.
    struct Hooks {
        std::mutex mutex;
        Bridge* bridge = nullptr;
    };

    bool startBridge(std::string* why) {
        bridge_.emplace(fleet_, inventory_, settings_);
        if (!bridge_->start(why)) {
            bridge_.reset();
            return false;
        }
        {
            std::lock_guard lock(hooks_->mutex);
            hooks_->bridge = &*bridge_;
        }
        if (!listening_) {
            // The schedules keep every listener for the whole run: one per front end.
            schedules_.listen(
                [hooks = hooks_](const std::string& schedule, const nlohmann::json& run) {
                    std::lock_guard lock(hooks->mutex);
                    if (hooks->bridge) hooks->bridge->publishScheduleRun(schedule, jsonText(run));
                });
            listening_ = true;
        }
        alerts_.attachMqtt([hooks = hooks_](const nlohmann::json& notification) {
            std::lock_guard lock(hooks->mutex);
            return hooks->bridge != nullptr && hooks->bridge->publishAlert(notification);
        });
        return true;
    }

    void stopBridge() {
        if (!bridge_) return;
        {
            std::lock_guard lock(hooks_->mutex);
            hooks_->bridge = nullptr;
        }
        alerts_.attachMqtt({});
        bridge_->stop();
        bridge_.reset();
    }

    fleet::Fleet& fleet_;
    fleet::Inventory inventory_;
    schedule::Scheduler& schedules_;
    alert::Alerts& alerts_;
    Settings settings_;
    const std::shared_ptr<Hooks> hooks_ = std::make_shared<Hooks>();
    bool listening_ = false;
    std::optional<Bridge> bridge_;
};

class Part final : public FrontEndPart {
public:
    Part() : reader_(settingsReader(settings_)) {}

    fleet::InventorySection* reader() override { return reader_.get(); }

    // Only when the file has an [mqtt] table.
    std::unique_ptr<FrontEnd> make(const FrontEndContext& context) const override {
        if (!settings_) return nullptr;
        return std::make_unique<Broker>(context, *settings_);
    }

    // make() answered for the new reading, so the table is there.
    void reload(FrontEnd& running, const FrontEndContext& next,
                const fleet::Changes& changes) const override {
        if (settings_) static_cast<Broker&>(running).reload(next, *settings_, changes);
    }

private:
    std::optional<Settings> settings_;
    std::unique_ptr<fleet::InventorySection> reader_;
};

}  // namespace

std::unique_ptr<FrontEndPart> frontEnd(const service::Settings&) {
    return std::make_unique<Part>();
}

}  // namespace zolvane::service::mqtt
