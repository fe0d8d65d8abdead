// Schedules: the calendar through real time zones, the inventory's schedules as --check reads
// them, and the real zolvaned running them on a test clock against emulated projectors.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "child_process.h"
#include "clock.h"
#include "projector_emulator/emulator.h"
#include "schedule/calendar.h"
#include "service_process.h"
#include "zolvane_fleet/inventory_section.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using nlohmann::json;
using zolvane::emulator::Emulator;
using zolvane::emulator::PowerState;
namespace service = zolvane::service;

constexpr const char* kToken = "s3cret-token";

std::filesystem::path freshFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zolvaned-XXXXXX").string();
    return ::mkdtemp(pattern.data());
}

void write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

// A winter closure over four days, the first of May every year but 2027, and one evening event that
// runs past midnight (closing both days).
constexpr const char* kClosures =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//closures//EN\r\n"
    "BEGIN:VEVENT\r\nUID:1\r\nDTSTART;VALUE=DATE:20271223\r\nDTEND;VALUE=DATE:20271227\r\n"
    "END:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:2\r\nDTSTART;VALUE=DATE:20200501\r\nRRULE:FREQ=YEARLY\r\n"
    "EXDATE;VALUE=DATE:20270501\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:3\r\nDTSTART:20270610T200000Z\r\nDTEND:20270610T230000Z\r\n"
    "END:VEVENT\r\nEND:VCALENDAR\r\n";

// Each row's keys read as the service reads a [[schedule]] in Berlin, then its next run.
TEST(Calendar, NextRunInLocalTime) {
    const std::filesystem::path folder = freshFolder();
    write(folder / "closures.ics", kClosures);
    const std::string closures = "closures = \"" + (folder / "closures.ics").string() + "\"\n";
    struct Row {
        std::string keys, after, expected;
    };
    const Row rows[] = {
        {R"(at = "02:30")", "2026-03-29T00:59:50Z", "2026-03-29T01:00:00Z"},  // spring forward
        {R"(at = "02:30")", "2026-10-25T00:00:00Z", "2026-10-25T00:30:00Z"},  // fall back: first
        {R"(at = "02:30")", "2026-10-25T00:30:00Z", "2026-10-26T01:30:00Z"},  // not the second
        {"days = \"weekdays\"\nat = \"08:00\"", "2026-12-11T08:00:00Z", "2026-12-14T07:00:00Z"},
        {"days = [\"weekends\"]\nat = \"08:00\"", "2026-12-09T00:00:00Z", "2026-12-12T07:00:00Z"},
        {"days = [\"mon\", \"sat\"]\nat = \"08:00\"", "2026-12-09T00:00:00Z",
         "2026-12-12T07:00:00Z"},
        {"at = \"22:00\"\nskip_dates = [\"2026-12-24\"]", "2026-12-24T00:00:00Z",
         "2026-12-25T21:00:00Z"},
        {R"(at = ["22:00", "08:00"])", "2026-12-09T08:00:00Z", "2026-12-09T21:00:00Z"},
        {"at = \"22:00\"\n" + closures, "2027-12-22T22:00:00Z", "2027-12-27T21:00:00Z"},  // DTEND
        {"at = \"22:00\"\n" + closures, "2028-04-30T21:00:00Z", "2028-05-02T20:00:00Z"},  // RRULE
        {"at = \"22:00\"\n" + closures, "2027-04-30T21:00:00Z", "2027-05-01T20:00:00Z"},  // EXDATE
        {"at = \"09:00\"\n" + closures, "2027-06-10T08:00:00Z", "2027-06-12T07:00:00Z"},  // timed
    };
    for (const Row& row : rows) {
        const std::string text =
            "[[projector]]\nname = \"p0\"\naddress = \"tcp://127.0.0.1:4352\"\n[[schedule]]\n"
            "name = \"s\"\ntargets = [\"@all\"]\ntimezone = \"Europe/Berlin\"\n"
            "command = { command = \"power\", value = \"on\" }\n" +
            row.keys + "\n";
        service::Settings settings;
        std::vector<service::schedule::Schedule> read;
        const auto reader = service::schedule::schedulesReader(settings, read);
        zolvane::fleet::InventorySection* const sections[] = {reader.get()};
        const auto loaded = zolvane::fleet::parseInventory(text, false, sections);
        ASSERT_TRUE(loaded.faults.empty()) << row.keys << ": " << loaded.faults[0].reason;
        ASSERT_EQ(read.size(), 1u);
        const auto next = service::schedule::nextRun(read[0], *service::parseInstant(row.after));
        ASSERT_TRUE(next) << row.keys;
        EXPECT_EQ(date::format("%FT%TZ", date::floor<std::chrono::seconds>(*next)), row.expected)
            << row.keys << " after " << row.after;
    }
    std::filesystem::remove_all(folder);
}

