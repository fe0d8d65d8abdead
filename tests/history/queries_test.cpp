// The history as the administrator reads it back: commands given to the real zolvaned over HTTP,
// a real broker and PJLink, one projector gone silent, the service stopped and started again six
// hours later on its test clock; then its projector history, audit log and usage report over
// HTTP, as JSON and as CSV, and what each refuses.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using service_testing::ServiceProcess;
using zolvane::emulator::Emulator;
namespace fs = std::filesystem;

constexpr const char* kToken = "s3cret-token";

// RFC 4180 read back: quoted fields, doubled quotes, CRLF after every row.
std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            rows.back().back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            rows.back().emplace_back();
        } else if (!quoted && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.emplace_back(1);
            ++i;
        } else {
            rows.back().back() += c;
        }
    }
    rows.pop_back();  // after the last CRLF
    return rows;
}

std::string text(const json& value) {
    if (value.is_null()) return "";
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_float()) {
        char number[32];
        std::snprintf(number, sizeof number, "%.2f", value.get<double>());
        return number;
    }
    return value.dump();
}

// One site for the whole run: it takes half a minute to build a history worth reading.
class Site {
public:
    Site() {
        std::string pattern = (fs::temp_directory_path() / "zolvaned-readings-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);  // mosquitto reads as its user
        brokerPort_ = service_testing::freePort();
        std::ofstream(folder_ / "mosquitto.conf")
            << "listener " << brokerPort_ << " 127.0.0.1\nallow_anonymous true\n";
        broker_ = std::make_unique<ServiceProcess>(std::vector<std::string>{
            "/usr/sbin/mosquitto", "-c", (folder_ / "mosquitto.conf").string()});
        EXPECT_TRUE(broker_->waitForLog("running", 10s)) << broker_->log();

        zolvane::emulator::Options options;
        options.count = 3;
        options.initialPower = zolvane::emulator::PowerState::Off;
        options.coolingTime = 300ms;
        emulator_ = std::make_unique<Emulator>(options);
        EXPECT_TRUE(emulator_->start());
        std::ofstream(folder_ / "token") << kToken << "\n";
        pjlinkPort_ = service_testing::freePort();
        std::string inventory =
            "[service]\ntoken_file = \"" + (folder_ / "token").string() + "\"\ndatabase = \"" +
            (folder_ / "history.sqlite").string() +
            "\"\ntimezone = \"Europe/Berlin\"\n\n[mqtt]\nhost = \"127.0.0.1\"\nport = " +
            std::to_string(brokerPort_) +
            "\nsite = \"t\"\n\n[defaults]\npoll_interval_ms = 200\nslow_poll_interval_ms = 500\n"
            "connect_timeout_ms = 300\nreceive_timeout_ms = 300\noffline_after = 2\n";
        const char* groups[] = {"[\"halls\"]", "[\"halls\"]", "[\"lobby\"]"};
        for (std::size_t i = 0; i < 3; ++i) {
            inventory +=
                "\n[[projector]]\nname = \"p" + std::to_string(i) +
                "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(emulator_->tcpPort(i)) +
                "\"\ngroups = " + groups[i] + "\n";
        }
        inventory += "pjlink_port = " + std::to_string(pjlinkPort_) + "\n";  // p2's
        std::ofstream(folder_ / "inventory.toml") << inventory;
    }
    ~Site() {
        stop();
        broker_->signal(SIGTERM);
        broker_->wait(10s);
        fs::remove_all(folder_);
    }

    void start(const char* clock) {
        service_ = std::make_unique<ServiceProcess>(
            std::vector<std::string>{ZOLVANED, "--inventory", (folder_ / "inventory.toml").string(),
                                     "--listen", "127.0.0.1:0", "--test-clock", clock});
        // The API's own line: the PJLink gateway's "listening on" comes before it.
        const std::string listening = "<6>listening on 127.0.0.1:";
        ASSERT_TRUE(service_->waitForLog(listening, 10s)) << service_->log();
        const std::string log = service_->log();
        client_ = std::make_unique<httplib::Client>(
            "127.0.0.1", std::atoi(log.c_str() + log.find(listening) + listening.size()));
        client_->set_read_timeout(30s);
        ASSERT_TRUE(service_->waitForLog("mqtt: connected", 10s)) << service_->log();
        ASSERT_TRUE(service_->waitForLog("pjlink p2: listening", 10s)) << service_->log();
        for (const char* name : {"p0", "p1", "p2"}) {
            ASSERT_TRUE(waitFor(name, "/reach", "online")) << name << service_->log();
        }
    }
    void stop() {
        if (!service_) return;
        service_->signal(SIGTERM);
        EXPECT_EQ(service_->wait(30s), 0) << service_->log();
        EXPECT_EQ(service_->log().find("Sanitizer"), std::string::npos) << service_->log();
        service_.reset();
    }

    httplib::Result get(const std::string& path) { return client_->Get(path.c_str()); }
    json getJson(const std::string& path) {
        const auto answer = get(path);
        EXPECT_TRUE(answer && answer->status == 200)
            << path << ": " << (answer ? answer->body : "");
        return answer ? json::parse(answer->body, nullptr, false) : json();
    }
    int command(const std::string& projector, const std::string& body) {
        const auto answer = client_->Post(("/api/projectors/" + projector + "/commands").c_str(),
                                          {{"Authorization", std::string("Bearer ") + kToken}},
                                          body, "application/json");
        return answer ? answer->status : 0;
    }
    void publish(const std::string& topic, const std::string& payload) {
        const std::string line = "mosquitto_pub -h 127.0.0.1 -p " + std::to_string(brokerPort_) +
                                 " -q 1 -t '" + topic + "' -m '" + payload + "'";
        EXPECT_EQ(std::system(line.c_str()), 0) << line;
    }
    // One PJLink line to p2's gateway after its greeting, and its reply without the CR.
    std::string pjlink(const std::string& line) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(pjlinkPort_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const auto next = [fd] {
            std::string got;
            char c = 0;
            for (pollfd ready{fd, POLLIN, 0}; ::poll(&ready, 1, 10000) > 0;) {
                if (::recv(fd, &c, 1, 0) != 1 || c == '\r') break;
                got += c;
            }
            return got;
        };
        std::string reply;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            next() == "PJLINK 0") {
            ::send(fd, (line + "\r").data(), line.size() + 1, MSG_NOSIGNAL);
            reply = next();
        }
        ::close(fd);
        return reply;
    }
    // Until the projector's state has value at pointer ("/reach", "/state/power/value").
    bool waitFor(const std::string& projector, const char* pointer, const json& value) {
        for (const auto deadline = std::chrono::steady_clock::now() + 20s;
             std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
            const auto answer = get("/api/projectors/" + projector);
            if (!answer) continue;
            const json state = json::parse(answer->body, nullptr, false);
            if (state.value(json::json_pointer(pointer), json()) == value) return true;
        }
        return false;
    }

