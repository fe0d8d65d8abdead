// The page's history, usage and schedules views in a real headless Chromium, against the real
// zolvaned keeping its history in a SQLite file, with two emulated projectors and one schedule.
// What the page shows is compared with what the service's API answers, and every click is read
// back from the API and the emulator.
#include <gtest/gtest.h>
#include <projector_emulator/emulator.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "webdriver.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using web_testing::eventually;
using web_testing::WebDriver;
using zolvane::emulator::Emulator;
using zolvane::emulator::PowerState;

constexpr std::uint16_t kPower = 0x6000;
constexpr const char* kToken = "history-token-51c2";

// p1 in group "east", p2 in none; the schedule switches both off.
class HistorySite {
public:
    HistorySite()
        : emulator_([] {
              zolvane::emulator::Options options;
              options.count = 2;
              options.coolingTime = 300ms;
              return options;
          }()) {}
    ~HistorySite() {
        browser_.reset();
        driver_.reset();
        service_.reset();
        emulator_.stop();
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    // Empty when everything started, else why not.
    std::string start() {
        char pattern[] = "/tmp/zolvane-history-web-XXXXXX";
        if (!::mkdtemp(pattern)) return "no temporary folder";
        dir_ = pattern;
        std::string error;
        if (!emulator_.start(&error)) return "the emulator did not start: " + error;
        std::ofstream(dir_ / "token") << kToken << "\n";
        port_ = cli_testing::FreePort();
        std::ofstream file(dir_ / "inventory.toml");
        file << "[service]\nlisten = \"127.0.0.1:" << port_ << "\"\ntoken_file = \""
             << (dir_ / "token").string() << "\"\ndatabase = \""
             << (dir_ / "history.sqlite").string() << "\"\n\n"
             << "[defaults]\npoll_interval_ms = 300\nreceive_timeout_ms = 400\n";
        for (std::size_t i = 0; i < 2; ++i) {
            file << "\n[[projector]]\nname = \"p" << i + 1
                 << "\"\naddress = \"tcp://127.0.0.1:" << emulator_.tcpPort(i)
                 << "\"\ngroups = " << (i == 0 ? "[\"east\"]" : "[]") << "\n";
        }
        file << "\n[[schedule]]\nname = \"evening-off\"\ntargets = [\"@all\"]\ndays = \"daily\"\n"
             << "at = \"22:00\"\ncommand = { command = \"power\", value = \"off\" }\n";
        file.close();
        service_ = std::make_unique<cli_testing::Background>(
            std::vector<std::string>{ZOLVANED, "--inventory", (dir_ / "inventory.toml").string()});
        // Both seen once, so that the history holds their power from the start.
        const auto online = [&] {
            const auto [status, body] = call("GET", "/api/projectors");
            if (status != 200) return false;
            for (const json& projector : body["projectors"]) {
                if (projector["reach"] != "online") return false;
            }
            return true;
        };
        if (!eventually(online)) return "zolvaned did not answer or its projectors are offline";
        return web_testing::startBrowser((dir_ / "profile").string(), driver_, browser_);
    }

    // The API's status and JSON answer (null when not JSON); writes carry the token.
    std::pair<int, json> call(const std::string& method, const std::string& path,
                              const json& body = nullptr) {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(30s);
        const httplib::Headers headers = {{"Authorization", std::string("Bearer ") + kToken}};
        const auto answer =
            method == "GET"   ? client.Get(path.c_str())
            : method == "PUT" ? client.Put(path.c_str(), headers, body.dump(), "application/json")
                              : client.Post(path.c_str(), headers, body.dump(), "application/json");
        if (!answer) return {0, nullptr};
        return {answer->status, json::parse(answer->body, nullptr, false)};
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    WebDriver& browser() { return *browser_; }
    Emulator& emulator() { return emulator_; }

private:
    Emulator emulator_;
    std::filesystem::path dir_;
    int port_ = 0;
    std::unique_ptr<cli_testing::Background> service_;
    std::unique_ptr<cli_testing::Background> driver_;
    std::unique_ptr<WebDriver> browser_;
};

// Started by the first test that needs it, so that the page's other tests run without it, and
// shared by the rest; it goes as the program ends.
std::unique_ptr<HistorySite> site_;
std::string failure_;

WebDriver& browser() { return site_->browser(); }

class HistoryPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access(ZOLVANE_CHROMIUM, X_OK) != 0 || ::access(ZOLVANE_CHROMEDRIVER, X_OK) != 0)
            GTEST_SKIP() << "chromium or chromedriver is not installed";
        if (!site_) {
            site_ = std::make_unique<HistorySite>();
            failure_ = site_->start();
        }
        ASSERT_TRUE(failure_.empty()) << failure_;
        for (std::size_t i = 0; i < 2; ++i) {
            site_->emulator().refuseSet(kPower, false, i);
            site_->emulator().setPower(PowerState::On, i);
        }
        ASSERT_EQ(site_->call("PUT", "/api/schedules/evening-off", {{"enabled", true}}).first, 200);
        ASSERT_TRUE(eventually([] {
            const json list = site_->call("GET", "/api/projectors").second;
            return list.is_object() &&
                   std::all_of(list["projectors"].begin(), list["projectors"].end(),
                               [](const json& p) { return p["state"]["power"]["value"] == 1; });
        })) << "the projectors did not come on";
        // ... and the history has written it (it writes once a second), which the charts draw.
        ASSERT_TRUE(eventually([] {
            const json history = site_->call("GET", "/api/projectors/p1/history").second;
            if (!history.is_object() || !history["changes"].is_array()) return false;
            for (const json& change : history["changes"]) {
                if (change["key"] == "power" && change["value"] == 1) return true;
            }
            return false;
        })) << "the history did not record p1 on";
        ASSERT_TRUE(browser().setWindowSize(1280, 900));
        ASSERT_TRUE(browser().navigate(site_->url()));
        browser().execute("localStorage.setItem('zolvaned-token', arguments[0])", {kToken});
    }

    // Opens the page at the view and waits until css matches something in it.
    static bool open(const std::string& hash, const std::string& css) {
        browser().navigate(site_->url() + hash);
        return eventually([&] { return !browser().findAll(css).empty(); });
    }

    static void click(const std::string& css) {
        const auto element = browser().find(css);
        ASSERT_TRUE(element) << "nothing on the page matches " << css;
        ASSERT_TRUE(browser().click(*element)) << css << ": " << browser().lastError();
    }
};