TEST(Check, BadSchedulesNamedByLine) {
    const std::filesystem::path folder = freshFolder();
    // Closures that are not calendars: text, a NUL, bytes that are not UTF-8, too many bytes.
    const std::pair<std::string, std::string> files[] = {
        {"text.ics", "hello"},
        {"nul.ics", "BEGIN:VCALENDAR\r\n\0\r\nEND:VCALENDAR\r\n"s},
        {"bytes.ics", "BEGIN:VCALENDAR\r\nSUMMARY:\xff\xfe\r\nEND:VCALENDAR\r\n"},
        {"huge.ics", std::string(5 * 1024 * 1024, 'A')}};
    for (const auto& [name, text] : files) write(folder / name, text);
    const auto closures = [&](const char* name) {
        return "closures = \"" + (folder / name).string() + "\"";
    };
    const std::string head =
        "[[projector]]\nname = \"p0\"\naddress = \"tcp://127.0.0.1:4352\"\ngroups = [\"hall\"]\n"
        "\n[[schedule]]\nname = \"s\"\n";  // the row's key on line 8, then what it lacks
    struct Row {
        std::string key;
        std::string reason;
    };
    const Row rows[] = {
        {"targets = [\"p7\"]", "no projector \"p7\""},
        {"targets = [\"@attic\"]", "no group \"attic\""},
        {"days = [\"mon\", \"funday\"]", "day \"funday\""},
        {"at = \"24:00\"", "time \"24:00\" is not HH:MM"},
        {"command = { command = \"power\", value = \"sideways\" }", "\"command\" is refused: "},
        {"timezone = \"Mars/Olympus\"", "time zone \"Mars/Olympus\""},
        {closures("none/x.ics"), "cannot be read"},
        {closures("text.ics"), "not an iCalendar file"},
        {closures("nul.ics"), "NUL"},
        {closures("bytes.ics"), "not UTF-8"},
        {closures("huge.ics"), "larger than 4 MiB"},
        {"catch_up_minutes = 2000", "out of range 0..1440"},
        {"colour = \"red\"", "unknown key \"colour\" in [[schedule]]"},
    };
    for (const Row& row : rows) {
        std::string body = head + row.key + "\n";
        for (const std::string key : {"targets = [\"@hall\"]", "at = \"22:00\"",
                                      "command = { command = \"power\", value = \"on\" }"}) {
            if (!row.key.starts_with(key.substr(0, key.find(' ')))) body += key + "\n";
        }
        const std::string file = (folder / "inventory.toml").string();
        write(file, body);
        const auto done = cli_testing::Run({ZOLVANED, "--check", file}, 30s);
        EXPECT_EQ(done.status, 1) << row.key;
        const std::string out = done.out + done.err;
        EXPECT_NE(out.find(file + ":8:"), std::string::npos) << row.key << "\n" << out;
        EXPECT_NE(out.find(row.reason), std::string::npos) << row.key << "\n" << out;
    }
    std::filesystem::remove_all(folder);
}

// The real service on a test clock, its history in one file that outlives each run.
class Scheduled : public ::testing::Test {
protected:
    void SetUp() override {
        zolvane::emulator::Options options;
        options.count = 2;
        options.initialPower = PowerState::Off;
        options.coolingTime = 300ms;
        emulator_ = std::make_unique<Emulator>(options);
        ASSERT_TRUE(emulator_->start());
        folder_ = freshFolder();
        write(folder_ / "token", std::string(kToken) + "\n");
    }