    std::unique_ptr<Emulator> emulator_;

private:
    fs::path folder_;
    int brokerPort_ = 0;
    int pjlinkPort_ = 0;
    std::unique_ptr<ServiceProcess> broker_;
    std::unique_ptr<ServiceProcess> service_;
    std::unique_ptr<httplib::Client> client_;
};

// Morning on the test clock: p0 switched on over HTTP, p1 over MQTT, p2 blanked over PJLink and
// then silent (a blank asked of it over MQTT fails); six hours later, the service started again.
class Readings : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        site_ = new Site;
        site_->start("2026-12-01T09:00:00Z");
        ASSERT_EQ(site_->command("p0", R"({"command": "power", "value": "on"})"), 200);
        site_->publish("zolvane/t/projector/p1/set/Power", "on");
        ASSERT_TRUE(site_->waitFor("p1", "/state/power/value", 1));
        ASSERT_EQ(site_->command("p2", R"({"command": "power", "value": "on"})"), 200);
        ASSERT_EQ(site_->pjlink("%1AVMT 11"), "%1AVMT=OK");
        zolvane::emulator::FaultConfig silent;
        silent.kind = zolvane::emulator::FaultKind::NoReply;
        site_->emulator_->setFault(silent, 2);
        ASSERT_TRUE(site_->waitFor("p2", "/reach", "offline"));
        site_->publish("zolvane/t/projector/p2/set/Blank", "off");
        for (int i = 0; i < 400 && site_->getJson("/api/log")["entries"].size() < 5; ++i) {
            std::this_thread::sleep_for(50ms);
        }
        site_->stop();
        site_->emulator_->setFault({}, 2);
        site_->start("2026-12-01T15:00:00Z");
        // The history is written once a second: wait until p2's return is in it.
        const auto returned = [] {
            const json reach = site_->getJson(
                "/api/projectors/p2/history?from=2026-12-01&to=2026-12-02&kind=reachability");
            return !reach["reachability"].empty() &&
                   reach["reachability"].back()["reach"] == "online";
        };
        for (int i = 0; i < 400 && !returned(); ++i) std::this_thread::sleep_for(50ms);
    }
    static void TearDownTestSuite() { delete site_; }

    static Site* site_;
};
Site* Readings::site_ = nullptr;

