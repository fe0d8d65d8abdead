// The usage report over a year of a large fleet: 200 projectors and 365 days of history, built
// directly in a file of the history's own tables, then usageReport called as GET
// /api/reports/usage calls it, for every projector over the whole year.
//
// Each projector's days: switched on at eight and off at noon, on again at one and off at six
// (a few minutes apart from one projector to the next), lamp and filter hours every hour while
// on, the input chosen after each power-on, an outage of two hours every few weeks, and the
// schedule's and the API's commands. About thirty rows a projector a day, two million in all.
//
// Target: under 300 ms a report (the counter ms_per_call); bytes_per_projector_day is the
// file's size for one projector's day of such history.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "clock.h"
#include "history/queries.h"
#include "history/report_params.h"
#include "history/store.h"
#include "service_harness.h"
#include "zolvane_fleet/fleet.h"

namespace {

using namespace std::chrono_literals;
using zolvane::bench::Name;
namespace history = zolvane::service::history;

constexpr int kProjectors = 200;
constexpr int kDays = 365;
constexpr std::int64_t kMinute = 60 * 1000;
constexpr std::int64_t kHour = 60 * kMinute;
constexpr std::int64_t kDay = 24 * kHour;

void Execute(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "history_bench: %s\n", error ? error : "sqlite3_exec failed");
        std::exit(1);
    }
}

class Writer {
public:
    explicit Writer(sqlite3* db) : db_(db) {
        sqlite3_prepare_v2(db,
                           "INSERT INTO changes(time, projector, key, value, note) "
                           "VALUES(?, ?, ?, ?, ?)",
                           -1, &change_, nullptr);
        sqlite3_prepare_v2(db,
                           "INSERT INTO commands(time, projector, source, who, operation, "
                           "setting, value, ok, result) VALUES(?, ?, ?, ?, ?, ?, ?, 1, '')",
                           -1, &command_, nullptr);
    }
    ~Writer() {
        sqlite3_finalize(change_);
        sqlite3_finalize(command_);
    }

    void Change(std::int64_t time, int projector, const char* key, std::optional<int> value,
                const char* note = "") {
        sqlite3_bind_int64(change_, 1, time);
        sqlite3_bind_int(change_, 2, projector);
        sqlite3_bind_text(change_, 3, key, -1, SQLITE_STATIC);
        if (value) {
            sqlite3_bind_int(change_, 4, *value);
        } else {
            sqlite3_bind_null(change_, 4);
        }
        sqlite3_bind_text(change_, 5, note, -1, SQLITE_STATIC);
        Step(change_);
    }

    void Command(std::int64_t time, int projector, const char* source, const char* who,
                 const char* setting, int value) {
        sqlite3_bind_int64(command_, 1, time);
        sqlite3_bind_int(command_, 2, projector);
        sqlite3_bind_text(command_, 3, source, -1, SQLITE_STATIC);
        sqlite3_bind_text(command_, 4, who, -1, SQLITE_STATIC);
        sqlite3_bind_text(command_, 5, "set", -1, SQLITE_STATIC);
        sqlite3_bind_text(command_, 6, setting, -1, SQLITE_STATIC);
        sqlite3_bind_int(command_, 7, value);
        Step(command_);
    }

private:
    void Step(sqlite3_stmt* statement) {
        if (sqlite3_step(statement) != SQLITE_DONE) {
            std::fprintf(stderr, "history_bench: %s\n", sqlite3_errmsg(db_));
            std::exit(1);
        }
        sqlite3_reset(statement);
    }

    sqlite3* db_;
    sqlite3_stmt* change_ = nullptr;
    sqlite3_stmt* command_ = nullptr;
};

