#include "schedule/scheduler.h"

#include <date/tz.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "log.h"

namespace zolvane::service::schedule {
namespace {

using history::ScheduleRun;
using nlohmann::json;
using std::chrono::seconds;

// The thread looks at the wall clock at least this often, so that a clock set forward or back
// is noticed while it waits.
constexpr auto kLookEvery = std::chrono::seconds(30);
// How many planned times one look at the calendar goes through, at start or after the clock
// jumped: a schedule every minute over a long stop is recorded missed up to this many times.
constexpr std::size_t kMostMissed = 1000;

constexpr const char* kDayNames[7] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

std::string localText(WallTime time, const date::time_zone* zone) {
    return date::format("%FT%T%Ez", date::make_zoned(zone, date::floor<seconds>(time)));
}

bool succeeded(const ScheduleRun& run) {
    return run.outcome == "ran" &&
           std::all_of(run.results.begin(), run.results.end(), [](const auto& r) { return r.ok; });
}

json runJson(const ScheduleRun& run) {
    json results = json::array();
    for (const auto& result : run.results) {
        results.push_back(
            {{"projector", result.projector}, {"ok", result.ok}, {"result", result.reason}});
    }
    return {{"planned", instantText(run.planned)},
            {"ran", run.ran ? json(instantText(*run.ran)) : json(nullptr)},
            {"trigger", run.trigger},
            {"outcome", run.outcome},
            {"ok", succeeded(run)},
            {"results", results}};
}

// A service down for longer has its runs of this far back recorded missed, not every one since:
// a schedule of many times a day over months would otherwise cost seconds at start.
constexpr auto kLookBack = date::days(35);

// Every planned time of the schedule in (after, until], at most kMostMissed of the latest, and
// none more than kLookBack before until.
std::vector<WallTime> plannedBetween(const Schedule& schedule, WallTime after, WallTime until) {
    std::vector<WallTime> planned;
    after = std::max<WallTime>(after, until - kLookBack);
    for (auto next = nextRun(schedule, after); next && *next <= until;
         next = nextRun(schedule, *next)) {
        planned.push_back(*next);
        if (planned.size() > kMostMissed) planned.erase(planned.begin());
    }
    return planned;
}

}  // namespace

class Scheduler::Impl {
public:
    Impl(fleet::Fleet& fleet, history::Store& history, std::vector<Schedule> schedules)
        : fleet_(fleet), history_(history), schedules_(std::move(schedules)) {
        // Read before this run of the service writes its own: where it was last alive.
        lastAlive_ = history_.lastAlive();
        const WallTime now = wallNow();
        for (const Schedule& schedule : schedules_) {
            Slot& slot = slots_.emplace_back();
            slot.enabled = history_.scheduleEnabled(schedule.name).value_or(true);
            slot.last = history_.lastRun(schedule.name);
            if (slot.enabled) slot.next = nextRun(schedule, now);
        }
    }

    const std::vector<Schedule>& schedules() const { return schedules_; }

    void listen(Listener listener) {
        std::lock_guard lock(mutex_);
        listeners_.push_back(std::move(listener));
    }

    Counters counters() const { return {runs_.load(), failures_.load(), missed_.load()}; }

    void start() {
        {
            std::lock_guard lock(mutex_);
            if (started_ || stopping_) return;
            started_ = true;
        }
        // What fell due while the service was down: the latest, when less than catch-up late,
        // runs now; every other is recorded missed.
        const WallTime now = wallNow();
        for (std::size_t i = 0; lastAlive_ && i < schedules_.size(); ++i) {
            if (!enabled(i)) continue;
            const Schedule& schedule = schedules_[i];
            std::vector<WallTime> planned = plannedBetween(schedule, *lastAlive_, now);
            if (planned.empty()) continue;
            const WallTime latest = planned.back();
            const bool catchUp = now - latest < schedule.catchUp;
            if (catchUp) planned.pop_back();
            for (const WallTime missed : planned) recordMissed(i, missed);
            if (catchUp) begin(i, latest, "catch-up");
        }
        // Planned from now on: a time that passed since the constructor was handled above.
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i].enabled && lastAlive_) slots_[i].next = nextRun(schedules_[i], now);
        }
        if (!stopping_) thread_ = std::thread([this] { loop(); });
    }

    void stop() {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
        std::thread thread = std::move(thread_);
        lock.unlock();
        if (thread.joinable()) thread.join();
        lock.lock();
        // Runs under way end as the fleet answers them; after fleet.stop() that is at once.
        idle_.wait(lock, [this] { return running_ == 0; });
    }

    Answer list() const {
        json schedules = json::array();
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < schedules_.size(); ++i) schedules.push_back(entry(i));
        return jsonAnswer({{"schedules", schedules}});
    }

    Answer runNow(const std::string& name) {
        const auto index = find(name);
        if (!index) return refusal(404, "no schedule \"" + name + "\"");
        auto promise = std::make_shared<std::promise<ScheduleRun>>();
        auto future = promise->get_future();
        if (!begin(*index, wallNow(), "manual",
                   [promise](const ScheduleRun& run) { promise->set_value(run); })) {
            return refusal(503, "the service is stopping");
        }
        const ScheduleRun run = future.get();
        const bool ok = succeeded(run);
        return jsonAnswer({{"ok", ok}, {"run", runJson(run)}}, ok ? 200 : 502);
    }

    Answer change(const std::string& name, std::string_view body) {
        const auto index = find(name);
        if (!index) return refusal(404, "no schedule \"" + name + "\"");
        const json parsed = json::parse(body, nullptr, false);
        if (parsed.is_discarded()) return refusal(400, "the body is not JSON");
        if (!parsed.is_object()) return refusal(400, "the body must be a JSON object");
        for (const auto& [key, value] : parsed.items()) {
            if (key != "enabled") return refusal(422, "only \"enabled\" can be changed");
        }
        const auto enabled = parsed.find("enabled");
        if (enabled == parsed.end() || !enabled->is_boolean()) {
            return refusal(422, "\"enabled\" must be true or false");
        }
        const bool on = enabled->get<bool>();
        history_.setScheduleEnabled(name, on);
        std::lock_guard lock(mutex_);
        Slot& slot = slots_[*index];
        if (slot.enabled != on) {
            log(Level::Info, "schedule " + name + (on ? " switched on" : " switched off"));
        }
        slot.enabled = on;
        slot.next = on ? nextRun(schedules_[*index], wallNow()) : std::nullopt;
        wake_.notify_all();
        return jsonAnswer(entry(*index));
    }