TEST_F(Readings, UsageReportCountsHoursSwitchesOutagesAndCommands) {
    // Days are midnights in Berlin, an hour before UTC's.
    const json usage = site_->getJson("/api/reports/usage?from=2026-12-01&to=2026-12-02");
    EXPECT_EQ(usage["from"], "2026-11-30T23:00:00Z");
    EXPECT_EQ(usage["to"], "2026-12-01T23:00:00Z");
    ASSERT_EQ(usage["projectors"].size(), 3u);
    const json& p0 = usage["projectors"][0];
    const json& p1 = usage["projectors"][1];
    const json& p2 = usage["projectors"][2];
    EXPECT_EQ(p0["name"], "p0");
    // On from a moment after nine until the restart and on after it: six hours and seconds.
    for (const json* on : {&p0, &p1, &p2}) {
        EXPECT_GE((*on)["hours_on"].get<double>(), 5.9) << *on;
        EXPECT_LE((*on)["hours_on"].get<double>(), 6.2) << *on;
        EXPECT_EQ((*on)["power_ons"], 1) << *on;
        EXPECT_FALSE((*on)["lamp_hours_start"].is_null()) << *on;
        EXPECT_GE((*on)["lamp_hours_end"], (*on)["lamp_hours_start"]) << *on;
    }
    EXPECT_EQ(p0["hours_offline"], 0.0);
    EXPECT_GE(p2["hours_offline"].get<double>(), 5.9) << p2;
    EXPECT_EQ(p0["commands"], json({{"http", 1}, {"mqtt", 0}, {"pjlink", 0}, {"schedule", 0}}));
    EXPECT_EQ(p1["commands"], json({{"http", 0}, {"mqtt", 1}, {"pjlink", 0}, {"schedule", 0}}));
    EXPECT_EQ(p2["commands"], json({{"http", 1}, {"mqtt", 1}, {"pjlink", 1}, {"schedule", 0}}));

    // A '+' typed into the address reads as a space, and is taken for the offset's.
    EXPECT_EQ(site_->getJson(
                  "/api/reports/usage?from=2026-12-01T00:00:00+01:00&to=2026-12-02")["projectors"],
              usage["projectors"]);

    const json halls = site_->getJson("/api/reports/usage?group=halls");
    ASSERT_EQ(halls["projectors"].size(), 2u);
    EXPECT_EQ(halls["projectors"][1]["name"], "p1");

    const auto csv = site_->get("/api/reports/usage?from=2026-12-01&to=2026-12-02&format=csv");
    ASSERT_TRUE(csv && csv->status == 200);
    EXPECT_EQ(csv->get_header_value("Content-Disposition"),
              "attachment; filename=\"usage-2026-12-01-2026-12-02.csv\"");
    const auto rows = parseCsv(csv->body);
    ASSERT_EQ(rows.size(), 4u) << csv->body;
    EXPECT_EQ(rows[0][0], "name");
    for (std::size_t i = 0; i < 3; ++i) {
        const json& p = usage["projectors"][i];
        const std::vector<std::string> expected{text(p["name"]),
                                                text(p["hours_on"]),
                                                text(p["power_ons"]),
                                                text(p["hours_offline"]),
                                                text(p["lamp_hours_start"]),
                                                text(p["lamp_hours_end"]),
                                                text(p["commands"]["http"]),
                                                text(p["commands"]["mqtt"]),
                                                text(p["commands"]["pjlink"]),
                                                text(p["commands"]["schedule"])};
        EXPECT_EQ(rows[i + 1], expected);
    }
}

