// A campus of projectors: zolvaned, run as a child process, polls 200 and then 2000 projectors
// every 5 s, all served over loopback TCP by one emulator inside this process. For each size one
// run measures, and prints in one table at the end:
//   - over 3 poll intervals after a warm-up of one: the service's CPU (utime + stime as a share
//     of one core), its resident memory (VmRSS, the most seen) and its threads (the most seen);
//   - the poll period of the projectors that answer, median and worst: per projector, the time
//     between its last_seen at the two ends of the window over the polls /metrics counted in it;
//   - GET /api/projectors/{name} under 50 keep-alive clients reading back to back, median and
//     p99, and the time of GET /api/projectors read alone;
//   - the same with every tenth projector never answering (accepts, takes the frame, stays
//     silent), once the service has them offline;
//   - beside it a raw client in this process doing the exchanges the service did (connect,
//     13-byte frame, 3-byte reply, close) at the same rate over the same window, with its own
//     CPU time: what the kernel's side of the exchanges costs whatever the service does.
//
// `campus_bench quick` (or CAMPUS_QUICK=1) runs only the 200. zolvaned is the one built beside
// this benchmark, or the program ZOLVANED names; its logs go to the run's temporary directories,
// named at the end.
#include <httplib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "projector_emulator/emulator.h"
#include "raw_client.h"
#include "service_api.h"
#include "service_harness.h"