    void TearDown() override {
        stopService();
        std::filesystem::remove_all(folder_);
    }

    // Schedules named "evening" (p0) and "witness" (p1), both switching on at `time` in Berlin,
    // and "dead" on a projector nothing answers for.
    void startService(const std::string& clock, const std::string& time = "22:00") {
        std::string text = "[service]\ntoken_file = \"" + (folder_ / "token").string() +
                           "\"\ntimezone = \"Europe/Berlin\"\ncatch_up_minutes = 15\n"
                           "database = \"" +
                           (folder_ / "h.sqlite").string() +
                           "\"\n\n[defaults]\npoll_interval_ms = 200\nconnect_timeout_ms = 300\n"
                           "receive_timeout_ms = 300\noffline_after = 2\n";
        for (std::size_t i = 0; i < 3; ++i) {
            const int port = i < 2 ? emulator_->tcpPort(i) : service_testing::freePort();
            text += "\n[[projector]]\nname = \"p" + std::to_string(i) +
                    "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(port) + "\"\n";
        }
        for (const auto& [name, target] :
             {std::pair{"evening", "p0"}, {"witness", "p1"}, {"dead", "p2"}}) {
            text += std::string("\n[[schedule]]\nname = \"") + name + "\"\ntargets = [\"" + target +
                    "\"]\nat = \"" + (name == std::string("dead") ? "12:00" : time) +
                    "\"\ncommand = { command = \"power\", value = \"on\" }\n";
        }
        write(folder_ / "inventory.toml", text);
        service_ = std::make_unique<service_testing::ServiceProcess>(
            std::vector<std::string>{ZOLVANED, "--inventory", (folder_ / "inventory.toml").string(),
                                     "--listen", "127.0.0.1:0", "--test-clock", clock});
        const auto port = service_->port();
        ASSERT_TRUE(port) << service_->log();
        client_ = std::make_unique<httplib::Client>("127.0.0.1", *port);
        client_->set_read_timeout(30s);
    }

    void stopService() {
        if (!service_) return;
        service_->signal(SIGTERM);
        EXPECT_EQ(service_->wait(20s), 0);
        EXPECT_EQ(service_->log().find("Sanitizer"), std::string::npos) << service_->log();
        service_.reset();
    }

    // The schedule's entry once it satisfies `until`; null after 30 s.
    json schedule(const std::string& name, const std::function<bool(const json&)>& until) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        json entry;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto answer = client_->Get("/api/schedules");
            for (const json& e : json::parse(answer ? answer->body : "{}", nullptr, false)
                                     .value("schedules", json::array())) {
                if (e.value("name", "") == name) entry = e;
            }
            if (!entry.is_null() && until(entry)) return entry;
            std::this_thread::sleep_for(100ms);
        }
        ADD_FAILURE() << name << " never as awaited: " << entry.dump() << "\n" << service_->log();
        return nullptr;
    }

    httplib::Result send(const char* method, const std::string& path, const std::string& body) {
        const httplib::Headers headers{{"Authorization", std::string("Bearer ") + kToken}};
        return std::string(method) == "PUT"
                   ? client_->Put(path.c_str(), headers, body, "application/json")
                   : client_->Post(path.c_str(), headers, body, "application/json");
    }

    std::unique_ptr<Emulator> emulator_;
    std::filesystem::path folder_;
    std::unique_ptr<service_testing::ServiceProcess> service_;
    std::unique_ptr<httplib::Client> client_;
};

const auto ranBy = [](const std::string& planned) {
    return [planned](const json& e) {
        return e["last_run"].is_object() && e["last_run"].value("planned", "") == planned;
    };
};

