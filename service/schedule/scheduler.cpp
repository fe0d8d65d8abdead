// Placeholder until the scheduler is written.
#include "schedule/scheduler.h"

namespace zolvane::service::schedule {

class Scheduler::Impl {
public:
    std::vector<Schedule> schedules;
};

Scheduler::Scheduler(fleet::Fleet&, history::Store&, std::vector<Schedule> schedules)
    : impl_(std::make_unique<Impl>(Impl{std::move(schedules)})) {}
Scheduler::~Scheduler() { stop(); }
void Scheduler::start() {}
void Scheduler::stop() {}
void Scheduler::listen(Listener) {}
const std::vector<Schedule>& Scheduler::schedules() const { return impl_->schedules; }
Scheduler::Counters Scheduler::counters() const { return {}; }
Answer Scheduler::list() const { return jsonAnswer({{"schedules", nlohmann::json::array()}}); }
Answer Scheduler::runNow(const std::string& name) {
    return refusal(404, "no schedule \"" + name + "\"");
}
Answer Scheduler::change(const std::string& name, std::string_view) {
    return refusal(404, "no schedule \"" + name + "\"");
}

}  // namespace zolvane::service::schedule
