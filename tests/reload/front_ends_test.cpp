// Reloads of the real zolvaned as a broker's clients and PJLink controllers see them.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <thread>

#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using service_testing::connectTo;

using namespace std::chrono_literals;
using service_testing::freePort;
using service_testing::ServiceProcess;

// The reply to line (none: the greeting), again while a new queue has not polled yet (ERR3).
std::string ask(int fd, const std::string& line = {}) {
    for (int tries = 0;; ++tries) {
        if (!line.empty()) ::send(fd, (line + "\r").data(), line.size() + 1, MSG_NOSIGNAL);
        std::string got;
        for (char c = 0; ::recv(fd, &c, 1, 0) == 1 && c != '\r';) got += c;
        if (!got.ends_with("ERR3") || tries == 100) return got;
        std::this_thread::sleep_for(100ms);
    }
}

// mosquitto_sub with args, a real client of the broker; what it prints is its log.
std::unique_ptr<ServiceProcess> subscriber(int broker, const std::string& args) {
    return std::make_unique<ServiceProcess>(std::vector<std::string>{
        "/bin/sh", "-c", "exec mosquitto_sub -p " + std::to_string(broker) + " " + args + " 1>&2"});
}

// One reload: the labels of p0, p1, p2 in the new inventory (nullptr: not in it), the
// projector whose change is looked at and the service's "reloaded" line for it.
struct Change {
    std::array<const char*, 3> labels;
    std::size_t subject;
    const char* reloaded;
};

const Change kChanges[] = {
    {{"Hall 0", "Hall 1", "Lobby"}, 2, "3 projectors, 1 added"},
    {{"Hall 0", nullptr, "Lobby"}, 1, "0 added, 1 removed"},
    {{"Front hall", nullptr, "Lobby"}, 0, "0 removed, 1 changed"},
};

TEST(ReloadFrontEnds, BrokerAndGatewaysFollowTheInventory) {
    std::string pattern = std::filesystem::temp_directory_path() / "zolvaned-reload-XXXXXX";
    const std::filesystem::path folder = ::mkdtemp(pattern.data());
    const int broker = freePort();
    ServiceProcess mosquitto({"/usr/sbin/mosquitto", "-p", std::to_string(broker)});  // loopback
    ASSERT_TRUE(mosquitto.waitForLog("running", 10s)) << mosquitto.log();
    zolvane::emulator::Options options;
    options.count = 3;
    zolvane::emulator::Emulator emulator(options);
    emulator.start();
    const int pjlink[] = {freePort(), freePort(), freePort()};
    const auto inventory = [&](const std::array<const char*, 3>& labels) {
        std::ofstream text(folder / "inventory.toml");
        text << "[mqtt]\nhost = \"127.0.0.1\"\nport = " << broker << "\nsite = \"t\"\n"
             << "[service]\npjlink_idle_timeout_ms = 600000\n[defaults]\npoll_interval_ms = "
                "200\nconnect_timeout_ms = 300\n";
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (labels[i] == nullptr) continue;
            text << "[[projector]]\nname = \"p" << i << "\"\nlabel = \"" << labels[i]
                 << "\"\naddress = \"tcp://127.0.0.1:" << emulator.tcpPort(i)
                 << "\"\npjlink_port = " << pjlink[i] << "\n";
        }
    };
    inventory({"Hall 0", "Hall 1", nullptr});
    ServiceProcess service(
        {ZOLVANED, "--inventory", (folder / "inventory.toml").string(), "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(service.waitForLog("started with 2 projectors", 10s)) << service.log();
    auto watcher = subscriber(broker,
                              "-t 'homeassistant/+/+/+/config' -F '%t [%p]' "
                              "-t 'zolvane/t/projector/+/availability'");
    ASSERT_TRUE(watcher->waitForLog("zolvane_t_p1/connectivity/config [{", 10s)) << watcher->log();
    const int before = connectTo(pjlink[0]);  // opened before any reload, used after each
    ASSERT_EQ(ask(before), "PJLINK 0");

    for (const Change& change : kChanges) {
        SCOPED_TRACE(change.reloaded);
        inventory(change.labels);
        service.signal(SIGHUP);
        ASSERT_TRUE(service.waitForLog(change.reloaded, 20s)) << service.log();
        const char* label = change.labels[change.subject];
        const std::string p = "p" + std::to_string(change.subject),
                          device = label ? "\"name\":\"" + std::string(label) + "\"" : "";
        const std::string config =
            "homeassistant/binary_sensor/zolvane_t_" + p + "/connectivity/config";
        EXPECT_TRUE(watcher->waitForLog(label ? device : config + " []", 20s)) << watcher->log();
        EXPECT_TRUE(watcher->waitForLog(
            "zolvane/t/projector/" + p + "/availability [" + (label ? "online" : "") + "]", 20s));
        const auto fresh =  // a client subscribing now is given the new discovery, or nothing
            subscriber(broker, "-t " + config + " --retained-only -C 1 -W 3 -F '%p'");
        fresh->wait(10s);
        EXPECT_EQ(fresh->log().find(label ? device : "{") != std::string::npos, label != nullptr);
        EXPECT_EQ(ask(before, "%1POWR ?"), "%1POWR=1") << service.log();
        const std::string log = service.log();  // the same session: never connected again
        EXPECT_EQ(log.find("mqtt: connected"), log.rfind("mqtt: connected")) << log;
        const int controller = connectTo(pjlink[change.subject]);
        EXPECT_EQ(controller >= 0, label != nullptr);
        if (controller < 0) continue;
        EXPECT_EQ(ask(controller), "PJLINK 0");
        EXPECT_EQ(ask(controller, "%1POWR ?"), "%1POWR=1");
        ::close(controller);
    }
    service.signal(SIGTERM);
    EXPECT_EQ(service.wait(10s), 0) << service.log();
    std::filesystem::remove_all(folder);
}

}  // namespace