namespace {

namespace emu = zolvane::emulator;
using namespace zolvane::bench;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Json = nlohmann::json;

constexpr milliseconds kPollInterval{5000};
constexpr int kWindowIntervals = 3;
constexpr int kClients = 50;
constexpr seconds kLoadTime{5};
constexpr int kListReads = 10;

// Every tenth projector is the one that stops answering in the second half.
bool Dead(int index) { return index % 10 == 5; }

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---- what the API says at one moment

struct Snapshot {
    std::map<std::string, double> polls, failures;
    std::map<std::string, long long> lastSeen;  // ms since the epoch; -1 never seen
    // Polled between the two reads of /metrics around the list: their last_seen may belong to
    // either count, so they are left out of the figures.
    std::set<std::string> unsettled;
};

// /metrics, the list, /metrics again.
std::optional<Snapshot> TakeSnapshot(httplib::Client& api) {
    const auto before = ReadProjectorMetrics(api);
    const auto list = GetJson(api, "/api/projectors");
    const auto after = ReadProjectorMetrics(api);
    if (!before || !list || !after || !list->is_object()) return std::nullopt;
    const auto family = [](const ProjectorMetrics& metrics, const std::string& name) {
        const auto found = metrics.find(name);
        return found == metrics.end() ? std::map<std::string, double>{} : found->second;
    };
    Snapshot snapshot;
    snapshot.polls = family(*after, "zolvaned_projector_polls_total");
    snapshot.failures = family(*after, "zolvaned_projector_poll_failures_total");
    const auto earlier = family(*before, "zolvaned_projector_polls_total");
    for (const auto& [name, polls] : snapshot.polls) {
        const auto found = earlier.find(name);
        if (found == earlier.end() || found->second != polls) snapshot.unsettled.insert(name);
    }
    for (const Json& p : list->value("projectors", Json::array())) {
        snapshot.lastSeen[p.value("name", "")] = StampMs(p.value("last_seen", Json()));
    }
    return snapshot;
}

// ---- measurements

struct Window {
    bool read = false;  // both snapshots were taken
    double seconds = 0;
    double cpuShare = 0;  // % of one core
    long rssMaxKb = 0, threadsMax = 0;
    std::vector<double> periods;  // ms, one per answering projector measured
    int unsettled = 0;            // answering projectors left out (see Snapshot)
    int unpolled = 0;             // answering projectors with no poll in the window
    double failedPolls = 0;       // of the answering projectors, over the window
    long exchanges = 0;           // frames the emulator took over the window, all projectors
};

// The service's cost and the answering projectors' poll periods over kWindowIntervals.
Window Watch(pid_t service, httplib::Client& api, emu::Emulator& fleet, int count, bool withDead) {
    Window window;
    const auto first = TakeSnapshot(api);
    for (int i = 0; i < count; ++i) fleet.clearFrames(static_cast<size_t>(i));
    const double cpu = CpuSeconds(service);
    const auto began = Clock::now();
    const auto end = began + kPollInterval * kWindowIntervals;
    while (Clock::now() < end) {
        window.rssMaxKb = std::max(window.rssMaxKb, StatusValue(service, "VmRSS"));
        window.threadsMax = std::max(window.threadsMax, StatusValue(service, "Threads"));
        std::this_thread::sleep_until(std::min(Clock::now() + seconds(1), end));
    }
    window.seconds = Seconds(Clock::now() - began);
    window.cpuShare = 100.0 * (CpuSeconds(service) - cpu) / window.seconds;
    for (int i = 0; i < count; ++i) {
        window.exchanges += static_cast<long>(fleet.frames(static_cast<size_t>(i)).size());
    }
    const auto last = TakeSnapshot(api);
    window.read = first && last;
    if (!window.read) return window;
    const auto at = [](const auto& map, const std::string& key) {
        const auto found = map.find(key);
        return found == map.end() ? typename std::decay_t<decltype(map)>::mapped_type{}
                                  : found->second;
    };
    for (int i = 0; i < count; ++i) {
        if (withDead && Dead(i)) continue;
        const std::string name = Name(i);
        if (first->unsettled.count(name) || last->unsettled.count(name)) {
            ++window.unsettled;
            continue;
        }
        const double polls = at(last->polls, name) - at(first->polls, name);
        window.failedPolls += at(last->failures, name) - at(first->failures, name);
        const long long from = at(first->lastSeen, name), to = at(last->lastSeen, name);
        if (polls <= 0 || from <= 0 || to <= from) {
            // Not polled at all: its period is at least the window.
            ++window.unpolled;
            window.periods.push_back(1000.0 * window.seconds);
            continue;
        }
        window.periods.push_back(static_cast<double>(to - from) / polls);
    }
    return window;
}

// kClients keep-alive clients reading one projector after another, a different one each time,
// for kLoadTime.
Latency Load(uint16_t port, int count) {
    ApiLoad load;
    load.clients = kClients;
    load.length = kLoadTime;
    load.path = AnyProjector(count);
    return LoadApi(port, load);
}

struct ListTimes {
    std::vector<double> ms;
    size_t bytes = 0;
    int failures = 0;
};

// GET /api/projectors kListReads times, one after another, nothing else asking.
ListTimes ReadList(uint16_t port) {
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_read_timeout(30, 0);
    ListTimes times;
    for (int i = 0; i < kListReads; ++i) {
        const auto start = Clock::now();
        const auto answer = client.Get("/api/projectors");
        const auto took = Clock::now() - start;
        if (answer && answer->status == 200) {
            times.ms.push_back(Ms(took));
            times.bytes = answer->body.size();
        } else {
            ++times.failures;
        }
    }
    return times;
}

struct Baseline {
    long exchanges = 0, failures = 0;
    double seconds = 0, userCpu = 0, systemCpu = 0;  // s
};

double CpuOf(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// `exchanges` raw get exchanges spread evenly over `length`, round the projectors, in this
// thread, with this thread's CPU time (the emulator answering them runs in a thread of its own).
Baseline RawExchanges(const emu::Emulator& fleet, int count, long exchanges, double length) {
    Baseline baseline;
    rusage before{}, after{};
    ::getrusage(RUSAGE_THREAD, &before);
    const auto start = Clock::now();
    const double step = exchanges > 0 ? length / static_cast<double>(exchanges) : 0;
    for (long k = 0; k < exchanges; ++k) {
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(step * static_cast<double>(k))));
        baseline.failures += !RawTcpGet(fleet.tcpPort(static_cast<size_t>(k % count)));
    }
    baseline.seconds = Seconds(Clock::now() - start);
    ::getrusage(RUSAGE_THREAD, &after);
    baseline.exchanges = exchanges;
    baseline.userCpu = CpuOf(after.ru_utime) - CpuOf(before.ru_utime);
    baseline.systemCpu = CpuOf(after.ru_stime) - CpuOf(before.ru_stime);
    return baseline;
}

// ---- one campus

struct Campus {
    int count = 0;
    bool started = false;
    std::string failure;  // why the run stopped short
    double onlineSeconds = 0;
    Window healthy, dead;
    Latency healthyLoad, deadLoad;
    ListTimes healthyList, deadList;
    int offline = 0;
    Baseline baseline;
    int exitStatus = 0;
    std::filesystem::path log;
};

void Progress(const Campus& campus, const char* what) {
    std::fprintf(stderr, "campus_bench %d: %s\n", campus.count, what);
}

