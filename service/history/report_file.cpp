#include "history/report_file.h"

#include <sqlite3.h>

#include <algorithm>

#include "history/report_params.h"

namespace zolvane::service::history {
namespace {

// Longest a reading waits for the writer's lock (only a checkpoint takes one a reader meets).
constexpr int kBusyTimeoutMs = 5000;

// 1900-01-01 and 2200-01-01 in milliseconds since 1970: beyond them a value of the file is
// no time of this service's, and converting it to a WallTime would overflow.
constexpr std::int64_t kEarliest = -2208988800000;
constexpr std::int64_t kLatest = 7258118400000;

}  // namespace

ReportFile::ReportFile(const Store& store) {
    if (!store.available()) throw Refused(503, "the service keeps no history");
    const int opened = sqlite3_open_v2(store.file().c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    if (opened != SQLITE_OK) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw Refused(503, "the history cannot be read");
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const std::string reason = sqlite3_errmsg(db_);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw Refused(503, "the history cannot be read: " + reason);
    }
}

ReportFile::~ReportFile() {
    if (!db_) return;
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
}

void ReportFile::failed() const {
    throw Refused(503, std::string("the history cannot be read: ") + sqlite3_errmsg(db_));
}

std::map<std::string, std::int64_t, std::less<>> ReportFile::projectors() {
    std::map<std::string, std::int64_t, std::less<>> ids;
    Statement names(*this, "SELECT id, name FROM projectors");
    while (names.step()) ids.emplace(names.text(1), names.integer(0));
    return ids;
}

Statement::Statement(ReportFile& file, const char* sql) : file_(file) {
    if (sqlite3_prepare_v2(file.db_, sql, -1, &statement_, nullptr) != SQLITE_OK) file.failed();
}

Statement::~Statement() { sqlite3_finalize(statement_); }

Statement& Statement::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

bool Statement::step() {
    const int stepped = sqlite3_step(statement_);
    if (stepped == SQLITE_ROW) return true;
    if (stepped == SQLITE_DONE) return false;
    file_.failed();
}

void Statement::reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::optional<std::int64_t> Statement::maybe(int column) const {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return {};
    return integer(column);
}

std::string Statement::text(int column) const {
    const auto* bytes = sqlite3_column_text(statement_, column);
    if (!bytes) return {};
    return {reinterpret_cast<const char*>(bytes),
            static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
}

WallTime Statement::time(int column) const {
    return fromMillis(std::clamp(integer(column), kEarliest, kLatest));
}

}  // namespace zolvane::service::history
