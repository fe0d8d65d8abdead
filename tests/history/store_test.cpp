// The history as zolvaned writes it: the real program against emulated projectors, its SQLite
// file read back with sqlite3 after a kill, a restart, or a file it could not use.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/mount.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;
using zolvane::emulator::Emulator;

constexpr const char* kToken = "s3cret-token";

// The first column of the last row the statements give ("NULL" for a null, "" for none), or
// the error's words.
std::string query(const fs::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    std::string value;
    char* error = nullptr;
    const auto row = [](void* to, int, char** columns, char**) {
        *static_cast<std::string*>(to) = columns[0] != nullptr ? columns[0] : "NULL";
        return 0;
    };
    if (sqlite3_exec(db, sql.c_str(), row, &value, &error) != SQLITE_OK) value = "error: ";
    if (error != nullptr) value += error;
    sqlite3_free(error);
    sqlite3_close(db);
    return value;
}
long number(const fs::path& file, const std::string& sql) {
    return std::atol(query(file, sql).c_str());
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// An emulator of three projectors, and zolvaned started over it with a database of the test's.
class History : public ::testing::Test {
protected:
    void SetUp() override {
        zolvane::emulator::Options options;
        options.count = 3;
        emulator_ = std::make_unique<Emulator>(options);
        ASSERT_TRUE(emulator_->start());
        std::string pattern = (fs::temp_directory_path() / "zolvaned-history-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        std::ofstream(folder_ / "token") << kToken << "\n";
    }
    void TearDown() override { fs::remove_all(folder_); }

    // extra: more keys of [service], and tables after them.
    void start(const fs::path& database, const std::string& extra = "") {
        std::string text = "[service]\ntoken_file = \"" + (folder_ / "token").string() +
                           "\"\ndatabase = \"" + database.string() + "\"\n" + extra +
                           "\n[defaults]\npoll_interval_ms = 100\n";
        for (std::size_t i = 0; i < emulator_->count(); ++i) {
            text += "\n[[projector]]\nname = \"p" + std::to_string(i) +
                    "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(emulator_->tcpPort(i)) +
                    "\"\n";
        }
        std::ofstream(folder_ / "inventory.toml") << text;
        service_ = std::make_unique<service_testing::ServiceProcess>(
            std::vector<std::string>{ZOLVANED, "--inventory", (folder_ / "inventory.toml").string(),
                                     "--listen", "127.0.0.1:0"});
        port_ = service_->port().value_or(0);
        ASSERT_NE(port_, 0) << service_->log();
    }

    // The status and body of a request with the token; GET without a body.
    std::pair<int, std::string> call(const std::string& path, const std::string& body = "") {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(20s);
        const httplib::Headers headers{{"Authorization", std::string("Bearer ") + kToken}};
        const auto answer = body.empty()
                                ? client.Get(path.c_str(), headers)
                                : client.Put(path.c_str(), headers, body, "application/json");
        return answer ? std::pair(answer->status, answer->body) : std::pair(0, std::string());
    }
    int put(const std::string& projector, const std::string& setting, int value) {
        return call("/api/projectors/" + projector + "/settings/" + setting,
                    "{\"value\":" + std::to_string(value) + "}")
            .first;
    }

    void stop() {
        service_->signal(SIGTERM);
        EXPECT_EQ(service_->wait(30s), 0) << service_->log();
        EXPECT_EQ(service_->log().find("Sanitizer"), std::string::npos) << service_->log();
    }

    std::unique_ptr<Emulator> emulator_;
    fs::path folder_;
    std::unique_ptr<service_testing::ServiceProcess> service_;
    int port_ = 0;
};

TEST_F(History, KillDuringAWriteStormLosesAtMostTheLastSecond) {
    const fs::path database = folder_ / "history.sqlite";
    start(database);
    // Three threads set brightness on every projector, one switches p0's blank on and off.
    std::atomic<bool> storming{true};
    std::vector<std::vector<Steady::time_point>> times(4);  // of each thread's answers
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; storming; ++i) {
                const int status = t == 3 ? put("p0", "blank", (i + 1) % 2)
                                          : put("p" + std::to_string((t + i) % 3), "brightness",
                                                96 + (i * 7 + t) % 65);
                if (status == 200) times[t].push_back(Steady::now());
            }
        });
    }
    std::this_thread::sleep_for(4s);
    service_->signal(SIGKILL);
    const auto killed = Steady::now();
    storming = false;
    for (auto& thread : threads) thread.join();
    long early[4] = {};  // answered more than 2 s before the kill
    for (int t = 0; t < 4; ++t) {
        for (const auto time : times[t]) early[t] += time < killed - 2s;
    }
    ASSERT_TRUE(service_->wait(10s));
    ASSERT_GT(early[0] + early[3], 20);

    EXPECT_EQ(query(database, "PRAGMA integrity_check"), "ok");
    EXPECT_GE(number(database,
                     "SELECT count(*) FROM commands WHERE source = 'http' AND "
                     "operation = 'set' AND ok = 1"),
              early[0] + early[1] + early[2] + early[3]);
    // Every switch of blank changed it, so each is a change of p0's blank too.
    EXPECT_GE(number(database,
                     "SELECT count(*) FROM changes WHERE key = 'blank' AND projector = "
                     "(SELECT id FROM projectors WHERE name = 'p0')"),
              early[3]);
}

