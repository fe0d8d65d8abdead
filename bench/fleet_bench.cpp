// The fleet service under load: zolvaned, run as a child process, watches 200 projectors that
// one emulator inside this process serves over loopback TCP. One run of about 2 minutes prints
// one table:
//   - the service's CPU time per poll cycle (utime + stime over 30 s of quiet polling) and as a
//     share of one core, and its memory (VmRSS, VmHWM);
//   - poll period and poll time of the projectors that answer, with all answering and with 20
//     of them silent (the period from the projectors' last_seen, the poll time from /metrics);
//   - API latency of GET /api/projectors/{name} and GET /api/projectors under 50 keep-alive
//     clients sending back to back (and of the list with each client reading 10 times a
//     second), with all answering and with 20 silent;
//   - the time from "power off group all" to every emulated projector off.
//
// zolvaned is the one built beside this benchmark, or the program ZOLVANED names. Its log goes
// to a file in the run's temporary directory, named at the end.
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "projector_emulator/emulator.h"
#include "service_api.h"
#include "service_harness.h"

namespace {

namespace emu = zolvane::emulator;
using namespace zolvane::bench;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Json = nlohmann::json;

constexpr int kProjectors = 200;
constexpr int kClients = 50;
constexpr milliseconds kPollInterval{5000};
constexpr seconds kCpuWindow{30};
constexpr seconds kSampleWindow{20};
constexpr seconds kLoadTime{5};
// The paced clients: each reads every 100 ms, as a page refreshing itself might.
constexpr milliseconds kPace{100};
// Every tenth projector, 20 in all, stops answering in the second half.
bool Silent(int index) { return index % 10 == 5; }

// ---- what the API says

// Per projector name, the sum and count of its poll durations from /metrics, read from the
// histogram or summary whose name has "poll_duration" in it.
struct PollTimes {
    std::map<std::string, double> sum, count;
};

PollTimes ReadPollTimes(httplib::Client& api) {
    PollTimes times;
    const auto metrics = ReadProjectorMetrics(api);
    if (!metrics) return times;
    for (const auto& [name, values] : *metrics) {
        if (name.find("poll_duration") == std::string::npos) continue;
        if (name.ends_with("_sum")) times.sum = values;
        if (name.ends_with("_count")) times.count = values;
    }
    return times;
}

// ---- measurements

// Polls of the answering projectors seen over a window: the periods between consecutive
// last_seen stamps, and the mean poll time of each from the change of its /metrics sums.
struct PollFigures {
    std::vector<double> periods;    // ms, every pair of consecutive polls of every projector
    std::vector<double> pollTimes;  // ms, the mean over the window, one per projector
};

PollFigures WatchPolls(httplib::Client& api, seconds window, bool skipSilent) {
    std::map<std::string, std::vector<long long>> seen;
    const PollTimes before = ReadPollTimes(api);
    const auto end = Clock::now() + window;
    while (Clock::now() < end) {
        if (const auto all = GetJson(api, "/api/projectors")) {
            for (const Json& p : (*all)["projectors"]) {
                const long long stamp = StampMs(p["last_seen"]);
                auto& stamps = seen[p.value("name", "")];
                if (stamp > 0 && (stamps.empty() || stamps.back() != stamp)) {
                    stamps.push_back(stamp);
                }
            }
        }
        std::this_thread::sleep_for(milliseconds(1000));  // well below the poll period
    }
    const PollTimes after = ReadPollTimes(api);
    PollFigures figures;
    for (int i = 0; i < kProjectors; ++i) {
        if (skipSilent && Silent(i)) continue;
        const std::string name = Name(i);
        const auto& stamps = seen[name];
        for (size_t k = 1; k < stamps.size(); ++k) {
            figures.periods.push_back(static_cast<double>(stamps[k] - stamps[k - 1]));
        }
        const auto at = [](const std::map<std::string, double>& m, const std::string& key) {
            const auto found = m.find(key);
            return found == m.end() ? 0.0 : found->second;
        };
        const double polls = at(after.count, name) - at(before.count, name);
        if (polls > 0) {
            figures.pollTimes.push_back(1000.0 * (at(after.sum, name) - at(before.sum, name)) /
                                        polls);
        }
    }
    return figures;
}

// The clients' figures, and the service's over the same time.
struct LoadFigures : Latency {
    double serviceCpu = 0;     // s, over the load
    long listenOverflows = 0;  // connections the kernel dropped for a full listen queue
    long rssAfter = 0;         // kB
};

// TcpExt ListenOverflows: SYNs dropped because a listen queue was full. The count is the network
// namespace's, so other programs listening on this machine add to it.
long ListenOverflows() {
    std::ifstream in("/proc/net/netstat");
    std::string names, values;
    while (std::getline(in, names) && std::getline(in, values)) {
        if (names.rfind("TcpExt:", 0) != 0) continue;
        std::istringstream n(names), v(values);
        std::string name, value;
        while (n >> name && v >> value) {
            if (name == "ListenOverflows") return std::atol(value.c_str());
        }
    }
    return 0;
}

// kClients keep-alive clients for kLoadTime, reading one projector after another (a different
// one each time) or the whole list: back to back (period 0), or one request every period.
LoadFigures Load(pid_t service, uint16_t port, bool oneProjector, milliseconds period = {}) {
    LoadFigures figures;
    double cpu = 0;
    long overflows = 0;
    ApiLoad load;
    load.clients = kClients;
    load.length = kLoadTime;
    load.period = period;
    if (oneProjector) {
        load.path = AnyProjector(kProjectors);
    } else {
        load.path = [](int, long) { return std::string("/api/projectors"); };
    }
    load.before = [&] {
        cpu = CpuSeconds(service);
        overflows = ListenOverflows();
    };
    load.after = [&] {
        figures.serviceCpu = CpuSeconds(service) - cpu;
        figures.listenOverflows = ListenOverflows() - overflows;
        figures.rssAfter = StatusValue(service, "VmRSS");
    };
    static_cast<Latency&>(figures) = LoadApi(port, load);
    std::this_thread::sleep_for(seconds(1));  // lets the polls held up by the load finish
    return figures;
}

// From the POST of "power off" to group all: when it was answered, and when the last emulated
// projector was seen switched off.
struct PowerOff {
    int status = 0;
    bool ok = false;
    double answeredMs = 0, allOffMs = -1;
    int off = 0;
};

PowerOff PowerOffAll(const emu::Emulator& fleet, uint16_t port) {
    PowerOff result;
    const auto start = Clock::now();
    auto post = std::async(std::launch::async, [port] {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(30, 0);
        return client.Post("/api/groups/all/commands", R"({"command":"power","value":"off"})",
                           "application/json");
    });
    while (Clock::now() - start < seconds(20)) {
        result.off = 0;
        for (int i = 0; i < kProjectors; ++i) {
            result.off += fleet.power(static_cast<size_t>(i)) != emu::PowerState::On;
        }
        if (result.off == kProjectors) {
            result.allOffMs = Ms(Clock::now() - start);
            break;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    const auto answer = post.get();
    result.answeredMs = Ms(Clock::now() - start);
    if (answer) {
        result.status = answer->status;
        const Json body = Json::parse(answer->body, nullptr, false);
        result.ok = body.is_object() && body.value("ok", false);
    }
    return result;
}

// ---- the table

void LatencyRow(const char* measure, const LoadFigures& latency) {
    const double p99 = Quantile(latency.ms, 0.99);
    const auto requests = static_cast<double>(latency.ms.size());
    Row(measure,
        Format("median %.2f, p99 %.2f, p99.9 %.0f, max %.0f ms; %ld failed",
               Quantile(latency.ms, 0.5), p99, Quantile(latency.ms, 0.999),
               Quantile(latency.ms, 1.0), latency.failures),
        "p99 < 10 ms", p99 < 10.0 && latency.failures == 0);
    Row("  requests/s; service CPU per request",
        Format("%.0f/s; %.0f us", requests / latency.seconds,
               1e6 * latency.serviceCpu / std::max(requests, 1.0)));
    Row("  SYNs dropped (listen queue full); VmRSS after",
        Format("%ld; %.1f MB", latency.listenOverflows, latency.rssAfter / 1024.0));
}

void PollRows(const char* period, const char* time, const PollFigures& figures) {
    Row(period, Format("median %.0f ms, max %.0f ms (%zu)", Quantile(figures.periods, 0.5),
                       Quantile(figures.periods, 1.0), figures.periods.size()));
    Row(time, Format("median %.2f ms, max %.2f ms (%zu)", Quantile(figures.pollTimes, 0.5),
                     Quantile(figures.pollTimes, 1.0), figures.pollTimes.size()));
}

std::string WriteInventory(uint16_t listenPort, const emu::Emulator& fleet) {
    return InventoryHead(listenPort, kPollInterval) + FloorProjectors(kProjectors, fleet);
}

}  // namespace

int main() {
    emu::Options options;
    options.count = kProjectors;
    options.coolingTime = milliseconds(0);  // "off" is the moment the off frame is taken
    options.frameLogLimit = 16;
    options.idleTimeout = milliseconds(0);
    emu::Emulator fleet(options);
    if (!StartEmulator(fleet)) return 1;

    const std::filesystem::path dir = RunDirectory("fleet-bench");
    const uint16_t port = FreePort();
    const auto launched = Clock::now();
    const pid_t service = StartService(dir, WriteInventory(port, fleet));
    httplib::Client api("127.0.0.1", port);
    api.set_read_timeout(10, 0);

    std::printf(
        "fleet_bench: %d emulated projectors, polled every %lld ms; %d API clients; "
        "zolvaned pid %d\n",
        kProjectors, static_cast<long long>(kPollInterval.count()), kClients, service);
    std::fflush(stdout);
    if (!WaitForReach(api, "online", kProjectors, seconds(30))) {
        std::fprintf(stderr, "the service did not see all %d projectors online (log: %s)\n",
                     kProjectors, (dir / "zolvaned.log").c_str());
        ::kill(service, SIGTERM);
        return 1;
    }
    Row("start to all online", Format("%.0f ms", Ms(Clock::now() - launched)));

    // Quiet polling: nothing but the polls, so the CPU time is theirs.
    const double cpuBefore = CpuSeconds(service);
    std::this_thread::sleep_for(kCpuWindow);
    const double cpuQuiet = CpuSeconds(service) - cpuBefore;
    const double cycles = static_cast<double>(kCpuWindow / kPollInterval);
    const double share = 100.0 * cpuQuiet / static_cast<double>(kCpuWindow.count());
    Row("service CPU per poll cycle of 200", Format("%.1f ms", 1000.0 * cpuQuiet / cycles));
    Row("service CPU, polling 200 every 5 s", Format("%.2f %% of one core", share), "< 2 %",
        share < 2.0);
    const long rss = StatusValue(service, "VmRSS"), hwm = StatusValue(service, "VmHWM");
    Row("service memory VmRSS / VmHWM", Format("%.1f / %.1f MB", rss / 1024.0, hwm / 1024.0),
        "< 50 MB", hwm < 50 * 1024);
    Row("service threads", Format("%ld", StatusValue(service, "Threads")));

    PollRows("poll period, all 200 answering", "poll time, all 200 answering",
             WatchPolls(api, kSampleWindow, true));
    LatencyRow("GET /api/projectors/{name}, all answering", Load(service, port, true));
    LatencyRow("GET /api/projectors, all answering", Load(service, port, false));
    LatencyRow("GET /api/projectors, all answering, 10/s each", Load(service, port, false, kPace));

    emu::FaultConfig noReply;
    noReply.kind = emu::FaultKind::NoReply;
    for (int i = 0; i < kProjectors; ++i) {
        if (Silent(i)) fleet.setFault(noReply, static_cast<size_t>(i));
    }
    const double cpuSilentBefore = CpuSeconds(service);
    const PollFigures silent = WatchPolls(api, kSampleWindow, true);
    const double silentShare = 100.0 * (CpuSeconds(service) - cpuSilentBefore) /
                               static_cast<double>(kSampleWindow.count());
    PollRows("poll period of the 180, 20 silent", "poll time of the 180, 20 silent", silent);
    Row("service CPU, 20 silent (with 1 API read/s)", Format("%.2f %% of one core", silentShare));
    LatencyRow("GET /api/projectors/{name}, 20 silent", Load(service, port, true));
    LatencyRow("GET /api/projectors, 20 silent", Load(service, port, false));
    LatencyRow("GET /api/projectors, 20 silent, 10/s each", Load(service, port, false, kPace));
    const int offline = CountReach(api, "offline");
    Row("offline after the silent stretch", Format("%d", offline), "20", offline == 20);

    for (int i = 0; i < kProjectors; ++i) fleet.clearFault(static_cast<size_t>(i));
    const auto revived = Clock::now();
    const bool back = WaitForReach(api, "online", kProjectors, seconds(30));
    Row("silent ones back online", back ? Format("%.0f ms", Ms(Clock::now() - revived)) : "no");

    const PowerOff off = PowerOffAll(fleet, port);
    Row("power off all: answered",
        Format("%.0f ms, status %d, %s", off.answeredMs, off.status, off.ok ? "ok" : "not ok"));
    Row("power off all: every projector off",
        off.allOffMs < 0 ? Format("%d of 200 off", off.off) : Format("%.0f ms", off.allOffMs),
        "< 1000 ms", off.allOffMs >= 0 && off.allOffMs < 1000);
    const long peak = StatusValue(service, "VmHWM");
    Row("service memory VmHWM at the end", Format("%.1f MB", peak / 1024.0), "< 50 MB",
        peak < 50 * 1024);

    StopRow(service);
    std::printf("service log: %s\n", (dir / "zolvaned.log").c_str());
    fleet.stop();
    return 0;
}
