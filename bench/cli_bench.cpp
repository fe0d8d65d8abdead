// zolvane over a fleet, end to end: one projector-emulator child serves 200 projectors, an
// inventory names them, and `zolvane @all status` runs as a child process with the default
// number of jobs, its output thrown away. Then 20 of the 200 addresses are made dead: sockets
// of this benchmark that accept and never answer, so each costs the whole receive time-out. Prints
// the median, least and most of a few runs of each, and the targets (under 2 s; under the time-out
// plus 2 s).
#include <fcntl.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "service_harness.h"

namespace {

using namespace zolvane::bench;

constexpr int kProjectors = 200;
constexpr int kDead = 20;
constexpr int kRuns = 5;
constexpr double kTimeoutSeconds = 3.0;  // the link's receive time-out, the inventory's default

bool Dead(int index) { return index % (kProjectors / kDead) == 5; }

// A loopback socket that listens; Swallow accepts on it and never answers.
uint16_t Sinkhole(std::vector<int>& keep) {
    uint16_t port = 0;
    const int fd = BoundToLoopback(port);
    ::listen(fd, 64);
    keep.push_back(fd);
    return port;
}

// The ports the emulator reports ("tcp 127.0.0.1:PORT" lines, then "ready") in its log.
std::vector<uint16_t> WaitForPorts(const std::filesystem::path& log) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        std::ifstream in(log);
        std::vector<uint16_t> ports;
        for (std::string line; std::getline(in, line);) {
            if (line == "ready") return ports;
            if (line.rfind("tcp ", 0) == 0) {
                ports.push_back(static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1))));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
}

// Accepts every connection to the sinkholes and keeps it open unread until stop is set. (A
// socket left to its backlog alone answers later connections only after SYN retries.)
void Swallow(const std::vector<int>& sinkholes, const std::atomic<bool>& stop) {
    std::vector<int> accepted;
    std::vector<pollfd> polled;
    for (const int fd : sinkholes) polled.push_back({fd, POLLIN, 0});
    while (!stop) {
        if (::poll(polled.data(), polled.size(), 50) <= 0) continue;
        for (const pollfd& one : polled) {
            if ((one.revents & POLLIN) != 0) accepted.push_back(::accept(one.fd, nullptr, nullptr));
        }
    }
    for (const int fd : accepted) ::close(fd);
}

void WriteInventory(const std::filesystem::path& file, const std::vector<uint16_t>& ports) {
    std::ofstream out(file);
    for (int i = 0; i < kProjectors; ++i) {
        out << "[[projector]]\nname = \"" << Name(i)
            << "\"\naddress = \"tcp://127.0.0.1:" << ports[static_cast<size_t>(i)] << "\"\n";
    }
}

// Seconds from start to end of one `zolvane -i INVENTORY @all status`, and its exit status.
std::pair<double, int> TimeOneRun(const std::filesystem::path& inventory) {
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execl(ZOLVANE_CLI_PATH, ZOLVANE_CLI_PATH, "-i", inventory.c_str(), "@all", "status",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return {seconds, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

void Measure(const char* what, const std::filesystem::path& inventory, int expectedStatus,
             double limit) {
    std::vector<double> seconds;
    for (int run = 0; run < kRuns; ++run) {
        const auto [time, status] = TimeOneRun(inventory);
        if (status != expectedStatus) {
            std::printf("%s: run %d exited %d, not %d\n", what, run, status, expectedStatus);
        }
        seconds.push_back(time);
    }
    const double median = Quantile(seconds, 0.5);
    std::printf("%-44s median %6.3f s  (least %6.3f, most %6.3f; target < %.1f s: %s)\n", what,
                median, Quantile(seconds, 0), Quantile(seconds, 1), limit,
                median < limit ? "met" : "MISSED");
}

}  // namespace

int main() {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("cli_bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path log = folder / "emulator.log";
    const pid_t emulator = Start({ZOLVANE_EMULATOR_PATH, "--count", std::to_string(kProjectors),
                                  "--port", "0", "--cooling-ms", "0"},
                                 log);
    const std::vector<uint16_t> ports = WaitForPorts(log);
    if (ports.size() != static_cast<size_t>(kProjectors)) {
        std::printf("the emulator did not start; see %s\n", log.c_str());
        Stop(emulator);
        return 1;
    }

    std::printf("zolvane @all status, %d emulated projectors, default jobs, %d runs each\n",
                kProjectors, kRuns);
    const std::filesystem::path live = folder / "live.toml";
    WriteInventory(live, ports);
    Measure("all answering", live, 0, 2.0);

    std::vector<int> sinkholes;
    std::vector<uint16_t> someDead = ports;
    for (int i = 0; i < kProjectors; ++i) {
        if (Dead(i)) someDead[static_cast<size_t>(i)] = Sinkhole(sinkholes);
    }
    const std::filesystem::path dead = folder / "dead.toml";
    WriteInventory(dead, someDead);
    std::atomic<bool> stop{false};
    std::thread swallower(Swallow, std::cref(sinkholes), std::cref(stop));
    Measure("20 of them accepting but never answering", dead, 3, kTimeoutSeconds + 2.0);
    stop = true;
    swallower.join();

    for (const int fd : sinkholes) ::close(fd);
    Stop(emulator);
    std::filesystem::remove_all(folder);
    return 0;
}