private:
    struct Slot {
        bool enabled = true;
        std::optional<WallTime> next;  // while enabled
        std::optional<ScheduleRun> last;
    };

    // One run on its way: the results come in on each target's queue thread.
    struct Run {
        std::size_t index = 0;
        ScheduleRun record;
        std::atomic<std::size_t> remaining{0};
        std::function<void(const ScheduleRun&)> done;
    };

    std::optional<std::size_t> find(const std::string& name) const {
        for (std::size_t i = 0; i < schedules_.size(); ++i) {
            if (schedules_[i].name == name) return i;
        }
        return {};
    }

    bool enabled(std::size_t index) const {
        std::lock_guard lock(mutex_);
        return slots_[index].enabled;
    }

    // With the mutex held.
    json entry(std::size_t index) const {
        const Schedule& schedule = schedules_[index];
        const Slot& slot = slots_[index];
        json days = json::array();
        for (int d = 1; d <= 7; ++d) {
            if (schedule.days[d % 7]) days.push_back(kDayNames[d % 7]);
        }
        json at = json::array();
        for (const auto time : schedule.at) {
            at.push_back(date::format("%H:%M", time));
        }
        json next = nullptr;
        if (slot.enabled && slot.next) {
            next = {{"local", localText(*slot.next, schedule.zone)},
                    {"utc", instantText(*slot.next)}};
        }
        return {{"name", schedule.name},
                {"targets", schedule.targets},
                {"projectors", schedule.projectors},
                {"days", days},
                {"at", at},
                {"command", schedule.commandBody},
                {"timezone", schedule.zoneName},
                {"enabled", slot.enabled},
                {"skip_dates", schedule.skipWritten},
                {"closures", schedule.closures.empty() ? json(nullptr) : json(schedule.closures)},
                {"catch_up_minutes", schedule.catchUp.count()},
                {"next_run", next},
                {"last_run", slot.last ? runJson(*slot.last) : json(nullptr)}};
    }

    void loop() {
        std::unique_lock lock(mutex_);
        WallTime looked = wallNow();
        while (!stopping_) {
            const WallTime now = wallNow();
            // A clock set back: every next run is planned again from the new time, or a run
            // due before the old time would wait for it.
            if (now + std::chrono::seconds(2) < looked) {
                log(Level::Warning, "the wall clock went back from " + instantText(looked) +
                                        " to " + instantText(now) +
                                        ": the schedules' runs planned again");
                for (std::size_t i = 0; i < slots_.size(); ++i) {
                    if (slots_[i].enabled) slots_[i].next = nextRun(schedules_[i], now);
                }
            }
            looked = now;
            std::optional<std::size_t> due;
            for (std::size_t i = 0; i < slots_.size(); ++i) {
                const Slot& slot = slots_[i];
                if (slot.enabled && slot.next && (!due || *slot.next < *slots_[*due].next)) due = i;
            }
            if (due && *slots_[*due].next <= now) {
                const std::size_t index = *due;
                const Schedule& schedule = schedules_[index];
                // Normally the one time just reached; after the clock jumped forward, the
                // latest of those passed runs when it is not too late, the others are missed.
                std::vector<WallTime> passed{*slots_[index].next};
                for (const WallTime later : plannedBetween(schedule, passed.back(), now)) {
                    passed.push_back(later);
                }
                slots_[index].next = nextRun(schedule, std::max(passed.back(), now));
                lock.unlock();
                const WallTime latest = passed.back();
                passed.pop_back();
                for (const WallTime missed : passed) recordMissed(index, missed);
                if (now - latest <=
                    std::max<WallClock::duration>(schedule.catchUp, std::chrono::minutes(1))) {
                    begin(index, latest, "time");
                } else {
                    recordMissed(index, latest);
                }
                lock.lock();
                continue;
            }
            WallClock::duration wait = kLookEvery;
            if (due) {
                wait = std::min(wait, *slots_[*due].next - now + std::chrono::milliseconds(1));
            }
            wake_.wait_for(lock, wait);
        }
    }

    void recordMissed(std::size_t index, WallTime planned) {
        const Schedule& schedule = schedules_[index];
        ScheduleRun run{schedule.name, planned, std::nullopt, "time", "missed", {}};
        log(Level::Warning,
            "schedule " + schedule.name + " missed its run planned for " + instantText(planned));
        ++missed_;
        history_.record(run);
        tell(index, run);
    }

    // Puts the schedule's command on every target's queue; false once stopping.
    bool begin(std::size_t index, WallTime planned, std::string trigger,
               std::function<void(const ScheduleRun&)> done = {}) {
        const Schedule& schedule = schedules_[index];
        auto run = std::make_shared<Run>();
        run->index = index;
        run->record = ScheduleRun{schedule.name, planned, wallNow(), std::move(trigger), "ran", {}};
        run->done = std::move(done);
        run->record.results.resize(schedule.projectors.size());
        run->remaining = schedule.projectors.size() + 1;  // the last for this call itself
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return false;
            ++running_;
        }
        for (std::size_t i = 0; i < schedule.projectors.size(); ++i) {
            auto& result = run->record.results[i];
            result.projector = schedule.projectors[i];
            const fleet::QueueRef queue = fleet_.find(result.projector);
            if (!queue) {
                result.reason = "no projector \"" + result.projector + "\"";
                arrived(run);
                continue;
            }
            queue->run(schedule.command, [this, run, i](const fleet::CommandResult& answer) {
                auto& result = run->record.results[i];
                result.ok = answer.ok();
                result.reason = answer.ok()
                                    ? std::string()
                                    : (answer.reason.empty() ? fleet::resultReason(answer.result)
                                                             : answer.reason);
                arrived(run);
            });
        }
        arrived(run);
        return true;
    }

    // One more result in; the last records the run and tells who waits for it.
    void arrived(const std::shared_ptr<Run>& run) {
        if (--run->remaining != 0) return;
        const ScheduleRun& record = run->record;
        const bool ok = succeeded(record);
        ++runs_;
        if (!ok) ++failures_;
        std::string failed;
        for (const auto& result : record.results) {
            if (!result.ok)
                failed += (failed.empty() ? "" : "; ") + result.projector + ": " + result.reason;
        }
        log(ok ? Level::Info : Level::Warning, "schedule " + record.schedule + " ran (" +
                                                   record.trigger + ")" +
                                                   (ok ? "" : ", failed on " + failed));
        history_.record(record);
        tell(run->index, record);
        if (run->done) run->done(record);
        std::lock_guard lock(mutex_);
        --running_;
        idle_.notify_all();
    }

    void tell(std::size_t index, const ScheduleRun& run) {
        std::vector<Listener> listeners;
        {
            std::lock_guard lock(mutex_);
            Slot& slot = slots_[index];
            if (!slot.last || slot.last->planned <= run.planned) slot.last = run;
            listeners = listeners_;
        }
        const json text = runJson(run);
        for (const Listener& listener : listeners) listener(run.schedule, text);
    }

    fleet::Fleet& fleet_;
    history::Store& history_;
    const std::vector<Schedule> schedules_;
    std::optional<WallTime> lastAlive_;

    mutable std::mutex mutex_;  // everything below
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::vector<Slot> slots_;
    std::vector<Listener> listeners_;
    std::thread thread_;
    bool started_ = false;
    bool stopping_ = false;
    std::size_t running_ = 0;

    std::atomic<std::uint64_t> runs_{0};
    std::atomic<std::uint64_t> failures_{0};
    std::atomic<std::uint64_t> missed_{0};
};

Scheduler::Scheduler(fleet::Fleet& fleet, history::Store& history, std::vector<Schedule> schedules)
    : impl_(std::make_unique<Impl>(fleet, history, std::move(schedules))) {}
Scheduler::~Scheduler() { stop(); }
void Scheduler::start() { impl_->start(); }
void Scheduler::stop() { impl_->stop(); }
void Scheduler::listen(Listener listener) { impl_->listen(std::move(listener)); }
const std::vector<Schedule>& Scheduler::schedules() const { return impl_->schedules(); }
Scheduler::Counters Scheduler::counters() const { return impl_->counters(); }
Answer Scheduler::list() const { return impl_->list(); }
Answer Scheduler::runNow(const std::string& name) { return impl_->runNow(name); }
Answer Scheduler::change(const std::string& name, std::string_view body) {
    return impl_->change(name, body);
}

}  // namespace zolvane::service::schedule

namespace zolvane::service::schedule {
void Scheduler::reload(std::vector<Schedule>) {}
}  // namespace zolvane::service::schedule