TEST_F(History, AFileItCannotUseLeavesTheServiceWorking) {
    struct Row {
        std::string name;
        std::string place;   // the database, under the test's folder
        std::string logged;  // once
        bool setAside;       // garbage at the place, set aside, and a new file works; else a
                             // plain file at folder/blocker
    };
    const Row rows[] = {
        {"under a plain file", "blocker/history.sqlite", "history off: ", false},
        {"garbage", "history.sqlite", "is damaged", true},
    };
    const std::string garbage(5000, '\x5a');
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::ofstream(folder_ / (row.setAside ? row.place : "blocker")) << garbage;
        start(folder_ / row.place);
        EXPECT_EQ(put("p0", "brightness", 120), 200);
        ASSERT_TRUE(service_->waitForLog(row.logged, 10s));
        stop();
        EXPECT_EQ(occurrences(service_->log(), row.logged), 1U) << service_->log();
        EXPECT_EQ(occurrences(service_->log(), "<3>"), row.setAside ? 0U : 1U) << service_->log();
        if (!row.setAside) continue;
        std::vector<std::string> asides;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            if (!entry.path().filename().string().starts_with("history.sqlite.damaged-")) continue;
            std::ostringstream kept;
            kept << std::ifstream(entry.path()).rdbuf();
            asides.push_back(kept.str());
        }
        EXPECT_EQ(asides, std::vector<std::string>{garbage});
        EXPECT_EQ(number(folder_ / row.place, "SELECT count(*) FROM commands"), 1);
    }
}

// A disk that fills up mid-run is said once, the service goes on, and what was recorded
// meanwhile is written once there is room again.
TEST_F(History, AFullDiskIsSaidOnceAndWhatWaitedIsWrittenLater) {
    const fs::path small = folder_ / "small";
    fs::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "no tmpfs";
    const std::unique_ptr<const char, void (*)(const char*)> unmount(
        small.c_str(), [](const char* at) { ::umount2(at, MNT_DETACH); });
    start(small / "history.sqlite");
    ASSERT_EQ(put("p0", "brightness", 100), 200);
    std::system(
        ("dd if=/dev/zero bs=64k of=" + (small / "filler").string() + " 2>/dev/null").c_str());
    for (int i = 0; i < 20; ++i) EXPECT_EQ(put("p1", "brightness", 100 + i), 200);
    ASSERT_TRUE(service_->waitForLog("history: cannot write", 10s)) << service_->log();
    fs::remove(small / "filler");
    ASSERT_TRUE(service_->waitForLog("history: writing", 10s)) << service_->log();
    stop();
    EXPECT_EQ(occurrences(service_->log(), "<3>"), 1U) << service_->log();
    EXPECT_EQ(number(small / "history.sqlite", "SELECT count(*) FROM commands"), 21);
}

TEST_F(History, ARestartKeepsWhatWasWrittenAndTrimsTheOld) {
    const fs::path database = folder_ / "history.sqlite";
    const std::string schedule =
        "\n[[schedule]]\nname = \"evening-off\"\ntargets = [\"@all\"]\ndays = \"daily\"\n"
        "at = \"22:00\"\ncommand = { command = \"power\", value = \"off\" }\n";
    start(database, schedule);
    ASSERT_EQ(put("p1", "brightness", 100), 200);
    ASSERT_EQ(call("/api/schedules/evening-off", R"({"enabled":false})").first, 200);
    stop();
    const long alive = number(database, "SELECT value FROM meta WHERE key = 'last_alive'");
    // Rows of long ago: of one projector's power the newer stays, a report's state at the edge.
    EXPECT_EQ(query(database,
                    "INSERT INTO commands(time, projector, source, who, operation, setting, "
                    "ok, result) VALUES(5, 1, 'http', 'old', 'set', 'Power', 1, '');"
                    "INSERT INTO changes(time, projector, key, value) VALUES(5, 2, 'power', 0),"
                    "(6, 2, 'power', 1)"),
              "");
    start(database, "history_days = 30\n" + schedule);
    ASSERT_EQ(put("p1", "brightness", 110), 200);
    EXPECT_NE(call("/api/schedules").second.find("\"enabled\":false"), std::string::npos);
    stop();
    EXPECT_EQ(query(database,
                    "SELECT group_concat(value) FROM (SELECT value FROM commands "
                    "WHERE setting = 'Brightness' ORDER BY id)"),
              "100,110");
    EXPECT_EQ(query(database, "SELECT group_concat(time) FROM changes WHERE time < 1000"), "6");
    EXPECT_EQ(number(database, "SELECT count(*) FROM commands WHERE who = 'old'"), 0);
    EXPECT_GT(number(database, "SELECT value FROM meta WHERE key = 'last_alive'"), alive);
    EXPECT_EQ(query(database, "SELECT value FROM meta WHERE key = 'schema_version'"), "1");
}

}  // namespace
