// Where the alerts and their outbox are kept: the history's SQLite file, with a connection of its
// own that writes at once (an alert's change and the notifications it makes in one transaction),
// or, when the service keeps no history, a database in memory that ends with the service.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "clock.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zolvane::service::alert {

inline constexpr const char* kAlertSchema = R"sql(
-- state: "firing", "acknowledged", "resolved"; subject: the projector's or the schedule's name.
CREATE TABLE IF NOT EXISTS alerts(id INTEGER PRIMARY KEY, rule TEXT NOT NULL,
    kind TEXT NOT NULL, projector TEXT NOT NULL DEFAULT '', schedule TEXT NOT NULL DEFAULT '',
    severity TEXT NOT NULL, state TEXT NOT NULL, value TEXT NOT NULL, sentence TEXT NOT NULL,
    started INTEGER NOT NULL, changed INTEGER NOT NULL, resolved INTEGER,
    acknowledged_by TEXT NOT NULL DEFAULT '', acknowledged_at INTEGER,
    notified INTEGER);
CREATE INDEX IF NOT EXISTS alerts_by_state ON alerts(state, rule);
CREATE INDEX IF NOT EXISTS alerts_by_resolved ON alerts(resolved);
-- What is still to be told: one row per notification and notifier, removed once delivered or
-- given up. body: the notification's JSON.
CREATE TABLE IF NOT EXISTS outbox(id INTEGER PRIMARY KEY, notifier TEXT NOT NULL,
    alert INTEGER NOT NULL, event TEXT NOT NULL, body TEXT NOT NULL, created INTEGER NOT NULL,
    attempts INTEGER NOT NULL DEFAULT 0, next_try INTEGER NOT NULL, last_error TEXT NOT NULL
    DEFAULT '');
CREATE INDEX IF NOT EXISTS outbox_due ON outbox(notifier, next_try);
-- Each notifier's record, across restarts.
CREATE TABLE IF NOT EXISTS notifiers(name TEXT PRIMARY KEY, delivered INTEGER NOT NULL DEFAULT 0,
    failed INTEGER NOT NULL DEFAULT 0, given_up INTEGER NOT NULL DEFAULT 0, last_success INTEGER,
    last_failure INTEGER, last_error TEXT NOT NULL DEFAULT '');
)sql";

class Database;

// A prepared statement: bind, step through the rows, reset to run it again. Errors throw
// std::runtime_error with SQLite's message.
class Query {
public:
    Query(Database& database, const char* sql);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& bind(int index, std::int64_t value);
    Query& bind(int index, std::string_view text);
    Query& bind(int index, const std::optional<std::int64_t>& value);  // NULL when empty
    Query& bind(int index, WallTime time);                             // milliseconds
    Query& bind(int index, const std::optional<WallTime>& time);
    bool step();  // true with a row to read
    void run();   // step() to the end
    void reset();

    std::int64_t integer(int column) const;
    std::optional<std::int64_t> maybe(int column) const;
    std::string text(int column) const;
    WallTime time(int column) const;
    std::optional<WallTime> maybeTime(int column) const;

private:
    Database& database_;
    sqlite3_stmt* statement_ = nullptr;
};

class Database {
public:
    // The history's file when given and usable, else memory; a file that cannot be used is said
    // once in the log. Never throws.
    explicit Database(const std::filesystem::path& file);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    bool persistent() const { return persistent_; }

    // Holds the connection for one thread at a time; what is done under it with begin() is one
    // transaction, committed by commit() and rolled back when the lock goes without it.
    class Lock {
    public:
        explicit Lock(Database& database, bool begin = false);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        void commit();

    private:
        Database& database_;
        std::unique_lock<std::recursive_mutex> lock_;
        bool open_ = false;
    };

    void execute(const char* sql);  // throws as Query does
    std::int64_t lastInsert() const;

private:
    friend class Query;
    [[noreturn]] void failed(std::string_view what) const;
    sqlite3* db_ = nullptr;
    bool persistent_ = false;
    std::recursive_mutex mutex_;
};

}  // namespace zolvane::service::alert
