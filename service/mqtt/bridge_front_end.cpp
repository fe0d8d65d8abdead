#include "mqtt/bridge_front_end.h"

#include <optional>

#include "alert/alerts.h"
#include "json_text.h"
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
        bridge_.emplace(fleet_, inventory_, settings_);
        if (bridge_->start(why)) {
            // The schedules stop before the bridge does (main.cpp), so bridge_ outlives every call.
            schedules_.listen([this](const std::string& schedule, const nlohmann::json& run) {
                bridge_->publishScheduleRun(schedule, jsonText(run));
            });
            // The alerts stop before the bridge does, too.
            alerts_.attachMqtt([this](const nlohmann::json& notification) {
                return bridge_->publishAlert(notification);
            });
            return true;
        }
        *why = std::string(name()) + ": " + *why;
        bridge_.reset();
        return false;
    }

    // After the fleet, so that no command it waits for waits long.
    void stop() override {
        if (bridge_) bridge_->stop();
    }

private:
    fleet::Fleet& fleet_;
    const fleet::Inventory& inventory_;
    schedule::Scheduler& schedules_;
    alert::Alerts& alerts_;
    const Settings settings_;
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

    void reload(FrontEnd&, const FrontEndContext&, const fleet::Changes&) const override {}

private:
    std::optional<Settings> settings_;
    std::unique_ptr<fleet::InventorySection> reader_;
};

}  // namespace

std::unique_ptr<FrontEndPart> frontEnd(const service::Settings&) {
    return std::make_unique<Part>();
}

}  // namespace zolvane::service::mqtt
