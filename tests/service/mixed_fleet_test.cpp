// zolvaned over a fleet of makes: one projector of our own protocol, a class 1 and a class 2
// PJLink projector and a PJLink projector that never answers, all emulated in-process, seen
// through the real HTTP API and a real broker's Home Assistant discovery.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "child_process.h"
#include "projector_emulator/emulator.h"
#include "projector_emulator/pjlink_emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using service_testing::ServiceProcess;
using zolvane::emulator::PjlinkEmulator;
using zolvane::emulator::PjlinkFault;
using zolvane::emulator::PjlinkOptions;

constexpr const char* kToken = "mixed-token";

std::unique_ptr<PjlinkEmulator> pjlink(int projectorClass, bool on, PjlinkFault fault) {
    PjlinkOptions options;
    options.projectorClass = projectorClass;
    options.initiallyOn = on;
    options.fault = fault;
    auto emulator = std::make_unique<PjlinkEmulator>(options);
    EXPECT_TRUE(emulator->start());
    return emulator;
}

TEST(MixedFleet, EachFrontEndShowsWhatEachProjectorHas) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zolvaned-mixed-XXXXXX");
    const std::filesystem::path folder = ::mkdtemp(pattern.data());
    // A broker started as root reads its files as the user it changes to.
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all |
                                             std::filesystem::perms::others_read |
                                             std::filesystem::perms::others_exec);
    const int brokerPort = cli_testing::FreePort();
    std::ofstream(folder / "mosquitto.conf")
        << ("listener " + std::to_string(brokerPort) +
            " 127.0.0.1\nallow_anonymous true\nlog_dest stderr\n");
    ServiceProcess broker({"/usr/sbin/mosquitto", "-c", (folder / "mosquitto.conf").string()});

    zolvane::emulator::Emulator native;
    ASSERT_TRUE(native.start());
    const auto classOne = pjlink(1, false, PjlinkFault::None);
    const auto classTwo = pjlink(2, true, PjlinkFault::None);
    const auto silent = pjlink(1, true, PjlinkFault::Silent);
    std::ofstream(folder / "token") << kToken;
    std::ofstream inventory(folder / "inventory.toml");
    inventory << "[service]\nlisten = \"127.0.0.1:8470\"\ntoken_file = \""
              << (folder / "token").string()
              << "\"\n[mqtt]\nhost = \"127.0.0.1\"\nsite = \"t\"\nport = " << brokerPort
              << "\n[defaults]\npoll_interval_ms = 200\nslow_poll_interval_ms = 1000\n"
                 "connect_timeout_ms = 500\nreceive_timeout_ms = 500\noffline_after = 2\n";
    for (const auto& [name, address] :
         {std::pair{"own", "tcp://127.0.0.1:" + std::to_string(native.tcpPort())},
          {"pj1", "pjlink://127.0.0.1:" + std::to_string(classOne->tcpPort())},
          {"pj2", "pjlink://127.0.0.1:" + std::to_string(classTwo->tcpPort())},
          {"mute", "pjlink://127.0.0.1:" + std::to_string(silent->tcpPort())}}) {
        inventory << "[[projector]]\nname = \"" << name << "\"\naddress = \"" << address << "\"\n";
    }
    inventory.close();
    ServiceProcess service(
        {ZOLVANED, "--inventory", (folder / "inventory.toml").string(), "--listen", "127.0.0.1:0"});
    const auto port = service.port();
    ASSERT_TRUE(port) << service.log();
    httplib::Client client("127.0.0.1", *port);
    client.set_read_timeout(20s);
    const auto get = [&](const std::string& name) {
        const auto answer = client.Get(("/api/projectors/" + name).c_str());
        return answer ? json::parse(answer->body, nullptr, false) : json();
    };
    // Ready once each answering projector is online and the PJLink ones have said who they are.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    const auto ready = [&] {
        return get("own").value("reach", "") == "online" && get("pj1").contains("about") &&
               get("pj2").contains("inputs") && get("mute").value("reach", "") == "offline";
    };
    while (!ready() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(ready()) << service.log();  // the silent one offline beside the others

    // projector, protocol, whether it has a filter time, one of its own inputs (null: not asked;
    // "": it has none of its own)
    for (const auto& [name, protocol, filter, input] :
         {std::tuple<const char*, const char*, bool, const char*>{"own", "native", true, ""},
          {"pj1", "pjlink", false, nullptr},
          {"pj2", "pjlink", true, R"({"name":"HDMI 2","value":32})"}}) {
        const json p = get(name);
        EXPECT_EQ(p["protocol"], protocol) << p;
        EXPECT_EQ(p["state"].contains("filter_hours"), filter) << p;
        if (input) {
            EXPECT_EQ(p.contains("inputs"), *input != 0) << p;
            EXPECT_NE(p.value("inputs", json()).dump().find(input), std::string::npos) << p;
        }
    }

    // projector, body, status, the result's name or, when it failed, its result word
    for (const auto& [name, body, status, shown] :
         {std::tuple{"pj2", R"({"command":"input","value":"HDMI 2"})", 200, "HDMI 2"},
          {"pj1", R"({"command":"blank","value":"on"})", 502, "unavailable"},
          {"own", R"({"command":"blank","value":"on"})", 200, "on"}}) {
        const auto answer = client.Post(
            ("/api/projectors/" + std::string(name) + "/commands").c_str(),
            {{"Authorization", std::string("Bearer ") + kToken}}, body, "application/json");
        ASSERT_TRUE(answer) << body;
        EXPECT_EQ(answer->status, status) << answer->body;
        const json result = json::parse(answer->body, nullptr, false)["results"][0];
        EXPECT_EQ(result.value(result.value("ok", false) ? "name" : "result", ""), shown)
            << answer->body;
    }
    EXPECT_EQ(classTwo->input(), "32");

    // The retained discovery as a dashboard finds it.
    const cli_testing::Finished seen =
        cli_testing::Run({"/usr/bin/mosquitto_sub", "-h", "127.0.0.1", "-p",
                          std::to_string(brokerPort), "-t", "homeassistant/#", "-v", "-W", "3"});
    const auto config = [&](const std::string& node, const std::string& key) {
        const std::string topic = "/zolvane_t_" + node + "/" + key + "/config ";
        const auto found = seen.out.find(topic);
        if (found == std::string::npos) return std::string();
        return seen.out.substr(found, seen.out.find('\n', found) - found);
    };
    EXPECT_NE(config("own", "filter_hours"), "") << seen.out;
    EXPECT_EQ(config("pj1", "filter_hours"), "") << seen.out;
    EXPECT_NE(config("pj2", "filter_hours"), "") << seen.out;
    EXPECT_NE(config("pj2", "input").find("\"HDMI 2\""), std::string::npos) << seen.out;

    service.signal(SIGTERM);
    EXPECT_EQ(service.wait(10s), 0) << service.log();
    std::filesystem::remove_all(folder);
}

}  // namespace
