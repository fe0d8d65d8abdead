// A reload of the real zolvaned (SIGHUP): the inventory rewritten under it, projectors added,
// changed and removed while an event stream is open and while commands run, and a faulty
// inventory refused with the service going on as it was.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>

#include "event_stream.h"
#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using zolvane::emulator::Emulator;

constexpr std::uint16_t kBlank = 0x3020;
constexpr std::uint16_t kGet = 2;

class Reload : public ::testing::Test {
protected:
    void SetUp() override {
        zolvane::emulator::Options options;
        options.count = 3;
        emulator_ = std::make_unique<Emulator>(options);
        ASSERT_TRUE(emulator_->start());
        std::string pattern = (std::filesystem::temp_directory_path() / "zolvaned-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        file_ = folder_ / "inventory.toml";
        std::ofstream(file_) << inventory({"p0", "p1"}, {});
        service_ = std::make_unique<service_testing::ServiceProcess>(std::vector<std::string>{
            ZOLVANED, "--inventory", file_.string(), "--listen", "127.0.0.1:0"});
        const auto port = service_->port();
        ASSERT_TRUE(port) << service_->log();
        port_ = *port;
        client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
        client_->set_read_timeout(30s);
    }

    void TearDown() override {
        service_->signal(SIGTERM);
        EXPECT_EQ(service_->wait(20s), 0) << service_->log();
        EXPECT_EQ(service_->log().find("Sanitizer"), std::string::npos) << service_->log();
        std::filesystem::remove_all(folder_);
    }

    // The projectors named (p0..p2, each on its emulated projector), with labels where given.
    std::string inventory(const std::vector<std::string>& names,
                          const std::map<std::string, std::string>& labels,
                          const std::string& extra = "") const {
        std::string text =
            "[defaults]\npoll_interval_ms = 200\nslow_poll_interval_ms = 1000\n"
            "connect_timeout_ms = 500\nreceive_timeout_ms = 10000\n";
        for (const std::string& name : names) {
            const std::size_t index = static_cast<std::size_t>(name[1] - '0');
            text += "[[projector]]\nname = \"" + name +
                    "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(emulator_->tcpPort(index)) +
                    "\"\ngroups = [\"room\"]\n";
            if (const auto label = labels.find(name); label != labels.end()) {
                text += "label = \"" + label->second + "\"\n";
            }
        }
        return text + extra;
    }

    // Writes the inventory, sends SIGHUP and waits for the reload's last line (the n-th such).
    bool reload(const std::string& text, const std::string& line, std::size_t n) {
        std::ofstream(file_) << text;
        service_->signal(SIGHUP);
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            std::size_t count = 0;
            const std::string log = service_->log();
            for (auto at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
                ++count;
            }
            if (count >= n) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    json names() {
        const auto answer = client_->Get("/api/projectors");
        json listed = json::array();
        if (!answer) return listed;
        const json body = json::parse(answer->body);
        for (const json& projector : body["projectors"]) {
            listed.push_back(projector["name"]);
        }
        return listed;
    }

    std::future<httplib::Result> command(const std::string& projector, const std::string& body) {
        return std::async(std::launch::async, [this, projector, body] {
            httplib::Client client("127.0.0.1", port_);
            client.set_read_timeout(30s);
            return client.Post(("/api/projectors/" + projector + "/commands").c_str(), body,
                               "application/json");
        });
    }

    // Waits until a frame that changes this setting has reached the emulated projector.
    bool sent(std::uint16_t type, std::size_t index) const {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            for (const auto& frame : emulator_->frames(index)) {
                if (frame.type == type && frame.action != kGet) return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    std::unique_ptr<Emulator> emulator_;
    std::filesystem::path folder_;
    std::filesystem::path file_;
    std::unique_ptr<service_testing::ServiceProcess> service_;
    int port_ = 0;
    std::unique_ptr<httplib::Client> client_;
};

TEST_F(Reload, ProjectorsComeGoAndChangeWhileAStreamStaysOpen) {
    service_testing::EventStream events(port_);
    ASSERT_TRUE(events.waitFor("\"name\":\"p1\"", 1, 10s));
    // One reload after another, each with what the API and the open stream then show.
    const struct {
        const char* what;
        std::string inventory;
        const char* line;  // the reload's last line in the log
        json listed;
        std::string streamed;  // the open stream tells it
    } rows[] = {
        {"p2 added",
         inventory({"p0", "p1", "p2"}, {}),
         "1 added, 0 removed, 0 changed",
         {"p0", "p1", "p2"},
         "\"name\":\"p2\""},
        {"p0's label changed",
         inventory({"p0", "p1", "p2"}, {{"p0", "Hall A"}}),
         "0 added, 0 removed, 1 changed",
         {"p0", "p1", "p2"},
         "\"label\":\"Hall A\""},
        {"p1 removed",
         inventory({"p0", "p2"}, {{"p0", "Hall A"}}),
         "0 added, 1 removed, 0 changed",
         {"p0", "p2"},
         "event: removed"},
        {"a faulty inventory",
         inventory({"p0"}, {}, "[[projector]]\nname = 7\n"),
         "reload refused",
         {"p0", "p2"},
         ""},
    };
    std::size_t refused = 0;
    for (const auto& row : rows) {
        refused += std::string(row.line) == "reload refused";
        ASSERT_TRUE(reload(row.inventory, row.line,
                           std::string(row.line) == "reload refused" ? refused : 1))
            << row.what << "\n"
            << service_->log();
        EXPECT_EQ(names(), row.listed) << row.what;
        if (!row.streamed.empty()) {
            EXPECT_TRUE(events.waitFor(row.streamed, 1, 10s)) << row.what << "\n" << events.text();
        }
    }
    // The faulty file is named by line, and the stream opened at the start is open still.
    EXPECT_NE(service_->log().find("inventory.toml:11:"), std::string::npos) << service_->log();
    EXPECT_FALSE(events.waitForEnd(100ms));
}

TEST_F(Reload, RemovingAProjectorEndsItsWaitingCommandsAsStoppingAndSendsNothingHalf) {
    // p1 answers slowly: one command is mid-exchange when the reload comes, one waits behind.
    zolvane::emulator::FaultConfig slow;
    // Three seconds puts the reload mid-exchange on a slow machine, well within the time-out.
    slow.delay = 3000ms;
    slow.onlyType = kBlank;
    emulator_->setFault(slow, 1);
    emulator_->clearFrames(1);
    auto running = command("p1", R"({"command": "blank", "value": "on"})");
    ASSERT_TRUE(sent(kBlank, 1));
    auto waiting = command("p1", R"({"command": "blank", "value": "off"})");
    std::this_thread::sleep_for(500ms);  // gives the second time to be queued
    ASSERT_TRUE(reload(inventory({"p0"}, {}), "0 added, 1 removed, 0 changed", 1))
        << service_->log();

    const httplib::Result first = running.get();
    const httplib::Result second = waiting.get();
    ASSERT_TRUE(first && second);
    // The exchange under way ended whole; what waited was refused, and never sent.
    EXPECT_EQ(first->status, 200) << first->body;
    EXPECT_EQ(second->status, 503) << second->body;
    EXPECT_NE(second->body.find("stopping"), std::string::npos) << second->body;
    std::size_t blanks = 0;
    for (const auto& frame : emulator_->frames(1)) {
        if (frame.type != kBlank || frame.action == kGet) continue;
        ++blanks;
        EXPECT_TRUE(frame.checksumValid);
        EXPECT_FALSE(frame.reply.empty());
    }
    EXPECT_EQ(blanks, 1u);
    EXPECT_EQ(emulator_->value(kBlank, 1), 1);
    EXPECT_EQ(client_->Get("/api/projectors/p1")->status, 404);
}

}  // namespace
