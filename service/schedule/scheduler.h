// Runs the schedules: each run puts its command on every target's queue as any front end does,
// records the results in the history and tells the listeners (the broker publishes them).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "answer.h"
#include "history/store.h"
#include "schedule/calendar.h"
#include "zolvane_fleet/fleet.h"

namespace zolvane::service::schedule {

class Scheduler {
public:
    struct Counters {
        std::uint64_t runs = 0;      // runs made, by time, catch-up or by hand
        std::uint64_t failures = 0;  // runs where any target failed
        std::uint64_t missed = 0;    // runs recorded as missed
    };

    Scheduler(fleet::Fleet& fleet, history::Store& history, std::vector<Schedule> schedules);
    ~Scheduler();  // stop()
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    // After the fleet has started: runs what was missed while the service was down and is
    // less than catch-up late, records the rest as missed, and starts its thread.
    void start();
    // No run begins after it; a run under way is answered as the fleet stops.
    void stop();
    // A reload: the schedules read anew. One of the same name keeps its pause and its last run;
    // a new one is planned from now; one gone runs no more. A run under way ends as it would.
    void reload(std::vector<Schedule> schedules);

    // Told after every run with the schedule's name and the run as GET /api/schedules shows
    // its last_run; set before start().
    using Listener = std::function<void(const std::string& schedule, const nlohmann::json& run)>;
    void listen(Listener listener);

    std::vector<Schedule> schedules() const;  // a copy: a reload may replace them
    Counters counters() const;

    Answer list() const;                                            // GET /api/schedules
    Answer runNow(const std::string& name);                         // POST .../NAME/run
    Answer change(const std::string& name, std::string_view body);  // PUT .../NAME

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::service::schedule