Campus Run(int count) {
    Campus campus;
    campus.count = count;
    emu::Options options;
    options.count = static_cast<size_t>(count);
    options.frameLogLimit = 64;  // above the frames of one window, so they can be counted
    options.idleTimeout = milliseconds(0);
    emu::Emulator fleet(options);
    if (!StartEmulator(fleet)) {
        campus.failure = "the emulator did not start";
        return campus;
    }
    const std::filesystem::path dir = RunDirectory("campus-bench");
    campus.log = dir / "zolvaned.log";
    const uint16_t port = FreePort();
    const auto launched = Clock::now();
    const pid_t service =
        StartService(dir, InventoryHead(port, kPollInterval) + FloorProjectors(count, fleet));
    httplib::Client api("127.0.0.1", port);
    api.set_read_timeout(30, 0);
    Progress(campus, "waiting for every projector online");
    if (!WaitForReach(api, "online", count, seconds(30 + count / 20))) {
        campus.failure = "not every projector came online";
        Stop(service);
        return campus;
    }
    campus.started = true;
    campus.onlineSeconds = Seconds(Clock::now() - launched);

    std::this_thread::sleep_for(kPollInterval);  // the warm-up
    Progress(campus, "all answering: the service's cost and its poll periods");
    campus.healthy = Watch(service, api, fleet, count, false);
    Progress(campus, "all answering: the API under load");
    campus.healthyLoad = Load(port, count);
    campus.healthyList = ReadList(port);

    emu::FaultConfig never;
    never.kind = emu::FaultKind::NoReply;
    int dead = 0;
    for (int i = 0; i < count; ++i) {
        if (Dead(i)) {
            fleet.setFault(never, static_cast<size_t>(i));
            ++dead;
        }
    }
    Progress(campus, "waiting for the silent tenth offline");
    WaitForReach(api, "offline", dead, seconds(120));
    campus.offline = CountReach(api, "offline");
    std::this_thread::sleep_for(kPollInterval);
    Progress(campus, "a tenth silent: the service's cost and its poll periods");
    campus.dead = Watch(service, api, fleet, count, true);
    Progress(campus, "a tenth silent: the API under load");
    campus.deadLoad = Load(port, count);
    campus.deadList = ReadList(port);
    campus.exitStatus = Stop(service);

    for (int i = 0; i < count; ++i) fleet.clearFault(static_cast<size_t>(i));
    Progress(campus, "the raw client at the service's exchange rate");
    campus.baseline = RawExchanges(fleet, count, campus.healthy.exchanges, campus.healthy.seconds);
    fleet.stop();
    return campus;
}

// ---- the table

// The targets are those of a campus of 2000; a smaller one is held to them as well.
constexpr double kCpuTarget = 10.0;        // % of one core
constexpr long kRssTargetKb = 100 * 1024;  // kB
constexpr long kThreadsTarget = 50;        //
constexpr double kPeriodTolerance = 0.10;  // of the poll interval, either way
constexpr double kLatencyTargetMs = 10.0;  // p99

void WindowRows(const std::string& tag, const Window& w) {
    if (!w.read) {
        Row(tag + ": poll period", "the API could not be read");
        return;
    }
    Row(tag + ": service CPU", Format("%.2f %% of one core over %.0f s", w.cpuShare, w.seconds),
        "< 10 % core", w.cpuShare < kCpuTarget);
    Row(tag + ": service VmRSS (most seen)", Format("%.1f MB", w.rssMaxKb / 1024.0), "< 100 MB",
        w.rssMaxKb < kRssTargetKb);
    Row(tag + ": service threads (most seen)", Format("%ld", w.threadsMax), "< 50",
        w.threadsMax < kThreadsTarget);
    const double interval = static_cast<double>(kPollInterval.count());
    const double median = Quantile(w.periods, 0.5), worst = Quantile(w.periods, 1.0);
    const double least = Quantile(w.periods, 0.0);
    const bool met =
        !w.periods.empty() && std::abs(median - interval) <= kPeriodTolerance * interval &&
        worst <= (1 + kPeriodTolerance) * interval && least >= (1 - kPeriodTolerance) * interval;
    Row(tag + ": poll period of those answering",
        Format("median %.0f, worst %.0f ms (%zu measured)", median, worst, w.periods.size()),
        "5 s +-10 %", met);
    Row("  not measured (polled mid-read); not polled; failed",
        Format("%d; %d; %.0f polls", w.unsettled, w.unpolled, w.failedPolls));
}

