// What zolvaned tells systemd, read from a notification socket the test binds as systemd does:
// ready once it listens, reloading around a reload (refused or not), the watchdog's keep-alive,
// stopping. And the unit's hardening, as systemd-analyze rates it.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "child_process.h"
#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;

// The socket systemd gives a Type=notify service in $NOTIFY_SOCKET.
class NotifySocket {
public:
    explicit NotifySocket(const std::filesystem::path& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.string().copy(address.sun_path, sizeof address.sun_path - 1);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() {
        ::close(fd_);
        std::filesystem::remove(path_);
    }
    bool bound() const { return bound_; }

    // Reads messages until one holds text; every message read is kept.
    bool waitFor(const std::string& text, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 100) <= 0) continue;
            char message[4096];
            const ssize_t n = ::recv(fd_, message, sizeof message, 0);
            if (n <= 0) continue;
            const std::string got(message, static_cast<std::size_t>(n));
            seen_ += got + "\n--\n";
            if (got.find(text) != std::string::npos) return true;
        }
        return false;
    }
    const std::string& seen() const { return seen_; }

private:
    std::filesystem::path path_;
    int fd_ = -1;
    bool bound_ = false;
    std::string seen_;
};

std::string inventory(const zolvane::emulator::Emulator& emulator, const std::string& extra) {
    return "[defaults]\npoll_interval_ms = 200\n[[projector]]\nname = \"p0\"\naddress = "
           "\"tcp://127.0.0.1:" +
           std::to_string(emulator.tcpPort(0)) + "\"\n" + extra;
}

TEST(Systemd, ReadyReloadingWatchdogAndStoppingAreTold) {
    zolvane::emulator::Emulator emulator;
    ASSERT_TRUE(emulator.start());
    std::string pattern = (std::filesystem::temp_directory_path() / "zolvaned-XXXXXX").string();
    const std::filesystem::path folder = ::mkdtemp(pattern.data());
    const std::filesystem::path file = folder / "inventory.toml";
    std::ofstream(file) << inventory(emulator, "");
    NotifySocket notify(folder / "notify");
    ASSERT_TRUE(notify.bound());
    service_testing::ServiceProcess service(
        {ZOLVANED, "--inventory", file.string(), "--listen", "127.0.0.1:0"},
        {"NOTIFY_SOCKET=" + (folder / "notify").string(), "WATCHDOG_USEC=400000"});

    // Each step, then what systemd is told after it, in order.
    const struct {
        const char* step;
        std::string inventory;  // written before SIGHUP; empty: no reload
        int signal;
        std::vector<std::string> told;
    } steps[] = {
        {"start", "", 0, {"READY=1", "WATCHDOG=1", "WATCHDOG=1"}},
        {"a good reload",
         inventory(emulator,
                   "[[projector]]\nname = \"p1\"\naddress = "
                   "\"tcp://127.0.0.1:1\"\n"),
         SIGHUP,
         {"RELOADING=1", "READY=1", "WATCHDOG=1"}},
        {"a refused reload",
         inventory(emulator, "[[projector]]\nname = 7\n"),
         SIGHUP,
         {"RELOADING=1", "READY=1\nSTATUS=reload refused", "WATCHDOG=1"}},
        {"SIGTERM", "", SIGTERM, {"STOPPING=1"}},
    };
    for (const auto& step : steps) {
        if (!step.inventory.empty()) std::ofstream(file) << step.inventory;
        if (step.signal != 0) service.signal(step.signal);
        for (const std::string& message : step.told) {
            EXPECT_TRUE(notify.waitFor(message, 10s)) << step.step << ": no " << message << " in\n"
                                                      << notify.seen() << service.log();
        }
    }
    EXPECT_EQ(service.wait(10s), 0);
    // The refused reload named its fault by line and kept both projectors.
    EXPECT_NE(service.log().find("inventory.toml:7:"), std::string::npos) << service.log();
    EXPECT_NE(service.log().find("reload refused"), std::string::npos);
    std::filesystem::remove_all(folder);
}

TEST(Systemd, TheUnitStaysHardened) {
    const auto analysis = cli_testing::Run(
        {"/usr/bin/systemd-analyze", "security", "--offline=yes", ZOLVANED_UNIT}, 60s);
    const std::string said = analysis.out + analysis.err;
    std::smatch level;
    ASSERT_TRUE(
        std::regex_search(said, level, std::regex("Overall exposure level for [^:]+: ([0-9.]+)")))
        << said;
    EXPECT_LE(std::stod(level[1]), 2.0) << said;
}

}  // namespace
