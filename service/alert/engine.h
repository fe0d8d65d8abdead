// The alert engine: watches every projector's state and the schedules' runs, and keeps one alert
// per rule and projector (or schedule) through its life, firing, acknowledged, resolved, in the
// database. Each change that is to be told is put in the outbox in the same transaction.
// Everything is judged on its own thread, never on a queue's: a watcher only hands the state on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "alert/database.h"
#include "alert/rules.h"
#include "answer.h"
#include "zolvane_fleet/fleet.h"

namespace zolvane::service::alert {

class Engine {
public:
    struct Counters {
        std::uint64_t firing = 0;  // open and not acknowledged
        std::uint64_t acknowledged = 0;
        std::uint64_t firingCritical = 0;  // of the open ones
        std::uint64_t raised = 0;          // since start
        std::uint64_t evaluations = 0;     // states and ticks judged since start
    };

    // told(): a notification was put in the outbox (the delivery wakes). It keeps copies of the
    // inventory and the rules.
    Engine(fleet::Fleet& fleet, fleet::Inventory inventory, Database& database, Alerting alerting,
           std::function<void()> told);
    ~Engine();  // stop()
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Takes up the alerts left open by the last run (not told again), subscribes to the fleet and
    // starts judging; before the fleet starts, so that the first poll is seen.
    void start();
    void stop();
    // A reload, after the fleet's reconcile(): the projectors, the rules and the names of the
    // schedules read anew. An alert its rule still watches goes on as it was; any other is
    // resolved, "no longer watched", and told.
    void reload(fleet::Inventory inventory, Alerting alerting,
                const std::vector<std::string>& schedules);

    // A schedule's run as Scheduler::Listener gives it.
    void scheduleRan(const std::string& schedule, const nlohmann::json& run);

    Answer list() const;                                              // GET /api/alerts
    Answer acknowledge(std::string_view id, const std::string& who);  // POST .../ID/ack
    Counters counters() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::service::alert
