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

// Whether a schedule read anew runs when it did: then its planned next run stands.
bool samePlan(const Schedule& before, const Schedule& now) {
    return before.projectors == now.projectors && before.days == now.days && before.at == now.at &&
           before.commandBody == now.commandBody && before.skipDates == now.skipDates &&
           before.zone == now.zone;
}

}  // namespace

class Scheduler::Impl {
    struct Slot {
        bool enabled = true;
        std::optional<WallTime> next;  // while enabled
        std::optional<ScheduleRun> last;
    };

    // A schedule and where it stands. The schedule is shared with the runs under way, so that a
    // reload may replace or drop it while they go on.
    struct Entry {
        std::shared_ptr<const Schedule> schedule;
        Slot slot;
    };

    // One run on its way: the results come in on each target's queue thread.
    struct Run {
        ScheduleRun record;
        std::atomic<std::size_t> remaining{0};
        std::function<void(const ScheduleRun&)> done;
    };

public:
    Impl(fleet::Fleet& fleet, history::Store& history, std::vector<Schedule> schedules)
        : fleet_(fleet), history_(history) {
        // Read before this run of the service writes its own: where it was last alive.
        lastAlive_ = history_.lastAlive();
        const WallTime now = wallNow();
        for (Schedule& schedule : schedules) entries_.push_back(stored(std::move(schedule), now));
    }

    std::vector<Schedule> schedules() const {
        std::vector<Schedule> copies;
        std::lock_guard lock(mutex_);
        copies.reserve(entries_.size());
        for (const Entry& entry : entries_) copies.push_back(*entry.schedule);
        return copies;
    }

    void listen(Listener listener) {
        std::lock_guard lock(mutex_);
        listeners_.push_back(std::move(listener));
    }

    Counters counters() const { return {runs_.load(), failures_.load(), missed_.load()}; }

    void start() {
        std::vector<Entry> entries;
        {
            std::lock_guard lock(mutex_);
            if (started_ || stopping_) return;
            started_ = true;
            entries = entries_;
        }
        // What fell due while the service was down: the latest, when less than catch-up late,
        // runs now; every other is recorded missed.
        const WallTime now = wallNow();
        for (const Entry& entry : entries) {
            if (!lastAlive_ || !entry.slot.enabled) continue;
            const Schedule& schedule = *entry.schedule;
            std::vector<WallTime> planned = plannedBetween(schedule, *lastAlive_, now);
            if (planned.empty()) continue;
            const WallTime latest = planned.back();
            const bool catchUp = now - latest < schedule.catchUp;
            if (catchUp) planned.pop_back();
            for (const WallTime missed : planned) recordMissed(schedule, missed);
            if (catchUp) begin(entry.schedule, latest, "catch-up");
        }
        // Planned from now on: a time that passed since the constructor was handled above.
        std::lock_guard lock(mutex_);
        for (Entry& entry : entries_) {
            if (entry.slot.enabled && lastAlive_) entry.slot.next = nextRun(*entry.schedule, now);
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

    void reload(std::vector<Schedule> schedules) {
        const WallTime now = wallNow();
        // As the history left each, read before the lock; what is kept of one already here
        // replaces it below.
        std::vector<Entry> read;
        read.reserve(schedules.size());
        for (Schedule& schedule : schedules) read.push_back(stored(std::move(schedule), now));
        std::lock_guard lock(mutex_);
        for (Entry& entry : read) {
            const std::string& name = entry.schedule->name;
            const Entry* old = named(entries_, name);
            if (old == nullptr) {
                log(Level::Info, "schedule " + name + " added");
                continue;
            }
            const bool same = samePlan(*old->schedule, *entry.schedule);
            entry.slot = old->slot;
            if (!same && entry.slot.enabled) entry.slot.next = nextRun(*entry.schedule, now);
            if (!same) log(Level::Info, "schedule " + name + " changed: planned again");
        }
        for (const Entry& entry : entries_) {
            if (named(read, entry.schedule->name) == nullptr) {
                log(Level::Info, "schedule " + entry.schedule->name + " removed");
            }
        }
        entries_ = std::move(read);
        wake_.notify_all();
    }

    Answer list() const {
        json schedules = json::array();
        std::lock_guard lock(mutex_);
        for (const Entry& entry : entries_) schedules.push_back(entryJson(entry));
        return jsonAnswer({{"schedules", schedules}});
    }

    Answer runNow(const std::string& name) {
        const std::shared_ptr<const Schedule> schedule = find(name);
        if (!schedule) return refusal(404, "no schedule \"" + name + "\"");
        auto promise = std::make_shared<std::promise<ScheduleRun>>();
        auto future = promise->get_future();
        if (!begin(schedule, wallNow(), "manual",
                   [promise](const ScheduleRun& run) { promise->set_value(run); })) {
            return refusal(503, "the service is stopping");
        }
        const ScheduleRun run = future.get();
        const bool ok = succeeded(run);
        return jsonAnswer({{"ok", ok}, {"run", runJson(run)}}, ok ? 200 : 502);
    }

    Answer change(const std::string& name, std::string_view body) {
        const std::string unknown = "no schedule \"" + name + "\"";
        if (!find(name)) return refusal(404, unknown);
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
        Entry* entry = named(entries_, name);
        if (entry == nullptr) return refusal(404, unknown);  // a reload took it meanwhile
        Slot& slot = entry->slot;
        if (slot.enabled != on) {
            log(Level::Info, "schedule " + name + (on ? " switched on" : " switched off"));
        }
        slot.enabled = on;
        slot.next = on ? nextRun(*entry->schedule, wallNow()) : std::nullopt;
        wake_.notify_all();
        return jsonAnswer(entryJson(*entry));
    }

private:
    template <typename Entries>
    static auto named(Entries& entries, const std::string& name) -> decltype(&entries[0]) {
        for (auto& entry : entries) {
            if (entry.schedule->name == name) return &entry;
        }
        return nullptr;
    }

    // A schedule as the history last left it: switched on or off, its last run, and planned
    // from now.
    Entry stored(Schedule schedule, WallTime now) const {
        Entry entry{std::make_shared<const Schedule>(std::move(schedule)), {}};
        entry.slot.enabled = history_.scheduleEnabled(entry.schedule->name).value_or(true);
        entry.slot.last = history_.lastRun(entry.schedule->name);
        if (entry.slot.enabled) entry.slot.next = nextRun(*entry.schedule, now);
        return entry;
    }

    std::shared_ptr<const Schedule> find(const std::string& name) const {
        std::lock_guard lock(mutex_);
        const Entry* entry = named(entries_, name);
        return entry ? entry->schedule : nullptr;
    }

    // With the mutex held.
    static json entryJson(const Entry& entry) {
        const Schedule& schedule = *entry.schedule;
        const Slot& slot = entry.slot;
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
                for (Entry& entry : entries_) {
                    if (entry.slot.enabled) entry.slot.next = nextRun(*entry.schedule, now);
                }
            }
            looked = now;
            Entry* due = nullptr;
            for (Entry& entry : entries_) {
                const Slot& slot = entry.slot;
                if (slot.enabled && slot.next && (!due || *slot.next < *due->slot.next)) {
                    due = &entry;
                }
            }
            if (due && *due->slot.next <= now) {
                const std::shared_ptr<const Schedule> schedule = due->schedule;
                // Normally the one time just reached; after the clock jumped forward, the
                // latest of those passed runs when it is not too late, the others are missed.
                std::vector<WallTime> passed{*due->slot.next};
                for (const WallTime later : plannedBetween(*schedule, passed.back(), now)) {
                    passed.push_back(later);
                }
                due->slot.next = nextRun(*schedule, std::max(passed.back(), now));
                lock.unlock();
                const WallTime latest = passed.back();
                passed.pop_back();
                for (const WallTime missed : passed) recordMissed(*schedule, missed);
                if (now - latest <=
                    std::max<WallClock::duration>(schedule->catchUp, std::chrono::minutes(1))) {
                    begin(schedule, latest, "time");
                } else {
                    recordMissed(*schedule, latest);
                }
                lock.lock();
                continue;
            }
            WallClock::duration wait = kLookEvery;
            if (due) wait = std::min(wait, *due->slot.next - now + std::chrono::milliseconds(1));
            wake_.wait_for(lock, wait);
        }
    }

