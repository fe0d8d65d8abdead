// The history: every change of a watched value and of reachability, every command with where it
// came from, and the schedules' runs and switches, in one SQLite file in WAL mode. What the fleet
// tells is queued and written in batches on the store's own thread, never on a queue's; a file
// that cannot be opened leaves the service running without history.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "zolvane_fleet/fleet.h"

namespace zolvane::service::history {

// The tables, made when missing. Times are milliseconds since 1970 UTC; projectors are named
// once in `projectors` and referred to by id.
inline constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value);
CREATE TABLE IF NOT EXISTS projectors(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
-- key: a watched value's key ("power", "lamp_hours", ...), value its new value or NULL (not
-- known); or "reach", value 0 unknown, 1 online, 2 offline, note the reason it went offline.
CREATE TABLE IF NOT EXISTS changes(time INTEGER NOT NULL, projector INTEGER NOT NULL,
    key TEXT NOT NULL, value INTEGER, note TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS changes_by_projector ON changes(projector, key, time);
CREATE INDEX IF NOT EXISTS changes_by_time ON changes(time);
-- Every command but reads. value: a set's; result: empty on success, else the reason.
CREATE TABLE IF NOT EXISTS commands(id INTEGER PRIMARY KEY, time INTEGER NOT NULL,
    projector INTEGER NOT NULL, source TEXT NOT NULL, who TEXT NOT NULL,
    operation TEXT NOT NULL, setting TEXT NOT NULL, value INTEGER, ok INTEGER NOT NULL,
    result TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS commands_by_time ON commands(time);
CREATE INDEX IF NOT EXISTS commands_by_projector ON commands(projector, time);
-- A schedule switched off or on at run time; absent: as the inventory says (on).
CREATE TABLE IF NOT EXISTS schedules(name TEXT PRIMARY KEY, enabled INTEGER NOT NULL);
-- trigger: "time", "catch-up", "manual"; outcome: "ran", "missed"; results: JSON
-- [{"projector": name, "ok": bool, "result": reason}].
CREATE TABLE IF NOT EXISTS schedule_runs(id INTEGER PRIMARY KEY, schedule TEXT NOT NULL,
    planned INTEGER NOT NULL, ran INTEGER, trigger TEXT NOT NULL, outcome TEXT NOT NULL,
    results TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS schedule_runs_by_schedule ON schedule_runs(schedule, planned);
)sql";

std::int64_t toMillis(WallTime time);
WallTime fromMillis(std::int64_t millis);

struct ScheduleRun {
    std::string schedule;
    WallTime planned{};           // the time it was planned for (now, for a manual run)
    std::optional<WallTime> ran;  // empty when missed
    std::string trigger;          // "time", "catch-up", "manual"
    std::string outcome;          // "ran", "missed"
    struct Result {
        std::string projector;
        bool ok = false;
        std::string reason;  // empty on success
    };
    std::vector<Result> results;
};

struct Counters {
    bool available = false;         // the file is open and being written
    std::uint64_t rowsWritten = 0;  // since start
    std::uint64_t writeFailures = 0;
    std::uint64_t rowsDropped = 0;  // recorded while unavailable, or past the queue's bound
};

class Store {
public:
    struct Options {
        std::filesystem::path file;  // empty: no history at all
        unsigned retentionDays = 400;
        std::chrono::milliseconds flushEvery{1000};  // a kill loses at most this much
    };

    explicit Store(Options options);
    ~Store();  // stop()
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens or makes the file and its tables and starts the writing thread; a damaged file is
    // first set aside beside it (with a log line) and a new one begun. False, said once in the
    // log, when the service must go on without history.
    bool open();
    // Subscribes to every change and command of the fleet: before any command runs.
    void watch(fleet::Fleet& fleet);
    // Unsubscribes, writes what is queued and closes. Safe to call twice.
    void stop();

    bool available() const;
    const std::filesystem::path& file() const;
    unsigned retentionDays() const;
    void setRetentionDays(unsigned days);  // a reload's history_days, from the next trim on
    Counters counters() const;

    // The schedules' state, read and written at once (not batched).
    std::optional<bool> scheduleEnabled(const std::string& schedule) const;
    void setScheduleEnabled(const std::string& schedule, bool enabled);
    void record(const ScheduleRun& run);  // queued as the rest
    std::optional<ScheduleRun> lastRun(const std::string& schedule) const;
    // When the service last wrote (every flush writes it, even with nothing else to write):
    // where a service that was down takes up its schedules. Empty in a new file.
    std::optional<WallTime> lastAlive() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::service::history
