// The history's file opened read-only for one reading, in one read transaction: the reading
// sees one moment of the file while the store goes on writing, and holds up none of it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "clock.h"
#include "history/store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zolvane::service::history {

class ReportFile;

// A prepared statement of the file: bind, step through the rows, reset to run it again.
class Statement {
public:
    Statement(ReportFile& file, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view text);
    // True with a row to read, false at the end; Refused (503) when the file cannot be read.
    bool step();
    void reset();

    std::int64_t integer(int column) const;
    std::optional<std::int64_t> maybe(int column) const;  // empty for NULL
    std::string text(int column) const;
    // A time column: milliseconds since 1970, kept within the years a WallTime holds.
    WallTime time(int column) const;

private:
    ReportFile& file_;
    sqlite3_stmt* statement_ = nullptr;
};

class ReportFile {
public:
    // Refused (503) when the service keeps no history or its file cannot be opened.
    explicit ReportFile(const Store& store);
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // The id of every projector the file names.
    std::map<std::string, std::int64_t, std::less<>> projectors();

private:
    friend class Statement;
    [[noreturn]] void failed() const;
    sqlite3* db_ = nullptr;
};

}  // namespace zolvane::service::history