TEST_F(Scheduled, RunsAtItsLocalTimeAndCatchesUpOrMissesAfterRestarts) {
    struct Row {
        std::string clock;
        std::string time;
        std::string planned;
        std::string trigger;
        std::string outcome;
        PowerState power;
        std::string next;  // its next run, local
    };
    const Row rows[] = {
        {"2026-03-29T00:59:50Z", "02:30", "2026-03-29T01:00:00Z", "time", "ran", PowerState::On,
         "2026-03-30T02:30:00+02:00"},
        {"2026-06-01T19:59:55Z", "22:00", "2026-06-01T20:00:00Z", "time", "ran", PowerState::On,
         "2026-06-02T22:00:00+02:00"},
        {"2026-06-02T20:10:00Z", "22:00", "2026-06-02T20:00:00Z", "catch-up", "ran", PowerState::On,
         "2026-06-03T22:00:00+02:00"},
        {"2026-06-03T20:20:00Z", "22:00", "2026-06-03T20:00:00Z", "time", "missed", PowerState::Off,
         "2026-06-04T22:00:00+02:00"},
    };
    for (const Row& row : rows) {
        emulator_->setPower(PowerState::Off, 0);
        startService(row.clock, row.time);
        const json entry = schedule("evening", ranBy(row.planned));
        ASSERT_FALSE(entry.is_null()) << row.clock;
        const json& run = entry["last_run"];
        EXPECT_EQ(run["trigger"], row.trigger) << row.clock;
        EXPECT_EQ(run["outcome"], row.outcome) << row.clock;
        EXPECT_EQ(run["ok"], row.outcome == "ran") << run;
        EXPECT_EQ(run["ran"].is_null(), row.outcome == "missed") << run;
        EXPECT_EQ(run["results"].size(), row.outcome == "ran" ? 1u : 0u) << run;
        EXPECT_EQ(emulator_->power(0), row.power) << row.clock;
        EXPECT_EQ(entry["next_run"]["local"], row.next) << entry;
        EXPECT_EQ(entry["projectors"], json::array({"p0"}));
        EXPECT_EQ(entry["timezone"], "Europe/Berlin");
        stopService();
    }
}

TEST_F(Scheduled, SwitchedOffStaysOffAndRunsByHand) {
    startService("2026-06-01T19:00:00Z");
    struct Call {
        const char* method;
        std::string path;
        std::string body;
        int status;
    };
    const Call calls[] = {
        {"PUT", "/api/schedules/evening", "{\"enabled\": false}", 200},
        {"PUT", "/api/schedules/evening", "{\"enabled\": \"no\"}", 422},
        {"PUT", "/api/schedules/evening", "{\"enabled\": tru", 400},
        {"PUT", "/api/schedules/evening", std::string("\xff\0\"", 3), 400},
        {"PUT", "/api/schedules/nothing", "{\"enabled\": true}", 404},
        {"POST", "/api/schedules/evening/run", "", 200},
        {"POST", "/api/schedules/dead/run", "", 502},
        {"POST", "/api/schedules/nothing/run", "", 404},
    };
    for (const Call& call : calls) {
        const auto answer = send(call.method, call.path, call.body);
        ASSERT_TRUE(answer) << call.path;
        EXPECT_EQ(answer->status, call.status) << call.path << " " << answer->body;
        const json body = json::parse(answer->body, nullptr, false);
        if (call.path == "/api/schedules/evening" && call.status == 200) {
            EXPECT_EQ(body["enabled"], false);
            EXPECT_TRUE(body["next_run"].is_null());
        } else if (call.method == std::string("POST") && call.status != 404) {
            EXPECT_EQ(body["ok"], call.status == 200) << body;
            EXPECT_EQ(body["run"]["trigger"], "manual") << body;
            EXPECT_EQ(body["run"]["results"][0]["ok"], call.status == 200) << body;
        }
    }
    EXPECT_EQ(emulator_->power(0), PowerState::On);
    stopService();

    // Restarted just before both are due: the witness runs, the switched-off one does not.
    emulator_->setPower(PowerState::Off, 0);
    startService("2026-06-01T19:59:57Z");
    EXPECT_EQ(schedule("evening", [](const json&) { return true; })["enabled"], false);
    ASSERT_FALSE(schedule("witness", ranBy("2026-06-01T20:00:00Z")).is_null());
    const json evening = schedule("evening", [](const json&) { return true; });
    EXPECT_EQ(evening["last_run"]["trigger"], "manual") << evening;
    EXPECT_TRUE(evening["next_run"].is_null());
    EXPECT_EQ(emulator_->power(0), PowerState::Off);
    EXPECT_EQ(emulator_->power(1), PowerState::On);
}

}  // namespace
