// What the service benchmarks share: free ports, the children they start (the service, the
// broker) and what /proc says of them, the inventory they give the service, their descriptor
// limit, and the table of figures they print.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace zolvane::bench {

// The name of projector `index` in the benchmarks' inventories: "p000", "p001", ...
inline std::string Name(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "p%03d", index);
    return name;
}

// The value below which the given share of the samples lie (nearest rank); NaN when empty.
inline double Quantile(std::vector<double> samples, double share) {
    if (samples.empty()) return std::numeric_limits<double>::quiet_NaN();
    std::sort(samples.begin(), samples.end());
    const auto rank = static_cast<size_t>(share * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(rank, samples.size() - 1)];
}

inline std::string Format(const char* format, auto... values) {
    char text[160];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// One row of the table a benchmark prints: what was measured, its figures, and the target with
// whether it was met.
inline void Row(const std::string& measure, const std::string& value, const char* target = "",
                std::optional<bool> met = std::nullopt) {
    std::printf("%-52s %-52s %-14s %s\n", measure.c_str(), value.c_str(), target,
                met ? (*met ? "met" : "MISSED") : "");
    std::fflush(stdout);
}

// A socket bound to a port of its own on the loopback address; `port` is that port.
inline int BoundToLoopback(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

inline uint16_t FreePort() {
    uint16_t port = 0;
    ::close(BoundToLoopback(port));
    return port;
}

// Whether something listens on this loopback port.
inline bool Accepts(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Runs argv[0] with its output appended to log, in the log's folder as its state directory;
// the child ends with the benchmark.
inline pid_t Start(const std::vector<std::string>& argv, const std::filesystem::path& log) {
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        // The service keeps its history beside its log unless its inventory says otherwise.
        ::setenv("STATE_DIRECTORY", log.parent_path().c_str(), 1);
        if (std::FILE* out = std::fopen(log.c_str(), "a")) {
            ::dup2(::fileno(out), STDERR_FILENO);
            ::dup2(::fileno(out), STDOUT_FILENO);
        }
        std::vector<char*> args;
        for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return child;
}

// SIGTERM, then the wait status.
inline int Stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

// SIGTERM to the service, and a row of how long it took to end and how it ended.
inline void StopRow(pid_t service) {
    const auto stopping = Clock::now();
    const int status = Stop(service);
    Row("SIGTERM to exit", Format("%.0f ms, %s %d", Ms(Clock::now() - stopping),
                                  WIFEXITED(status) ? "status" : "signal",
                                  WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status)));
}

// A new directory /tmp/<name>-XXXXXX for the run's files.
inline std::filesystem::path RunDirectory(const std::string& name) {
    std::string path = "/tmp/" + name + "-XXXXXX";
    return ::mkdtemp(path.data());
}

#ifdef ZOLVANED_PATH
// The zolvaned built beside the benchmark, or the program ZOLVANED names.
inline std::string ServiceProgram() {
    const char* named = std::getenv("ZOLVANED");
    return named ? named : ZOLVANED_PATH;
}

// Writes the inventory to dir/inventory.toml and starts the service on it, its log
// dir/zolvaned.log.
inline pid_t StartService(const std::filesystem::path& dir, const std::string& inventory) {
    std::ofstream(dir / "inventory.toml") << inventory;
    return Start({ServiceProgram(), "--inventory", (dir / "inventory.toml").string()},
                 dir / "zolvaned.log");
}
#endif

// Raises this process's descriptor limit to its hard limit, for the many sockets of a large
// run (the service, started after, inherits it); the limit now in force.
inline rlim_t RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        std::fprintf(stderr, "cannot raise the descriptor limit: %s\n", std::strerror(errno));
        return before;
    }
    return limit.rlim_cur;
}

// Starts the emulated projectors, saying why on stderr when they cannot start.
inline bool StartEmulator(auto& fleet) {
    std::string error;
    if (fleet.start(&error)) return true;
    std::fprintf(stderr, "emulator: %s\n", error.c_str());
    return false;
}

// The inventory's head: where the service's API listens and how often it polls.
inline std::string InventoryHead(uint16_t listenPort, std::chrono::milliseconds pollInterval) {
    return "[service]\nlisten = \"127.0.0.1:" + std::to_string(listenPort) + "\"\n\n" +
           "[defaults]\npoll_interval_ms = " + std::to_string(pollInterval.count()) + "\n";
}

// The inventory's table of projector `index`, served on the loopback TCP port given; a line
// may follow it.
inline std::string ProjectorTable(int index, uint16_t tcpPort) {
    return "\n[[projector]]\nname = \"" + Name(index) +
           "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(tcpPort) + "\"\n";
}

// Projectors 0 to count - 1 of the emulator, twenty to a group ("floor-0", "floor-1", ...).
inline std::string FloorProjectors(int count, const auto& fleet) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += ProjectorTable(i, fleet.tcpPort(static_cast<size_t>(i))) + "groups = [\"floor-" +
                std::to_string(i / 20) + "\"]\n";
    }
    return text;
}

// utime + stime of every thread of the process so far.
inline double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t end = text.rfind(')');
    if (end == std::string::npos) return 0;
    std::istringstream fields(text.substr(end + 2));  // from field 3, the state
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) utime = std::stoull(field);
        if (number == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A "Key:  N kB" (or plain count) line of /proc/PID/status.
inline long StatusValue(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
    }
    return -1;
}

}  // namespace zolvane::bench
