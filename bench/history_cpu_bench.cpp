// What keeping a history costs the service: two zolvaned side by side watch the same 200
// emulated projectors, polled every 5 s, while each projector changes one watched value a
// minute (blank, toggled on the emulator); one keeps no history, the other writes it. One run of
// about 3 minutes prints one table:
//   - each service's CPU over the same window and the difference (target: under 0.5 % of one
//     core more with history);
//   - the rows the history wrote and the database's growth per projector per day at this rate.
//
// zolvaned is the one built beside this benchmark, or the program ZOLVANED names. Its logs and
// the database stay in the run's temporary directory, named at the end.
#include <httplib.h>
#include <signal.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "projector_emulator/emulator.h"
#include "service_api.h"
#include "service_harness.h"

namespace {

namespace emu = zolvane::emulator;
using namespace zolvane::bench;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kProjectors = 200;
constexpr milliseconds kPollInterval{5000};
constexpr seconds kWarmUp{20};
constexpr seconds kWindow{150};
constexpr std::uint16_t kBlank = 0x3020;
constexpr double kTargetPercent = 0.5;

std::string Inventory(uint16_t port, const emu::Emulator& fleet, const std::string& database) {
    std::string text = InventoryHead(port, kPollInterval);
    text.insert(text.find("\n\n"), "\ndatabase = \"" + database + "\"");
    return text + FloorProjectors(kProjectors, fleet);
}

long long Count(sqlite3* db, const char* table) {
    sqlite3_stmt* statement = nullptr;
    long long count = -1;
    const std::string sql = std::string("SELECT count(*) FROM ") + table;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        count = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    return count;
}

long long Rows(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    long long rows = -1;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        rows = Count(db, "changes") + Count(db, "commands");
    }
    sqlite3_close(db);
    return rows;
}

}  // namespace

int main() {
    const std::string program = ServiceProgram();
    emu::Options options;
    options.count = kProjectors;
    options.frameLogLimit = 16;
    options.idleTimeout = milliseconds(0);
    emu::Emulator fleet(options);
    if (!StartEmulator(fleet)) return 1;

    const std::filesystem::path dir = RunDirectory("history-cpu-bench");
    const std::filesystem::path database = dir / "history.sqlite";
    const uint16_t offPort = FreePort();
    const uint16_t onPort = FreePort();
    std::ofstream(dir / "off.toml") << Inventory(offPort, fleet, "");
    std::ofstream(dir / "on.toml") << Inventory(onPort, fleet, database.string());
    const pid_t off = Start({program, "--inventory", (dir / "off.toml").string()}, dir / "off.log");
    const pid_t on = Start({program, "--inventory", (dir / "on.toml").string()}, dir / "on.log");
    std::printf(
        "history_cpu_bench: %d emulated projectors polled every %lld ms by two services, "
        "one change per projector per minute; without history pid %d, with pid %d\n",
        kProjectors, static_cast<long long>(kPollInterval.count()), off, on);
    std::fflush(stdout);
    httplib::Client offApi("127.0.0.1", offPort);
    httplib::Client onApi("127.0.0.1", onPort);
    if (!WaitForReach(offApi, "online", kProjectors, seconds(30)) ||
        !WaitForReach(onApi, "online", kProjectors, seconds(30))) {
        std::fprintf(stderr, "the services did not see all projectors online (logs in %s)\n",
                     dir.c_str());
        Stop(off);
        Stop(on);
        return 1;
    }

    // One projector a step, so that each changes once a minute.
    std::atomic<bool> changing{true};
    std::thread changer([&] {
        const auto step = milliseconds(60000 / kProjectors);
        for (std::size_t next = 0; changing; next = (next + 1) % kProjectors) {
            const auto blank = fleet.value(kBlank, next).value_or(0);
            fleet.setValue(kBlank, blank ? 0 : 1, next);
            std::this_thread::sleep_for(step);
        }
    });
    std::this_thread::sleep_for(kWarmUp);

    const long long rowsBefore = Rows(database);
    const double offBefore = CpuSeconds(off);
    const double onBefore = CpuSeconds(on);
    std::this_thread::sleep_for(kWindow);
    const double offShare = 100.0 * (CpuSeconds(off) - offBefore) / kWindow.count();
    const double onShare = 100.0 * (CpuSeconds(on) - onBefore) / kWindow.count();
    const long long rowsWritten = Rows(database) - rowsBefore;
    changing = false;
    changer.join();

    Row("service CPU without history", Format("%.2f %% of one core", offShare));
    Row("service CPU with history", Format("%.2f %% of one core", onShare));
    const double more = onShare - offShare;
    Row("  more with history", Format("%.2f %% of one core", more), "< 0.5 %",
        more < kTargetPercent);

    Stop(off);
    StopRow(on);  // the history is written whole and checkpointed on the way out
    const long long rows = Rows(database);
    const auto bytes = static_cast<double>(std::filesystem::file_size(database));
    const double perRow = rows > 0 ? bytes / static_cast<double>(rows) : 0;
    const double rowsPerProjectorDay = static_cast<double>(rowsWritten) / kProjectors *
                                       (86400.0 / static_cast<double>(kWindow.count()));
    Row("history rows written in the window",
        Format("%lld (%.0f per projector per day)", rowsWritten, rowsPerProjectorDay));
    Row("database size",
        Format("%.0f kB, %lld rows, %.0f bytes a row", bytes / 1024, rows, perRow));
    Row("database growth per projector per day",
        Format("%.1f kB at one change a minute", perRow * rowsPerProjectorDay / 1024));
    std::printf("logs and database in %s\n", dir.c_str());
    return 0;
}
