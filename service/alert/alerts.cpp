#include "alert/alerts.h"

#include "history/store.h"
#include "schedule/scheduler.h"

namespace zolvane::service::alert {

Alerts::Alerts(fleet::Fleet& fleet, const fleet::Inventory& inventory,
               const history::Store& history, schedule::Scheduler& scheduler, Alerting alerting)
    : scheduler_(scheduler),
      alerting_(std::move(alerting)),
      database_(history.available() ? history.file() : std::filesystem::path()),
      delivery_(database_, alerting_.notifiers),
      engine_(fleet, inventory, database_, alerting_, [this] { delivery_.wake(); }) {
    scheduler.listen([this](const std::string& schedule, const nlohmann::json& run) {
        engine_.scheduleRan(schedule, run);
    });
}

Alerts::~Alerts() { stop(); }

Alerting Alerts::alerting() const {
    std::lock_guard lock(mutex_);
    return alerting_;
}

void Alerts::reload(const fleet::Inventory& inventory, Alerting alerting) {
    std::vector<std::string> schedules;
    for (const schedule::Schedule& schedule : scheduler_.schedules()) {
        schedules.push_back(schedule.name);
    }
    // The engine first: from then on it tells only the notifiers read anew, so that what waits
    // for one removed can be dropped for good.
    engine_.reload(inventory, alerting, schedules);
    delivery_.reload(alerting.notifiers);
    std::lock_guard lock(mutex_);
    alerting_ = std::move(alerting);
}

void Alerts::attachMqtt(MqttPublisher publisher) { delivery_.attachMqtt(std::move(publisher)); }

void Alerts::start() {
    delivery_.start();
    engine_.start();
}

void Alerts::stop() {
    engine_.stop();
    delivery_.stop();
}

}  // namespace zolvane::service::alert
