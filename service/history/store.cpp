// The history's writing side. The fleet's callbacks only compare and queue; one thread of the
// store's own writes the queue in one transaction a second (sooner when it grows large), with
// the time it last wrote, and trims what is older than the retention in small steps. Reads of
// the schedules' state share the connection under the same lock; the API's readings open the
// file for themselves (queries.h).
#include "history/store.h"

#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <system_error>
#include <thread>
#include <variant>

#include "log.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::service::history {

std::int64_t toMillis(WallTime time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}
WallTime fromMillis(std::int64_t millis) { return WallTime(std::chrono::milliseconds(millis)); }

namespace {

using Steady = std::chrono::steady_clock;

constexpr int kSchemaVersion = 1;
// Rows waiting to be written, beyond which new ones are dropped (and counted): a disk that
// stays full must not take the service's memory with it.
constexpr std::size_t kQueueBound = 200000;
// Rows that wake the writer before its second is up, and the most written in one transaction,
// so that the readers of the schedules' state never wait long for the lock.
constexpr std::size_t kFlushSoonAt = 10000;
constexpr std::size_t kBatch = 20000;
// Retention deletes at most this many rows of each table per flush; once it has caught up it
// looks again only after kRetentionPause.
constexpr int kRetentionStep = 2000;
constexpr auto kRetentionPause = std::chrono::seconds(60);
constexpr std::int64_t kDayMillis = 24LL * 60 * 60 * 1000;
constexpr int kBusyTimeoutMillis = 5000;

struct ChangeRow {
    std::int64_t time = 0;
    std::string projector;
    std::string_view key;  // a watched row's key, or "reach": static text
    std::optional<std::int64_t> value;
    std::string note;
};

struct CommandRow {
    std::int64_t time = 0;
    std::string projector;
    std::string source;
    std::string who;
    std::string_view operation;  // the fleet's table of operations: static text
    std::string setting;
    std::optional<std::int64_t> value;
    bool ok = false;
    std::string result;
};

struct RunRow {
    std::string schedule;
    std::int64_t planned = 0;
    std::optional<std::int64_t> ran;
    std::string trigger;
    std::string outcome;
    std::string results;  // JSON
};

using Row = std::variant<ChangeRow, CommandRow, RunRow>;

// What the fleet's callbacks share with the store. They hold it by shared_ptr, so that a
// callback the fleet still keeps after the store is gone finds it closed instead of freed.
struct Inbox {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Row> rows;
    bool accepting = false;  // between a successful open() and stop()
    bool stopping = false;
    std::map<std::string, fleet::ProjectorState, std::less<>> last;  // by projector
    std::atomic<std::uint64_t> dropped{0};