void LoadRows(const std::string& tag, const Latency& l, const ListTimes& list) {
    const double p99 = Quantile(l.ms, 0.99);
    Row(tag + ": GET one projector, 50 clients",
        Format("median %.2f, p99 %.2f, max %.1f ms; %.0f/s; %ld failed", Quantile(l.ms, 0.5), p99,
               Quantile(l.ms, 1.0), static_cast<double>(l.ms.size()) / l.seconds, l.failures),
        "p99 < 10 ms", !l.ms.empty() && p99 < kLatencyTargetMs && l.failures == 0);
    Row(tag + ": GET /api/projectors, alone",
        Format("median %.1f, worst %.1f ms; %.0f kB; %d failed", Quantile(list.ms, 0.5),
               Quantile(list.ms, 1.0), static_cast<double>(list.bytes) / 1024.0, list.failures));
}

void CampusRows(const Campus& c) {
    const std::string n = std::to_string(c.count);
    std::printf("\n%d projectors, polled every %lld ms\n", c.count,
                static_cast<long long>(kPollInterval.count()));
    if (!c.started) {
        Row(n + ": run", c.failure + " (log: " + c.log.string() + ")", "", false);
        return;
    }
    Row(n + ": start to all online", Format("%.1f s", c.onlineSeconds));
    WindowRows(n + " answering", c.healthy);
    LoadRows(n + " answering", c.healthyLoad, c.healthyList);
    const int dead = (c.count + 4) / 10;
    Row(n + " 10% silent: offline", Format("%d of %d silent", c.offline, dead),
        Format("%d", dead).c_str(), c.offline == dead);
    WindowRows(n + " 10% silent", c.dead);
    LoadRows(n + " 10% silent", c.deadLoad, c.deadList);
    const Baseline& b = c.baseline;
    const double share = 100.0 * (b.userCpu + b.systemCpu) / std::max(b.seconds, 1e-9);
    Row(n + ": raw client, the service's exchanges",
        Format("%ld in %.0f s (%.0f/s), %ld failed", b.exchanges, b.seconds,
               static_cast<double>(b.exchanges) / std::max(b.seconds, 1e-9), b.failures));
    Row("  raw client CPU (user + system)",
        Format("%.2f %% of one core (%.2f + %.2f s); %.1f us an exchange", share, b.userCpu,
               b.systemCpu,
               1e6 * (b.userCpu + b.systemCpu) / std::max<double>(1, double(b.exchanges))));
    if (c.healthy.read && share > 0) {
        Row("  service CPU, all answering, over the raw client's",
            Format("%.1f times", c.healthy.cpuShare / share));
    }
    Row(n + ": SIGTERM to exit",
        Format("%s %d", WIFEXITED(c.exitStatus) ? "status" : "signal",
               WIFEXITED(c.exitStatus) ? WEXITSTATUS(c.exitStatus) : WTERMSIG(c.exitStatus)));
}

// Sockets for 2000 projectors, their listeners and the clients: as many as the hard limit lets.
void RaiseLimitForCampus() {
    const rlim_t limit = RaiseDescriptorLimit();
    if (limit != RLIM_INFINITY && limit < 8192) {
        std::fprintf(stderr, "campus_bench: only %llu descriptors; 2000 projectors want more\n",
                     static_cast<unsigned long long>(limit));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* quickEnv = std::getenv("CAMPUS_QUICK");
    const bool quick = (argc > 1 && std::string(argv[1]) == "quick") ||
                       (quickEnv && *quickEnv && std::string(quickEnv) != "0");
    RaiseLimitForCampus();
    ::signal(SIGPIPE, SIG_IGN);

    std::vector<Campus> campuses;
    for (const int count : quick ? std::vector<int>{200} : std::vector<int>{200, 2000}) {
        campuses.push_back(Run(count));
    }

    std::printf("campus_bench: zolvaned %s; %d API clients for %lld s; windows of %d polls\n",
                ServiceProgram().c_str(), kClients, static_cast<long long>(kLoadTime.count()),
                kWindowIntervals);
    std::printf("targets are those for 2000 projectors\n");
    bool all = true;
    for (const Campus& campus : campuses) {
        CampusRows(campus);
        all = all && campus.started;
    }
    std::printf("\nservice logs:");
    for (const Campus& campus : campuses) std::printf(" %s", campus.log.c_str());
    std::printf("\n");
    return all ? 0 : 1;
}
