// Alerts: the engine that raises them and the delivery that tells of them, over one database.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "alert/database.h"
#include "alert/delivery.h"
#include "alert/engine.h"
#include "alert/rules.h"
#include "answer.h"

namespace zolvane::service::history {
class Store;
}
namespace zolvane::service::schedule {
class Scheduler;
}

namespace zolvane::service::alert {

class Alerts {
public:
    // history: where the database is (its file, when available); scheduler: whose runs it
    // watches. Both must outlive it.
    Alerts(fleet::Fleet& fleet, const fleet::Inventory& inventory, const history::Store& history,
           schedule::Scheduler& scheduler, Alerting alerting);
    ~Alerts();  // stop()
    Alerts(const Alerts&) = delete;
    Alerts& operator=(const Alerts&) = delete;

    void attachMqtt(MqttPublisher publisher);  // at any time; empty: none
    void start();                              // before the fleet starts
    void stop();                               // after the fleet has stopped
    // A reload, after the fleet's reconcile(): the rules, notifiers and projectors read anew.
    void reload(const fleet::Inventory& inventory, Alerting alerting);

    Alerting alerting() const;  // a copy: a reload may replace it
    bool persistent() const { return database_.persistent(); }
    Engine::Counters engineCounters() const { return engine_.counters(); }
    std::vector<Delivery::Counters> deliveryCounters() const { return delivery_.counters(); }

    Answer list() const { return engine_.list(); }
    Answer acknowledge(std::string_view id, const std::string& who) {
        return engine_.acknowledge(id, who);
    }
    Answer notifiers() const { return delivery_.list(); }

private:
    schedule::Scheduler& scheduler_;
    mutable std::mutex mutex_;  // alerting_
    Alerting alerting_;
    Database database_;
    Delivery delivery_;
    Engine engine_;
};

}  // namespace zolvane::service::alert
