// The alert engine through the real zolvaned: emulated projectors on loopback, the alerts as
// GET /api/alerts shows them and the journal notifier's lines in the service's log.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "projector_emulator/emulator.h"
#include "service_process.h"
#include "zolvane_fleet/watched.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using zolvane::emulator::PowerState;

constexpr const char* kToken = "s3cret-token";

class Alerting : public ::testing::Test {
protected:
    void SetUp() override {
        zolvane::emulator::Options options;
        options.count = 2;
        options.initialPower = PowerState::Off;
        emulator_ = std::make_unique<zolvane::emulator::Emulator>(options);
        ASSERT_TRUE(emulator_->start());
        folder_ =
            ::mkdtemp((std::filesystem::temp_directory_path() / "zolvaned-XXXXXX").string().data());
        std::ofstream(folder_ / "token") << kToken << "\n";
    }

    void TearDown() override {
        stopService();
        std::filesystem::remove_all(folder_);
    }

    // p0 and p1 polled fast, a journal notifier, a schedule "evening" on p0, and the rules.
    void startService(const std::string& rules, const std::string& clock) {
        std::string text =
            "[service]\ntoken_file = \"" + (folder_ / "token").string() +
            "\"\ntimezone = \"Europe/Berlin\"\ndatabase = \"" + (folder_ / "h.sqlite").string() +
            "\"\n[defaults]\npoll_interval_ms = 200\nslow_poll_interval_ms = 200\n"
            "connect_timeout_ms = 300\nreceive_timeout_ms = 300\noffline_after = 2\n";
        for (std::size_t i = 0; i < 2; ++i) {
            text += "[[projector]]\nname = \"p" + std::to_string(i) +
                    "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(emulator_->tcpPort(i)) +
                    "\"\n";
        }
        text +=
            "[[schedule]]\nname = \"evening\"\ntargets = [\"p0\"]\nat = \"12:00\"\n"
            "command = { command = \"power\", value = \"on\" }\n"
            "[[notifier]]\nname = \"journal\"\nkind = \"journal\"\n" +
            rules;
        std::ofstream(folder_ / "inventory.toml") << text;
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
        service_.reset();
    }

    // The rule's latest alert on the subject once it satisfies `until`; null after 20 s.
    json alert(const std::string& rule, const std::string& subject,
               const std::function<bool(const json&)>& until) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        json found;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto answer = client_->Get("/api/alerts");
            found = nullptr;
            for (const json& a : json::parse(answer ? answer->body : "{}", nullptr, false)
                                     .value("alerts", json::array())) {
                if (a["rule"] == rule && (a["projector"] == subject || a["schedule"] == subject) &&
                    (found.is_null() || a["id"] > found["id"])) {
                    found = a;
                }
            }
            if (!found.is_null() && until(found)) return found;
            std::this_thread::sleep_for(100ms);
        }
        ADD_FAILURE() << rule << " on " << subject << ": " << found << "\n" << service_->log();
        return nullptr;
    }

    httplib::Result post(const std::string& path) {
        return client_->Post(path.c_str(), {{"Authorization", std::string("Bearer ") + kToken}}, "",
                             "application/json");
    }

    std::unique_ptr<zolvane::emulator::Emulator> emulator_;
    std::filesystem::path folder_;
    std::unique_ptr<service_testing::ServiceProcess> service_;
    std::unique_ptr<httplib::Client> client_;
};

const auto in = [](std::string s) { return [s](const json& a) { return a["state"] == s; }; };

