#include "alert/database.h"

#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>

#include "log.h"

namespace zolvane::service::alert {
namespace {

constexpr int kBusyTimeoutMillis = 5000;  // the history's writer holds the file a moment a second

std::int64_t millis(WallTime time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

}  // namespace

Database::Database(const std::filesystem::path& file) {
    const auto openAt = [this](const std::string& where, int flags) {
        if (sqlite3_open_v2(where.c_str(), &db_, flags, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db_, kBusyTimeoutMillis);
            sqlite3_extended_result_codes(db_, 1);
            if (sqlite3_exec(db_, kAlertSchema, nullptr, nullptr, nullptr) == SQLITE_OK) {
                return true;
            }
        }
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error(why);
    };
    constexpr int kReadWrite = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (!file.empty()) {
        try {
            persistent_ = openAt(file.string(), kReadWrite);
            return;
        } catch (const std::exception& error) {
            log(Level::Warning,
                "alerts kept in memory only: " + file.string() + ": " + error.what());
        }
    }
    try {
        openAt(":memory:", kReadWrite | SQLITE_OPEN_MEMORY);
    } catch (const std::exception& error) {
        log(Level::Error, std::string("alerts cannot be kept: ") + error.what());
    }
}

Database::~Database() { sqlite3_close(db_); }

void Database::failed(std::string_view what) const {
    throw std::runtime_error(std::string(what) + ": " +
                             (db_ ? sqlite3_errmsg(db_) : "no database"));
}

void Database::execute(const char* sql) {
    if (db_ == nullptr) failed("no database");
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) failed(sql);
}

std::int64_t Database::lastInsert() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

Database::Lock::Lock(Database& database, bool begin) : database_(database), lock_(database.mutex_) {
    if (begin) {
        database_.execute("BEGIN IMMEDIATE");
        open_ = true;
    }
}

Database::Lock::~Lock() {
    if (!open_) return;
    try {
        database_.execute("ROLLBACK");
    } catch (const std::exception&) {
        // SQLite rolled it back already, as after a full disk.
    }
}

void Database::Lock::commit() {
    if (!open_) return;
    database_.execute("COMMIT");
    open_ = false;
}

Query::Query(Database& database, const char* sql) : database_(database) {
    if (database_.db_ == nullptr ||
        sqlite3_prepare_v2(database_.db_, sql, -1, &statement_, nullptr) != SQLITE_OK) {
        database_.failed(sql);
    }
}

Query::~Query() { sqlite3_finalize(statement_); }

Query& Query::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
}

Query& Query::bind(int index, std::string_view text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

Query& Query::bind(int index, const std::optional<std::int64_t>& value) {
    if (value) return bind(index, *value);
    sqlite3_bind_null(statement_, index);
    return *this;
}

Query& Query::bind(int index, WallTime time) { return bind(index, millis(time)); }

Query& Query::bind(int index, const std::optional<WallTime>& time) {
    if (time) return bind(index, millis(*time));
    sqlite3_bind_null(statement_, index);
    return *this;
}

bool Query::step() {
    const int stepped = sqlite3_step(statement_);
    if (stepped == SQLITE_ROW) return true;
    if (stepped == SQLITE_DONE) return false;
    database_.failed(sqlite3_sql(statement_));
}

void Query::run() {
    while (step()) {
    }
}

void Query::reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

std::int64_t Query::integer(int column) const { return sqlite3_column_int64(statement_, column); }

std::optional<std::int64_t> Query::maybe(int column) const {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    return integer(column);
}

std::string Query::text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    if (text == nullptr) return {};
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

WallTime Query::time(int column) const {
    // Within the years a WallTime holds, whatever a damaged file says.
    constexpr std::int64_t kLast = 7258118400000;  // 2200-01-01
    return WallTime(std::chrono::milliseconds(std::clamp<std::int64_t>(integer(column), 0, kLast)));
}

std::optional<WallTime> Query::maybeTime(int column) const {
    if (!maybe(column)) return std::nullopt;
    return time(column);
}

}  // namespace zolvane::service::alert