// ---------------------------------------------------------------------------------------------
// Each view draws what the service answers for it.

struct View {
    const char* name;
    const char* hash;
    const char* ready;  // present once the view has drawn
    std::function<void()> check;
};

void PrintTo(const View& row, std::ostream* os) { *os << row.name; }

class Views : public HistoryPageTest, public ::testing::WithParamInterface<View> {};

TEST_P(Views, DrawWhatTheServiceAnswers) {
    ASSERT_TRUE(open(GetParam().hash, GetParam().ready))
        << GetParam().ready << " did not appear: "
        << browser().execute("return document.querySelector('main:not([hidden])').innerText");
    GetParam().check();
}

// The page's rows of the usage table against the report the API gives for the page's query,
// which the CSV link carries.
void expectUsageTable(std::size_t rows) {
    const std::string href =
        browser().execute("return document.getElementById('usage-csv').getAttribute('href')");
    std::string origin = site_->url();
    origin.pop_back();  // the '/' the path begins with
    const auto csv = httplib::Client(origin).Get(href);
    ASSERT_TRUE(csv);
    EXPECT_EQ(csv->status, 200);
    EXPECT_EQ(csv->get_header_value("Content-Disposition").rfind("attachment", 0), 0u);
    const std::string query = href.substr(0, href.find("&format=csv"));
    const json report = site_->call("GET", query).second;
    ASSERT_EQ(report["projectors"].size(), rows) << report.dump();
    const json shown = browser().execute(R"(return [...document.querySelectorAll(
        '#usage-view [data-table="usage"] tbody tr')].map((r) => [...r.cells].map((c) => c.textContent));)");
    ASSERT_EQ(shown.size(), rows) << shown.dump();
    EXPECT_EQ(browser().findAll("#usage-view [data-chart=usage] rect.bar").size(), rows);
    for (std::size_t i = 0; i < rows; ++i) {
        const json& row = report["projectors"][i];
        char on[32];
        std::snprintf(on, sizeof on, "%.1f", row["hours_on"].get<double>());
        EXPECT_EQ(shown[i][0], row["name"]);
        EXPECT_EQ(shown[i][1], on);
        EXPECT_EQ(shown[i][2], std::to_string(row["power_ons"].get<int>()));
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Page, Views, ::testing::Values(
    View{"PowerBand", "#/history/p1", "#history-view [data-chart=power] rect.piece", [] {
        // The pieces fill the band, and the last is the projector on now.
        const json band = browser().execute(R"(
            const pieces = [...document.querySelectorAll('[data-chart=power] rect.piece')];
            return {width: pieces.reduce((sum, p) => sum + p.width.baseVal.value, 0),
                    box: document.querySelector('[data-chart=power] svg').width.baseVal.value,
                    last: pieces[pieces.length - 1].dataset.kind};)");
        EXPECT_NEAR(band["width"].get<double>(), band["box"].get<double>(), 8) << band.dump();
        EXPECT_EQ(band["last"], "on");
    }},
    View{"LampLine", "#/history/p2", "#history-view [data-chart=lamp] path.line", [] {
        const std::string d = browser().attribute(*browser().find("[data-chart=lamp] path.line"), "d");
        EXPECT_NE(d.find('L'), std::string::npos) << d;
    }},
    View{"Schedule", "#/schedules", "[data-schedule=evening-off] [data-field=next]", [] {
        const auto field = [](const std::string& key) {
            return browser().texts("[data-schedule=evening-off] [data-field=" + key + "]").at(0);
        };
        EXPECT_EQ(field("targets"), "@all");
        EXPECT_EQ(field("days"), "Every day");
        EXPECT_EQ(field("at"), "22:00");
        EXPECT_EQ(field("command"), "power off");
        EXPECT_NE(field("next"), "Never");
    }},
    View{"UsageOfAll", "#/usage", "#usage-view [data-table=usage] tbody tr", [] { expectUsageTable(2); }},
    View{"UsageOfAGroup", "#/usage?group=east", "#usage-view [data-table=usage] tbody tr", [] {
        expectUsageTable(1);
    }}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A command sent through the API is in the projector's list, reached from its card, and Back
// returns to the cards.
TEST_F(HistoryPageTest, ListsACommandAndGoesBack) {
    const json video = {{"command", "input"}, {"value", "Video"}};
    ASSERT_EQ(site_->call("POST", "/api/projectors/p1/commands", video).first, 200);
    // The history is written once a second; the page reads it when the view opens.
    ASSERT_TRUE(eventually([&] {
        const auto answer = site_->call("GET", "/api/projectors/p1/history?kind=commands");
        return answer.second.dump().find("\"InputSource\"") != std::string::npos;
    }));
    ASSERT_TRUE(open("", "[data-projector=p1] [data-action=history]"));
    ASSERT_NO_FATAL_FAILURE(click("[data-projector=p1] [data-action=history]"));
    const std::string rows = "#history-view [data-table=commands] tbody tr";
    EXPECT_TRUE(eventually([&] {
        for (const std::string& row : browser().texts(rows))
            if (row.find("Video") != std::string::npos && row.find("http") != std::string::npos &&
                row.find("Done") != std::string::npos)
                return true;
        return false;
    })) << ::testing::PrintToString(browser().texts(rows));
    EXPECT_EQ(browser().execute("return location.hash"), "#/history/p1");
    browser().execute("history.back()");
    EXPECT_TRUE(eventually([] {
        return browser().execute("return document.getElementById('fleet').hidden") == false;
    }));
}

// ---------------------------------------------------------------------------------------------
// The schedule's buttons reach the service, and the page tells the outcome in words.

struct ScheduleClick {
    const char* name;
    std::function<void(Emulator&)> prepare;
    const char* button;
    std::function<bool(const json&)> done;  // of the schedule's entry in GET /api/schedules
    const char* message;
};

void PrintTo(const ScheduleClick& row, std::ostream* os) { *os << row.name; }

class ScheduleClicks : public HistoryPageTest,
                       public ::testing::WithParamInterface<ScheduleClick> {};

TEST_P(ScheduleClicks, ReachTheService) {
    const ScheduleClick& row = GetParam();
    if (row.prepare) row.prepare(site_->emulator());
    ASSERT_TRUE(open("#/schedules", "[data-schedule=evening-off][data-enabled=true]"));
    ASSERT_NO_FATAL_FAILURE(click(std::string("[data-schedule=evening-off] ") + row.button));
    EXPECT_TRUE(eventually([&] {
        const json list = site_->call("GET", "/api/schedules").second;
        return list.is_object() && row.done(list["schedules"][0]);
    })) << site_->call("GET", "/api/schedules").second.dump();
    if (row.button == std::string("[data-action=run]")) {
        EXPECT_NE(site_->emulator().value(kPower, 0), 1) << "p1 is still on";
    }
    const std::string css = "[data-schedule=evening-off] [data-role=message]";
    EXPECT_TRUE(eventually([&] {
        return browser().texts(css).at(0).find(row.message) != std::string::npos;
    })) << browser().texts(css).at(0);
}

// The last run by hand, with each target's outcome as listed.
auto ranByHand(std::vector<bool> outcomes) {
    return [outcomes](const json& entry) {
        const json& run = entry["last_run"];
        if (!run.is_object() || run["trigger"] != "manual") return false;
        std::vector<bool> ok;
        for (const json& result : run["results"]) ok.push_back(result["ok"] == true);
        return ok == outcomes;
    };
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Page, ScheduleClicks, ::testing::Values(
    ScheduleClick{"RunNow", {}, "[data-action=run]", ranByHand({true, true}), "Run now: done for 2"},
    ScheduleClick{"RunNowRefused", [](Emulator& e) { e.refuseSet(kPower, true, 1); }, "[data-action=run]",
                  ranByHand({true, false}), "Run now: 1 of 2 failed — p2 failed: "},
    ScheduleClick{"SwitchOff", {}, "[data-action=enabled]",
                  [](const json& entry) { return entry["enabled"] == false; }, "Switched off"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