    // With the mutex held.
    void push(Row row) {
        if (!accepting || rows.size() >= kQueueBound) {
            dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        rows.push_back(std::move(row));
        if (rows.size() == kFlushSoonAt) wake.notify_one();
    }

    // The rows of what changed since the projector's last state; every value and its reach
    // the first time it is seen, so that what follows has a known start.
    void observe(const std::string& projector, const fleet::ProjectorState& state) {
        const std::int64_t now = toMillis(wallNow());
        std::lock_guard lock(mutex);
        if (!accepting) return;
        const auto found = last.find(projector);
        const fleet::ProjectorState* before = found == last.end() ? nullptr : &found->second;
        if (before == nullptr || before->reach != state.reach) {
            push(ChangeRow{now, projector, "reach", static_cast<std::int64_t>(state.reach),
                           state.reach == fleet::Reach::Offline ? state.lastFailure : ""});
        }
        for (const fleet::WatchedValue& watched : fleet::watchedValues()) {
            const std::optional<std::uint16_t>& value = state.*watched.member;
            if (before != nullptr && before->*watched.member == value) continue;
            std::optional<std::int64_t> stored;
            if (value) stored = *value;
            push(ChangeRow{now, projector, watched.key, stored, {}});
        }
        if (before == nullptr) {
            last.emplace(projector, state);
        } else {
            found->second = state;
        }
    }
};

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// Not bind(): std::bind, found by argument-dependent lookup, would take a std::string first.
void bindAt(sqlite3_stmt* statement, int at, std::string_view text) {
    sqlite3_bind_text(statement, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}
void bindAt(sqlite3_stmt* statement, int at, std::int64_t number) {
    sqlite3_bind_int64(statement, at, number);
}
void bindAt(sqlite3_stmt* statement, int at, const std::optional<std::int64_t>& number) {
    if (number) {
        sqlite3_bind_int64(statement, at, *number);
    } else {
        sqlite3_bind_null(statement, at);
    }
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    if (text == nullptr) return {};
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

// "20260329T005950Z": the suffix of a file set aside.
std::string stamp(WallTime time) {
    const std::time_t seconds = WallClock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

std::filesystem::path withSuffix(const std::filesystem::path& file, std::string_view suffix) {
    std::filesystem::path result = file;
    result += suffix;
    return result;
}

}  // namespace

class Store::Impl {
public:
    explicit Impl(Options given) : options(std::move(given)) {
        // Options{file, days, {}} leaves it zero: that is the default, once a second. A writer
        // that hardly ever waited would hold the connection's lock nearly all the time.
        if (options.flushEvery <= std::chrono::milliseconds(0)) {
            options.flushEvery = std::chrono::milliseconds(1000);
        }
        options.flushEvery = std::max(options.flushEvery, std::chrono::milliseconds(10));
    }
    ~Impl() { stop(); }

    bool open() {
        if (options.file.empty()) return false;
        std::lock_guard stopLock(stopMutex);
        if (db != nullptr || stopped) return db != nullptr;
        std::lock_guard lock(dbMutex);
        std::string why;
        if (!makeParent(&why)) return off(why);
        switch (tryOpen(&why)) {
            case Opened::Ok:
                break;
            case Opened::Failed:
                return off(why);
            case Opened::Damaged:
                if (!setAside(why, &why)) return off(why);
                if (tryOpen(&why) != Opened::Ok) return off(why);
                break;
        }
        available.store(true);
        {
            std::lock_guard accepting(inbox->mutex);
            inbox->accepting = true;
        }
        writer = std::thread([this] { writeLoop(); });
        log(Level::Info, "history in " + options.file.string() + ", kept for " +
                             std::to_string(options.retentionDays) + " days");
        return true;
    }

    void watch(fleet::Fleet& watched) {
        std::lock_guard stopLock(stopMutex);
        if (db == nullptr || fleet != nullptr) return;
        fleet = &watched;
        std::shared_ptr<Inbox> shared = inbox;
        subscription = watched.subscribe(
            [shared](const std::string& name, const fleet::ProjectorState& state) {
                shared->observe(name, state);
            });
        watched.watchCommands([shared](const std::string& name, const fleet::Command& command,
                                       const fleet::CommandResult& result) {
            if (command.operation == fleet::Operation::Get) return;
            CommandRow row{toMillis(wallNow()),
                           name,
                           command.origin.source,
                           command.origin.who,
                           fleet::operationInfo(command.operation).word,
                           command.setting != nullptr ? command.setting->name : "",
                           {},
                           result.ok(),
                           {}};
            if (command.operation == fleet::Operation::Set) row.value = command.value;
            if (!result.ok()) {
                row.result =
                    result.reason.empty() ? fleet::resultReason(result.result) : result.reason;
            }
            std::lock_guard lock(shared->mutex);
            shared->push(std::move(row));
        });
    }

    void stop() {
        std::lock_guard stopLock(stopMutex);
        if (stopped) return;
        stopped = true;
        if (fleet != nullptr) fleet->unsubscribe(subscription);
        {
            std::lock_guard lock(inbox->mutex);
            inbox->accepting = false;  // the command watcher stays with the fleet, now a no-op
            inbox->stopping = true;
        }
        inbox->wake.notify_one();
        if (writer.joinable()) writer.join();
        std::lock_guard lock(dbMutex);
        closeDatabase();
        available.store(false);
    }

    void record(const ScheduleRun& run) {
        nlohmann::json results = nlohmann::json::array();
        for (const ScheduleRun::Result& result : run.results) {
            results.push_back(
                {{"projector", result.projector}, {"ok", result.ok}, {"result", result.reason}});
        }
        RunRow row{
            run.schedule, toMillis(run.planned),
            {},           run.trigger,
            run.outcome,  results.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
        if (run.ran) row.ran = toMillis(*run.ran);
        {
            std::lock_guard lock(lastRunsMutex);
            lastRuns[run.schedule] = run;
        }
        std::lock_guard lock(inbox->mutex);
        inbox->push(std::move(row));
    }

    std::optional<ScheduleRun> lastRun(const std::string& schedule) const {
        {
            std::lock_guard lock(lastRunsMutex);
            const auto found = lastRuns.find(schedule);
            if (found != lastRuns.end()) return found->second;
        }
        std::lock_guard lock(dbMutex);
        if (db == nullptr) return {};
        const Statement statement = prepare(
            "SELECT planned, ran, trigger, outcome, results FROM schedule_runs "
            "WHERE schedule = ? ORDER BY id DESC LIMIT 1");
        if (!statement) return {};
        bindAt(statement.get(), 1, schedule);
        if (sqlite3_step(statement.get()) != SQLITE_ROW) return {};
        ScheduleRun run;
        run.schedule = schedule;
        run.planned = fromMillis(sqlite3_column_int64(statement.get(), 0));
        if (sqlite3_column_type(statement.get(), 1) != SQLITE_NULL) {
            run.ran = fromMillis(sqlite3_column_int64(statement.get(), 1));
        }
        run.trigger = columnText(statement.get(), 2);
        run.outcome = columnText(statement.get(), 3);
        const nlohmann::json results =
            nlohmann::json::parse(columnText(statement.get(), 4), nullptr, false);
        if (results.is_array()) {
            for (const nlohmann::json& result : results) {
                if (!result.is_object()) continue;
                run.results.push_back({result.value("projector", std::string()),
                                       result.value("ok", false),
                                       result.value("result", std::string())});
            }
        }
        return run;
    }

    std::optional<bool> scheduleEnabled(const std::string& schedule) const {
        std::lock_guard lock(dbMutex);
        if (db == nullptr) return {};
        const Statement statement = prepare("SELECT enabled FROM schedules WHERE name = ?");
        if (!statement) return {};
        bindAt(statement.get(), 1, schedule);
        if (sqlite3_step(statement.get()) != SQLITE_ROW) return {};
        return sqlite3_column_int64(statement.get(), 0) != 0;
    }

    void setScheduleEnabled(const std::string& schedule, bool enabled) {
        std::lock_guard lock(dbMutex);
        if (db == nullptr) return;
        const Statement statement = prepare(
            "INSERT INTO schedules(name, enabled) VALUES(?, ?) "
            "ON CONFLICT(name) DO UPDATE SET enabled = excluded.enabled");
        if (statement) {
            bindAt(statement.get(), 1, schedule);
            bindAt(statement.get(), 2, std::int64_t{enabled ? 1 : 0});
            if (sqlite3_step(statement.get()) == SQLITE_DONE) return;
        }
        writeFailures.fetch_add(1, std::memory_order_relaxed);
        log(Level::Error, "history: schedule " + schedule + " not switched " +
                              (enabled ? "on" : "off") + " in " + options.file.string() + ": " +
                              sqlite3_errmsg(db));
    }

    Options options;
    std::atomic<unsigned> retention{options.retentionDays};  // a reload may change it
    std::atomic<bool> available{false};
    std::atomic<std::uint64_t> rowsWritten{0};
    std::atomic<std::uint64_t> writeFailures{0};
    std::shared_ptr<Inbox> inbox = std::make_shared<Inbox>();
    std::optional<WallTime> lastAlive;  // as found at open, before this run wrote its own

private:
    enum class Opened { Ok, Damaged, Failed };

    bool makeParent(std::string* why) {
        const std::filesystem::path parent = options.file.parent_path();
        if (parent.empty()) return true;
        std::error_code error;
        std::filesystem::create_directories(parent, error);
        if (!error && std::filesystem::is_directory(parent, error)) return true;
        *why = "cannot make the folder " + parent.string() + ": " +
               (error ? error.message() : "not a folder");
        return false;
    }

    // Says once why there is no history.
    bool off(const std::string& why) {
        log(Level::Error, "history off: " + why + "; the service goes on without history");
        return false;
    }

    Statement prepare(const char* sql) const {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(statement);
            return {};
        }
        return Statement(statement);
    }

    // Runs sql; false with the reason in why, and code the failing step's result.
    bool execute(const char* sql, std::string* why, int* code = nullptr) {
        char* message = nullptr;
        const int result = sqlite3_exec(db, sql, nullptr, nullptr, &message);
        if (code != nullptr) *code = result;
        if (result == SQLITE_OK) return true;
        *why = message != nullptr ? message : sqlite3_errstr(result);
        sqlite3_free(message);
        return false;
    }

    static bool isDamage(int code) {
        const int primary = code & 0xff;
        return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
    }

    // Opens, checks and prepares the file. Damaged: it is not a sound database (and nothing in
    // it was changed). Failed: it cannot be used at all, why says why.
    Opened tryOpen(std::string* why) {
        const std::string name = options.file.string();
        const auto failed = [&](const std::string& reason) {
            *why = name + ": " + reason;
            closeDatabase();
            return Opened::Failed;
        };
        const int opened = sqlite3_open_v2(
            name.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
            nullptr);
        if (opened != SQLITE_OK) {
            return failed(db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(opened));
        }
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kBusyTimeoutMillis);
        if (sqlite3_db_readonly(db, "main") == 1) return failed("it cannot be written");

        Statement check = prepare("PRAGMA quick_check");
        if (!check) {
            const int code = sqlite3_errcode(db);
            if (isDamage(code)) {
                *why = sqlite3_errmsg(db);
                closeDatabase();
                return Opened::Damaged;
            }
            return failed(sqlite3_errmsg(db));
        }
        const int stepped = sqlite3_step(check.get());
        if (stepped != SQLITE_ROW || columnText(check.get(), 0) != "ok") {
            const bool damaged = stepped == SQLITE_ROW || isDamage(sqlite3_errcode(db));
            const std::string reason =
                stepped == SQLITE_ROW ? columnText(check.get(), 0) : sqlite3_errmsg(db);
            if (!damaged) return failed(reason);
            *why = reason;
            check.reset();
            closeDatabase();
            return Opened::Damaged;
        }
        check.reset();

        std::string reason;
        int code = SQLITE_OK;
        if (!execute("PRAGMA journal_mode=WAL", &reason, &code) ||
            !execute("PRAGMA synchronous=NORMAL", &reason, &code) ||
            !execute(kSchema, &reason, &code)) {
            if (isDamage(code)) {
                *why = reason;
                closeDatabase();
                return Opened::Damaged;
            }
            return failed(reason);
        }
        // A write at once, so that a file that cannot be written is found here and not by the
        // first flush.
        const std::string version = "INSERT INTO meta(key, value) VALUES('schema_version', " +
                                    std::to_string(kSchemaVersion) +
                                    ") ON CONFLICT(key) DO UPDATE SET value = excluded.value";
        if (!execute(version.c_str(), &reason, &code)) return failed(reason);

        const Statement alive = prepare("SELECT value FROM meta WHERE key = 'last_alive'");
        if (alive && sqlite3_step(alive.get()) == SQLITE_ROW &&
            sqlite3_column_type(alive.get(), 0) == SQLITE_INTEGER) {
            lastAlive = fromMillis(sqlite3_column_int64(alive.get(), 0));
        }
        if (!prepareWriting()) return failed(sqlite3_errmsg(db));
        return Opened::Ok;
    }

    // Renames the damaged file and its journal files beside it; false when it cannot be.
    bool setAside(const std::string& damage, std::string* why) {
        std::filesystem::path aside = withSuffix(options.file, ".damaged-" + stamp(wallNow()));
        std::error_code error;
        for (int again = 2; std::filesystem::exists(aside, error); ++again) {
            aside = withSuffix(options.file,
                               ".damaged-" + stamp(wallNow()) + "-" + std::to_string(again));
        }
        std::filesystem::rename(options.file, aside, error);
        if (error) {
            *why = options.file.string() + " is damaged (" + damage +
                   ") and cannot be set aside: " + error.message();
            return false;
        }
        for (const char* journal : {"-wal", "-shm"}) {
            const std::filesystem::path from = withSuffix(options.file, journal);
            if (std::filesystem::exists(from, error)) {
                std::filesystem::rename(from, withSuffix(aside, journal), error);
            }
        }
        log(Level::Warning, "history: " + options.file.string() + " is damaged (" + damage +
                                "); set aside as " + aside.string() + ", a new one begun");
        return true;
    }

    bool prepareWriting() {
        insertChange =
            prepare("INSERT INTO changes(time, projector, key, value, note) VALUES(?, ?, ?, ?, ?)");
        insertCommand = prepare(
            "INSERT INTO commands(time, projector, source, who, operation, setting, value, ok, "
            "result) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
        insertRun = prepare(
            "INSERT INTO schedule_runs(schedule, planned, ran, trigger, outcome, results) "
            "VALUES(?, ?, ?, ?, ?, ?)");
        insertProjector =
            prepare("INSERT INTO projectors(name) VALUES(?) ON CONFLICT(name) DO NOTHING");
        selectProjector = prepare("SELECT id FROM projectors WHERE name = ?");
        writeAlive = prepare(
            "INSERT INTO meta(key, value) VALUES('last_alive', ?) "
            "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
        // Of the changes, the newest before the cut-off of each projector and value stays: a
        // report from the retention's edge on still knows the state it starts from.
        trimChanges = prepare(
            "DELETE FROM changes WHERE rowid IN (SELECT old.rowid FROM changes AS old "
            "WHERE old.time < ?1 AND EXISTS (SELECT 1 FROM changes AS newer "
            "WHERE newer.projector = old.projector AND newer.key = old.key AND newer.time < ?1 "
            "AND (newer.time > old.time OR (newer.time = old.time AND newer.rowid > old.rowid)))"
            " LIMIT 2000)");
        trimCommands = prepare(
            "DELETE FROM commands WHERE id IN (SELECT id FROM commands WHERE time < ?1 "
            "LIMIT 2000)");
        // And each schedule's last run, which GET /api/schedules shows however old it is.
        trimRuns = prepare(
            "DELETE FROM schedule_runs WHERE id IN (SELECT old.id FROM schedule_runs AS old "
            "WHERE old.planned < ?1 AND old.id < (SELECT max(newer.id) FROM schedule_runs AS "
            "newer WHERE newer.schedule = old.schedule) LIMIT 2000)");
        static_assert(kRetentionStep == 2000, "the trimming statements' LIMIT");
        return insertChange && insertCommand && insertRun && insertProjector && selectProjector &&
               writeAlive && trimChanges && trimCommands && trimRuns;
    }

    void closeDatabase() {
        for (Statement* statement :
             {&insertChange, &insertCommand, &insertRun, &insertProjector, &selectProjector,
              &writeAlive, &trimChanges, &trimCommands, &trimRuns}) {
            statement->reset();
        }
        if (db != nullptr) sqlite3_close_v2(db);
        db = nullptr;
        projectorIds.clear();
    }

    // Steps a bound statement to its end and clears it for the next row.
    static bool run(sqlite3_stmt* statement) {
        const int result = sqlite3_step(statement);
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        return result == SQLITE_DONE || result == SQLITE_ROW;
    }

    std::optional<std::int64_t> projectorId(const std::string& name) {
        const auto found = projectorIds.find(name);
        if (found != projectorIds.end()) return found->second;
        bindAt(insertProjector.get(), 1, name);
        if (!run(insertProjector.get())) return {};
        bindAt(selectProjector.get(), 1, name);
        std::optional<std::int64_t> id;
        if (sqlite3_step(selectProjector.get()) == SQLITE_ROW) {
            id = sqlite3_column_int64(selectProjector.get(), 0);
        }
        sqlite3_reset(selectProjector.get());
        sqlite3_clear_bindings(selectProjector.get());
        if (id) projectorIds.emplace(name, *id);
        return id;
    }

    bool write(const ChangeRow& row) {
        const auto projector = projectorId(row.projector);
        if (!projector) return false;
        sqlite3_stmt* statement = insertChange.get();
        bindAt(statement, 1, row.time);
        bindAt(statement, 2, *projector);
        bindAt(statement, 3, row.key);
        bindAt(statement, 4, row.value);
        bindAt(statement, 5, row.note);
        return run(statement);
    }

    bool write(const CommandRow& row) {
        const auto projector = projectorId(row.projector);
        if (!projector) return false;
        sqlite3_stmt* statement = insertCommand.get();
        bindAt(statement, 1, row.time);
        bindAt(statement, 2, *projector);
        bindAt(statement, 3, row.source);
        bindAt(statement, 4, row.who);
        bindAt(statement, 5, row.operation);
        bindAt(statement, 6, row.setting);
        bindAt(statement, 7, row.value);
        bindAt(statement, 8, std::int64_t{row.ok ? 1 : 0});
        bindAt(statement, 9, row.result);
        return run(statement);
    }

    bool write(const RunRow& row) {
        sqlite3_stmt* statement = insertRun.get();
        bindAt(statement, 1, row.schedule);
        bindAt(statement, 2, row.planned);
        bindAt(statement, 3, row.ran);
        bindAt(statement, 4, row.trigger);
        bindAt(statement, 5, row.outcome);
        bindAt(statement, 6, row.results);
        return run(statement);
    }

    // One step of each table's trimming when due; false when a statement failed.
    bool trim() {
        const unsigned days = retention;
        if (days == 0 || Steady::now() < nextTrim) return true;
        const std::int64_t cutOff =
            toMillis(wallNow()) - static_cast<std::int64_t>(days) * kDayMillis;
        bool more = false;
        for (const Statement* statement : {&trimChanges, &trimCommands, &trimRuns}) {
            bindAt(statement->get(), 1, cutOff);
            if (!run(statement->get())) return false;
            more = more || sqlite3_changes(db) >= kRetentionStep;
        }
        // Still behind: the next flush goes on with it.
        nextTrim = more ? Steady::now() : Steady::now() + kRetentionPause;
        return true;
    }

    // Writes up to kBatch of the pending rows and the time in one transaction; they leave
    // pending only once it is committed.
    bool flush(std::deque<Row>& pending) {
        std::lock_guard lock(dbMutex);
        const std::size_t count = std::min(pending.size(), kBatch);
        std::string why;
        bool done = execute("BEGIN IMMEDIATE", &why);
        for (std::size_t i = 0; done && i < count; ++i) {
            done = std::visit([this](const auto& row) { return write(row); }, pending[i]);
        }
        if (done) {
            bindAt(writeAlive.get(), 1, toMillis(wallNow()));
            done = run(writeAlive.get()) && trim() && execute("COMMIT", &why);
        }
        if (!done) {
            if (why.empty()) why = sqlite3_errmsg(db);
            if (sqlite3_get_autocommit(db) == 0) execute("ROLLBACK", &why);
            projectorIds.clear();  // ids of this transaction were rolled back with it
            writeFailures.fetch_add(1, std::memory_order_relaxed);
            if (!failing) {
                log(Level::Error, "history: cannot write " + options.file.string() + ": " + why +
                                      "; keeping what is queued for the next try");
            }
            failing = true;
            available.store(false);
            return false;
        }
        if (failing) log(Level::Info, "history: writing " + options.file.string() + " again");
        failing = false;
        available.store(true);
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(count));
        rowsWritten.fetch_add(count, std::memory_order_relaxed);
        return true;
    }

    void writeLoop() {
        std::deque<Row> pending;
        auto due = Steady::now() + options.flushEvery;
        for (;;) {
            bool stopping = false;
            {
                std::unique_lock lock(inbox->mutex);
                // While writes fail, a full queue waits for the next second like the rest.
                inbox->wake.wait_until(lock, due, [&] {
                    return inbox->stopping || (!failing && inbox->rows.size() >= kFlushSoonAt);
                });
                stopping = inbox->stopping;
                std::vector<Row> taken;
                taken.swap(inbox->rows);
                lock.unlock();
                for (Row& row : taken) pending.push_back(std::move(row));
            }
            due = Steady::now() + options.flushEvery;
            bool written = flush(pending);
            while (written && pending.size() >= kBatch) written = flush(pending);
            if (stopping) {
                while (written && !pending.empty()) written = flush(pending);
                inbox->dropped.fetch_add(pending.size(), std::memory_order_relaxed);
                return;
            }
            if (pending.size() > kQueueBound) {
                const std::size_t excess = pending.size() - kQueueBound;
                pending.erase(pending.begin(),
                              pending.begin() + static_cast<std::ptrdiff_t>(excess));
                inbox->dropped.fetch_add(excess, std::memory_order_relaxed);
            }
        }
    }

    mutable std::mutex dbMutex;  // the connection and its statements
    sqlite3* db = nullptr;
    Statement insertChange, insertCommand, insertRun, insertProjector, selectProjector, writeAlive,
        trimChanges, trimCommands, trimRuns;
    std::map<std::string, std::int64_t, std::less<>> projectorIds;  // committed ones
    bool failing = false;                                           // the writer's own
    Steady::time_point nextTrim{};

    std::mutex stopMutex;  // open, watch and stop
    bool stopped = false;
    fleet::Fleet* fleet = nullptr;
    std::uint64_t subscription = 0;
    std::thread writer;

    mutable std::mutex lastRunsMutex;
    std::map<std::string, ScheduleRun> lastRuns;  // recorded in this run, newest of each
};

Store::Store(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Store::~Store() { stop(); }
bool Store::open() { return impl_->open(); }
void Store::watch(fleet::Fleet& fleet) { impl_->watch(fleet); }
void Store::stop() { impl_->stop(); }
bool Store::available() const { return impl_->available.load(); }
const std::filesystem::path& Store::file() const { return impl_->options.file; }
unsigned Store::retentionDays() const { return impl_->retention; }
void Store::setRetentionDays(unsigned days) { impl_->retention = days; }

Counters Store::counters() const {
    return {impl_->available.load(), impl_->rowsWritten.load(std::memory_order_relaxed),
            impl_->writeFailures.load(std::memory_order_relaxed),
            impl_->inbox->dropped.load(std::memory_order_relaxed)};
}

std::optional<bool> Store::scheduleEnabled(const std::string& schedule) const {
    return impl_->scheduleEnabled(schedule);
}
void Store::setScheduleEnabled(const std::string& schedule, bool enabled) {
    impl_->setScheduleEnabled(schedule, enabled);
}
void Store::record(const ScheduleRun& run) { impl_->record(run); }
std::optional<ScheduleRun> Store::lastRun(const std::string& schedule) const {
    return impl_->lastRun(schedule);
}
std::optional<WallTime> Store::lastAlive() const { return impl_->lastAlive; }

}  // namespace zolvane::service::history