TEST_F(Readings, ProjectorHistoryHoldsChangesReachAndCommandsOldestFirst) {
    const json day = site_->getJson("/api/projectors/p2/history?from=2026-12-01&to=2026-12-02");
    EXPECT_EQ(day["projector"], "p2");
    EXPECT_EQ(day["at_start"], json::object());  // nothing was known before the service began
    bool on = false;
    for (const json& change : day["changes"]) {
        on |= change["key"] == "power" && change["value"] == 1 && change["name"] == "on";
    }
    EXPECT_TRUE(on) << day["changes"];
    // Each start may first tell "unknown", before its first poll is answered.
    std::vector<std::string> reach;
    for (const json& row : day["reachability"]) {
        if (row["reach"] == "unknown") continue;
        reach.push_back(row["reach"]);
        if (row["reach"] == "offline") {
            EXPECT_NE(row["reason"], "");
        }
    }
    EXPECT_EQ(reach, (std::vector<std::string>{"online", "offline", "online"}));
    const json& commands = day["commands"];
    ASSERT_EQ(commands.size(), 3u) << commands;
    EXPECT_EQ(commands[0]["source"], "http");
    EXPECT_EQ(commands[0]["setting"], "Power");
    EXPECT_EQ(commands[0]["value"], 1);
    EXPECT_EQ(commands[1]["source"], "pjlink");
    EXPECT_EQ(commands[1]["ok"], true);
    EXPECT_EQ(commands[2]["source"], "mqtt");
    EXPECT_EQ(commands[2]["who"], "zolvane/t/projector/p2/set/Blank");
    EXPECT_EQ(commands[2]["ok"], false);
    EXPECT_NE(commands[2]["result"], "");
    for (const char* kind : {"changes", "reachability", "commands"}) {
        for (std::size_t i = 1; i < day[kind].size(); ++i) {
            EXPECT_LE(day[kind][i - 1]["time"], day[kind][i]["time"]) << kind;
        }
    }

    // Noon, during the outage: the state it started from, and only what came after.
    const json noon = site_->getJson(
        "/api/projectors/p2/history?from=2026-12-01T12:00:00Z&to=2026-12-01T23:00:00Z&kind="
        "reachability,changes");
    EXPECT_EQ(noon["at_start"]["reach"], "offline");
    EXPECT_EQ(noon["at_start"]["power"], 1);
    ASSERT_FALSE(noon["reachability"].empty());
    EXPECT_EQ(noon["reachability"].back()["reach"], "online");
    EXPECT_FALSE(noon.contains("commands"));

    const auto csv = site_->get("/api/projectors/p2/history?from=2026-12-01&format=csv");
    ASSERT_TRUE(csv && csv->status == 200);
    const auto rows = parseCsv(csv->body);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "kind", "key", "value", "name", "source",
                                                 "who", "operation", "setting", "ok", "result"}));
    std::map<std::string, std::size_t> kinds;
    for (std::size_t i = 1; i < rows.size(); ++i) ++kinds[rows[i][1]];
    EXPECT_EQ(kinds["change"], day["changes"].size());
    EXPECT_EQ(kinds["reachability"], day["reachability"].size());
    EXPECT_EQ(kinds["command"], day["commands"].size());
}