    void recordMissed(const Schedule& schedule, WallTime planned) {
        ScheduleRun run{schedule.name, planned, std::nullopt, "time", "missed", {}};
        log(Level::Warning,
            "schedule " + schedule.name + " missed its run planned for " + instantText(planned));
        ++missed_;
        history_.record(run);
        tell(run);
    }

    // Puts the schedule's command on every target's queue; false once stopping.
    bool begin(const std::shared_ptr<const Schedule>& scheduled, WallTime planned,
               std::string trigger, std::function<void(const ScheduleRun&)> done = {}) {
        const Schedule& schedule = *scheduled;
        auto run = std::make_shared<Run>();
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
        tell(record);
        if (run->done) run->done(record);
        std::lock_guard lock(mutex_);
        --running_;
        idle_.notify_all();
    }

    // The run becomes its schedule's last, unless a reload took the schedule away meanwhile.
    void tell(const ScheduleRun& run) {
        std::vector<Listener> listeners;
        {
            std::lock_guard lock(mutex_);
            if (Entry* entry = named(entries_, run.schedule)) {
                Slot& slot = entry->slot;
                if (!slot.last || slot.last->planned <= run.planned) slot.last = run;
            }
            listeners = listeners_;
        }
        const json text = runJson(run);
        for (const Listener& listener : listeners) listener(run.schedule, text);
    }

    fleet::Fleet& fleet_;
    history::Store& history_;
    std::optional<WallTime> lastAlive_;

    mutable std::mutex mutex_;  // everything below
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::vector<Entry> entries_;
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
std::vector<Schedule> Scheduler::schedules() const { return impl_->schedules(); }
void Scheduler::reload(std::vector<Schedule> schedules) { impl_->reload(std::move(schedules)); }
Scheduler::Counters Scheduler::counters() const { return impl_->counters(); }
Answer Scheduler::list() const { return impl_->list(); }
Answer Scheduler::runNow(const std::string& name) { return impl_->runNow(name); }
Answer Scheduler::change(const std::string& name, std::string_view body) {
    return impl_->change(name, body);
}

}  // namespace zolvane::service::schedule
