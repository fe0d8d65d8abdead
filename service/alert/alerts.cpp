#include "alert/alerts.h"

#include "history/store.h"
#include "schedule/scheduler.h"

namespace zolvane::service::alert {

Alerts::Alerts(fleet::Fleet& fleet, const fleet::Inventory& inventory,
               const history::Store& history, schedule::Scheduler& scheduler, Alerting alerting)
    : alerting_(std::move(alerting)),
      database_(history.available() ? history.file() : std::filesystem::path()),
      delivery_(database_, alerting_.notifiers),
      engine_(fleet, inventory, database_, alerting_, [this] { delivery_.wake(); }) {
    scheduler.listen([this](const std::string& schedule, const nlohmann::json& run) {
        engine_.scheduleRan(schedule, run);
    });
}

Alerts::~Alerts() { stop(); }

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

namespace zolvane::service::alert {
void Alerts::reload(const fleet::Inventory&, Alerting) {}
}  // namespace zolvane::service::alert