TEST_F(Alerting, FiresEscalatesAndResolvesAsTheProjectorsChange) {
    const std::uint16_t lamp = zolvane::fleet::watchedByKey("lamp_hours")->type();
    const std::uint16_t power = zolvane::fleet::watchedByKey("power")->type();
    emulator_->setValue(lamp, 100, 0);
    startService(
        "[[alert]]\nname = \"gone\"\nkind = \"offline\"\ntargets = [\"p1\"]\nfor_minutes = 0\n"
        "notifiers = [\"journal\"]\n[[alert]]\nname = \"lamp\"\nkind = \"lamp_hours\"\n"
        "targets = [\"@all\"]\nwarning = 2800\ncritical = 3000\nnotifiers = [\"journal\"]\n"
        "[[alert]]\nname = \"sched\"\nkind = \"schedule_failed\"\nnotifiers = [\"journal\"]\n",
        "2026-06-01T08:00:00Z");
    zolvane::emulator::FaultConfig silent;
    silent.kind = zolvane::emulator::FaultKind::NoReply;
    const auto run = [&](bool refused) {  // the schedule by hand, the switch refused or not
        emulator_->refuseSet(power, refused, 0);
        EXPECT_EQ(post("/api/schedules/evening/run")->status, refused ? 502 : 200);
    };
    struct Row {
        std::function<void()> change;
        std::string rule, subject, state, severity, sentence, journal;
    };
    const Row rows[] = {
        {[&] { emulator_->setValue(lamp, 2810, 0); }, "lamp", "p0", "firing", "warning",
         "p0: lamp time 2810 h, at or past the warning level of 2800 h", "FIRING warning: p0 lamp"},
        {[&] { emulator_->setValue(lamp, 3005, 0); }, "lamp", "p0", "firing", "critical",
         "p0: lamp time 3005 h, at or past the critical level of 3000 h",
         "ESCALATED critical: p0 lamp"},
        {[&] { emulator_->setValue(lamp, 5, 0); }, "lamp", "p0", "resolved", "critical",
         "p0: lamp time 5 h, below the warning level of 2800 h", "RESOLVED critical: p0 lamp"},
        {[&] { emulator_->setFault(silent, 1); }, "gone", "p1", "firing", "warning",
         "p1 is offline: ", "FIRING warning: p1 gone"},
        {[&] { emulator_->clearFault(1); }, "gone", "p1", "resolved", "warning",
         "p1 is back online", "RESOLVED warning: p1 gone"},
        {[&] { run(true); }, "sched", "evening", "firing", "warning",
         "schedule evening did not reach p0: ", "FIRING warning: evening sched"},
        {[&] { run(false); }, "sched", "evening", "resolved", "warning",
         "schedule evening reached every projector", "RESOLVED warning: evening sched"},
    };
    json first;
    for (const Row& row : rows) {
        row.change();
        const json a = alert(row.rule, row.subject, [&](const json& a) {
            return a["state"] == row.state && a["severity"] == row.severity &&
                   a["sentence"].get<std::string>().starts_with(row.sentence);
        });
        ASSERT_FALSE(a.is_null()) << row.journal;
        EXPECT_TRUE(service_->waitForLog(row.journal, 20s)) << row.journal;
        if (row.rule == "lamp") {
            first = first.is_null() ? a : first;
            EXPECT_EQ(a["id"], first["id"]) << "one alert, escalated";
        }
    }
}

TEST_F(Alerting, LeftOnAcknowledgedAndTakenUpAcrossRestarts) {
    const std::string rules =
        "[[alert]]\nname = \"late\"\nkind = \"left_on\"\ntargets = [\"@all\"]\n"
        "after = \"22:00\"\nbefore = \"06:00\"\nnotifiers = [\"journal\"]\n";
    emulator_->setPower(PowerState::On, 0);
    emulator_->setPower(PowerState::On, 1);
    startService(rules, "2026-06-01T20:30:00Z");  // 22:30 in Berlin
    json p0 = alert("late", "p0", in("firing"));
    json p1 = alert("late", "p1", in("firing"));
    EXPECT_EQ(p0["sentence"], "p0 is on at 22:30, between 22:00 and 06:00");
    const auto ack = [](const json& a) { return "/api/alerts/" + a["id"].dump() + "/ack"; };
    struct Call {
        std::string path;
        int status;
        std::string error;  // empty: acknowledged
    };
    const Call calls[] = {
        {ack(p0), 200, ""},
        {ack(p0), 200, ""},
        {"/api/alerts/abc/ack", 404, "no alert abc"},
        {"/api/alerts/99999999999999999999/ack", 404, "no alert 99999999999999999999"},
        {"/api/alerts/9999/ack", 404, "no alert 9999"}};
    for (const Call& call : calls) {
        const auto answer = post(call.path);
        ASSERT_TRUE(answer) << call.path;
        EXPECT_EQ(answer->status, call.status) << call.path << " " << answer->body;
        const json body = json::parse(answer->body);
        EXPECT_EQ(body.value("error", ""), call.error);
        if (call.error.empty()) {
            EXPECT_EQ(body["alert"]["state"], "acknowledged") << body;
            EXPECT_EQ(body["alert"]["acknowledged_by"], "token") << body;
        }
    }
    EXPECT_EQ(service_->log().find("ACKNOWLEDGED"), std::string::npos) << "a broker's only";
    stopService();

    // Restarted: both taken up as they were, neither told again.
    startService(rules, "2026-06-01T20:31:00Z");
    EXPECT_EQ(alert("late", "p0", in("acknowledged"))["id"], p0["id"]);
    EXPECT_EQ(alert("late", "p1", in("firing"))["id"], p1["id"]);
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(service_->log().find("FIRING"), std::string::npos) << service_->log();
    stopService();

    // p1 switched off while the service was down: resolved at once, then no longer acknowledged.
    emulator_->setPower(PowerState::Off, 1);
    startService(rules, "2026-06-01T20:32:00Z");
    EXPECT_EQ(alert("late", "p1", in("resolved"))["sentence"], "p1 is no longer on");
    const auto late = post(ack(p1));
    EXPECT_EQ(late->status, 409) << late->body;
    EXPECT_EQ(json::parse(late->body)["error"], "alert " + p1["id"].dump() + " is resolved");
}

}  // namespace