TEST_F(Readings, AuditLogFiltersPagesNewestFirstAndDownloadsAll) {
    const json all = site_->getJson("/api/log?from=2026-12-01&per_page=1000");
    const json& entries = all["entries"];
    ASSERT_EQ(entries.size(), 5u) << all;
    EXPECT_EQ(all["more"], false);
    for (std::size_t i = 1; i < entries.size(); ++i) {
        EXPECT_GE(entries[i - 1]["time"], entries[i]["time"]);
    }
    const json mqtt = site_->getJson("/api/log?from=2026-12-01&source=mqtt");
    ASSERT_EQ(mqtt["entries"].size(), 2u);
    for (const json& entry : mqtt["entries"]) EXPECT_EQ(entry["source"], "mqtt");
    const json p2 = site_->getJson("/api/log?from=2026-12-01&projector=p2");
    EXPECT_EQ(p2["entries"].size(), 3u);

    // One a page: each page the next entry, more until the last, nothing past it.
    for (std::size_t page = 1; page <= entries.size() + 1; ++page) {
        const json one =
            site_->getJson("/api/log?from=2026-12-01&per_page=1&page=" + std::to_string(page));
        EXPECT_EQ(one["page"], page);
        EXPECT_EQ(one["more"], page < entries.size());
        if (page <= entries.size()) {
            EXPECT_EQ(one["entries"], json::array({entries[page - 1]}));
        } else {
            EXPECT_EQ(one["entries"], json::array());
        }
    }

    const auto csv = site_->get("/api/log?from=2026-12-01&format=csv&per_page=1");
    ASSERT_TRUE(csv && csv->status == 200);
    EXPECT_EQ(csv->get_header_value("Content-Type"), "text/csv; charset=utf-8");
    const auto rows = parseCsv(csv->body);
    ASSERT_EQ(rows.size(), entries.size() + 1);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const json& e = entries[i];
        const std::vector<std::string> expected{
            text(e["time"]),  text(e["projector"]), text(e["source"]),
            text(e["who"]),   text(e["operation"]), text(e["setting"]),
            text(e["value"]), text(e["ok"]),        text(e["result"])};
        EXPECT_EQ(rows[i + 1], expected);
    }
}

TEST_F(Readings, BadParametersAreRefusedWithAReason) {
    const std::string huge(300, '9');
    const struct {
        std::string path;
        int status;
        std::string reason;
    } rows[] = {
        {"/api/reports/usage?from=yesterday", 400, "the parameter \"from\" is neither a time"},
        {"/api/reports/usage?to=2026-02-30", 400, "the parameter \"to\" is neither a time"},
        {"/api/reports/usage?from=2026-12-02&to=2026-12-01", 400, "from is after to"},
        {"/api/reports/usage?from=2024-01-01&to=2026-12-01", 400,
         "the range is longer than the 400 days the history keeps"},
        {"/api/reports/usage?format=xlsx", 400, "the parameter \"format\" is neither json nor csv"},
        {"/api/reports/usage?group=nowhere", 404, "no group \"nowhere\""},
        {"/api/log?projector=nobody", 404, "no projector \"nobody\""},
        {"/api/log?source=serial", 400,
         "the parameter \"source\" is not http, mqtt, pjlink or schedule"},
        {"/api/log?per_page=0", 400,
         "the parameter \"per_page\" is not a whole number from 1 to 1000"},
        {"/api/log?per_page=1001", 400, "the parameter \"per_page\" is not a whole number"},
        {"/api/log?page=-1", 400, "the parameter \"page\" is not a whole number"},
        {"/api/log?page=99999999999999999999999", 400, "the parameter \"page\" is not a whole"},
        {"/api/log?from=2026-12-01&from=2026-12-02", 400,
         "the parameter \"from\" is given more than once"},
        {"/api/log?projector=p0%00x", 400, "the parameter \"projector\" is not plain text"},
        {"/api/log?projector=%ff%fe", 400, "the parameter \"projector\" is not plain text"},
        {"/api/log?to=" + huge, 400, "the parameter \"to\" is too long"},
        {"/api/projectors/p0/history?kind=changes,bogus", 400,
         "the parameter \"kind\" names \"bogus\", which is not changes, reachability or commands"},
        {"/api/projectors/p0/history?kind=", 400, "the parameter \"kind\" names \"\""},
        {"/api/projectors/nobody/history", 404, "no projector \"nobody\""},
    };
    for (const auto& row : rows) {
        const auto answer = site_->get(row.path);
        ASSERT_TRUE(answer) << row.path;
        EXPECT_EQ(answer->status, row.status) << row.path;
        const std::string reason = json::parse(answer->body, nullptr, false).value("error", "");
        EXPECT_TRUE(reason.starts_with(row.reason)) << row.path.substr(0, 80) << ": " << reason;
    }
}

}  // namespace