// One projector's year, days [first, first + kDays).
void WriteYear(Writer& writer, int projector, std::int64_t first) {
    int lamp = 1000 + projector * 7;
    int filter = 200 + projector * 3;
    const std::int64_t shift = (projector % 30) * kMinute;
    writer.Change(first - kDay, projector, "reach", 1);
    writer.Change(first - kDay, projector, "power", 0);
    for (int day = 0; day < kDays; ++day) {
        const std::int64_t midnight = first + day * kDay;
        // An outage of two hours in the morning every 23 days, on a day of its own for each.
        const bool outage = (day + projector) % 23 == 0;
        for (const auto& [on, off] :
             {std::pair{8 * kHour, 12 * kHour}, std::pair{13 * kHour, 18 * kHour}}) {
            const std::int64_t start = midnight + on + shift;
            const std::int64_t end = midnight + off + shift;
            writer.Command(start, projector, "schedule", "morning", "Power", 1);
            writer.Change(start + 2000, projector, "power", 1);
            writer.Change(start + 30000, projector, "input", 1 + (day % 3));
            for (std::int64_t hour = start + kHour; hour < end; hour += kHour) {
                if (outage && on == 8 * kHour && hour == start + kHour) {
                    writer.Change(hour, projector, "reach", 2, "no reply within 3000 ms");
                    writer.Change(hour, projector, "power", {});
                    writer.Change(hour + 2 * kHour, projector, "reach", 1);
                    writer.Change(hour + 2 * kHour, projector, "power", 1);
                }
                writer.Change(hour, projector, "lamp_hours", ++lamp);
                writer.Change(hour + 1000, projector, "filter_hours", ++filter);
            }
            writer.Command(end, projector, "schedule", "evening", "Power", 0);
            writer.Change(end + 2000, projector, "power", 0);
        }
        if (day % 3 == 0) {
            writer.Command(midnight + 10 * kHour, projector, "http", "10.0.0.7", "Blank", 1);
            writer.Command(midnight + 10 * kHour + 5 * kMinute, projector, "http", "10.0.0.7",
                           "Blank", 0);
        }
    }
}

struct Year {
    Year() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "history-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        file = folder / "history.sqlite";
        const std::int64_t now = history::toMillis(zolvane::service::wallNow());
        last = now - now % kDay;
        const std::int64_t first = last - kDays * kDay;

        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        Execute(db, "PRAGMA journal_mode=WAL");
        Execute(db, history::kSchema);
        Execute(db, "BEGIN");
        {
            Writer writer(db);
            for (int i = 0; i < kProjectors; ++i) {
                const std::string insert = "INSERT INTO projectors(id, name) VALUES(" +
                                           std::to_string(i) + ", '" + Name(i) + "')";
                Execute(db, insert.c_str());
                WriteYear(writer, i, first);
            }
        }
        Execute(db, "COMMIT");
        Execute(db, "PRAGMA wal_checkpoint(TRUNCATE)");
        sqlite3_close(db);
        bytes = std::filesystem::file_size(file);

        zolvane::fleet::Inventory inventory;
        for (int i = 0; i < kProjectors; ++i) {
            zolvane::fleet::ProjectorEntry entry;
            entry.name = entry.label = Name(i);
            entry.address = "tcp://127.0.0.1:" + std::to_string(9000 + i);
            inventory.projectors.push_back(entry);
        }
        fleet = std::make_unique<zolvane::fleet::Fleet>(inventory);
        store = std::make_unique<history::Store>(history::Store::Options{file, 400, 1000ms});
        if (!store->open()) {
            std::fprintf(stderr, "history_bench: the store does not open %s\n", file.c_str());
            std::exit(1);
        }
    }
    ~Year() {
        store->stop();
        std::filesystem::remove_all(folder);
    }

    std::filesystem::path folder, file;
    std::int64_t last = 0;  // midnight UTC today: the year ends there
    std::uintmax_t bytes = 0;
    std::unique_ptr<zolvane::fleet::Fleet> fleet;
    std::unique_ptr<history::Store> store;
};

void UsageReport(benchmark::State& state, const char* format) {
    static Year year;
    const history::Params params{
        {"from", zolvane::service::instantText(history::fromMillis(year.last - kDays * kDay))},
        {"to", zolvane::service::instantText(history::fromMillis(year.last))},
        {"format", format}};
    std::size_t bytes = 0;
    const auto start = zolvane::bench::Clock::now();
    for (auto _ : state) {
        const zolvane::service::Answer answer =
            history::usageReport(*year.store, *year.fleet, params, nullptr);
        if (answer.status != 200) {
            state.SkipWithError(answer.body.c_str());
            return;
        }
        bytes = answer.body.size();
        benchmark::DoNotOptimize(bytes);
    }
    const double ms = zolvane::bench::Ms(zolvane::bench::Clock::now() - start);
    state.counters["ms_per_call"] = ms / static_cast<double>(state.iterations());
    state.counters["answer_bytes"] = static_cast<double>(bytes);
    state.counters["bytes_per_projector_day"] =
        static_cast<double>(year.bytes) / (kProjectors * kDays);
}

}  // namespace

BENCHMARK_CAPTURE(UsageReport, json, "json")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(UsageReport, csv, "csv")->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
