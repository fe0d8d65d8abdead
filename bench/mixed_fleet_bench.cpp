// A mixed building: zolvaned, run as a child process, polls 200 projectors every 5 s, first all
// of our own make, then 100 of ours beside 100 of another make spoken to through PJLink (class 2,
// switched on, so that every poll asks input, blank and mute too). Both are served over loopback
// TCP by emulators inside this process. For each fleet, over 3 poll intervals after a warm-up of
// one: the service's CPU (utime + stime as a share of one core), its resident memory (VmRSS, the
// most seen), its threads (the most seen), and each kind's poll period (the window over the polls
// /metrics counted in it, median and worst). One table at the end; the mixed fleet is held to the
// all-native one measured in the same run.
//
// zolvaned is the one built beside this benchmark, or the program ZOLVANED names; its logs go to
// the run's temporary directories, named at the end.
#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "projector_emulator/emulator.h"
#include "projector_emulator/pjlink_emulator.h"
#include "service_api.h"
#include "service_harness.h"

namespace {

namespace emu = zolvane::emulator;
using namespace zolvane::bench;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr milliseconds kPollInterval{5000};
constexpr int kWindowIntervals = 3;
constexpr int kProjectors = 200;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The PJLink projectors are named after the native ones: "pj-0", "pj-1", ...
std::string PjlinkName(int index) { return "pj-" + std::to_string(index); }

std::string PjlinkTable(int index, uint16_t tcpPort) {
    return "\n[[projector]]\nname = \"" + PjlinkName(index) +
           "\"\naddress = \"pjlink://127.0.0.1:" + std::to_string(tcpPort) +
           "\"\ngroups = [\"pjlink\"]\n";
}

struct Fleet {
    std::string title;
    int native = 0, pjlink = 0;
    bool started = false;
    std::string failure;
    double seconds = 0, cpuShare = 0;
    long rssMaxKb = 0, threadsMax = 0;
    std::vector<double> nativePeriods, pjlinkPeriods;  // ms
    double failedPolls = 0;
    std::filesystem::path log;
};

std::map<std::string, double> Polls(httplib::Client& api, const char* family) {
    const auto metrics = ReadProjectorMetrics(api);
    if (!metrics) return {};
    const auto found = metrics->find(family);
    return found == metrics->end() ? std::map<std::string, double>{} : found->second;
}

Fleet Run(const std::string& title, int native, int pjlink) {
    Fleet fleet;
    fleet.title = title;
    fleet.native = native;
    fleet.pjlink = pjlink;

    emu::Options options;
    options.count = static_cast<size_t>(native);
    options.frameLogLimit = 64;
    options.idleTimeout = milliseconds(0);
    emu::Emulator ours(options);
    emu::PjlinkOptions others;
    others.count = static_cast<size_t>(std::max(pjlink, 1));
    others.projectorClass = 2;
    others.initiallyOn = true;
    emu::PjlinkEmulator theirs(others);
    std::string why;
    if (!StartEmulator(ours) || (pjlink > 0 && !theirs.start(&why))) {
        fleet.failure = "an emulator did not start " + why;
        return fleet;
    }

    const std::filesystem::path dir = RunDirectory("mixed-fleet-bench");
    fleet.log = dir / "zolvaned.log";
    const uint16_t port = FreePort();
    std::string inventory = InventoryHead(port, kPollInterval) + FloorProjectors(native, ours);
    for (int i = 0; i < pjlink; ++i) {
        inventory += PjlinkTable(i, theirs.tcpPort(static_cast<size_t>(i)));
    }
    const pid_t service = StartService(dir, inventory);
    httplib::Client api("127.0.0.1", port);
    api.set_read_timeout(30, 0);
    std::fprintf(stderr, "mixed_fleet_bench %s: waiting for every projector online\n",
                 title.c_str());
    if (!WaitForReach(api, "online", native + pjlink, seconds(60))) {
        fleet.failure = "not every projector came online";
        Stop(service);
        return fleet;
    }
    fleet.started = true;
    std::this_thread::sleep_for(kPollInterval);  // the warm-up

    const auto pollsBefore = Polls(api, "zolvaned_projector_polls_total");
    const auto failedBefore = Polls(api, "zolvaned_projector_poll_failures_total");
    const double cpu = CpuSeconds(service);
    const auto began = Clock::now();
    const auto end = began + kPollInterval * kWindowIntervals;
    while (Clock::now() < end) {
        fleet.rssMaxKb = std::max(fleet.rssMaxKb, StatusValue(service, "VmRSS"));
        fleet.threadsMax = std::max(fleet.threadsMax, StatusValue(service, "Threads"));
        std::this_thread::sleep_until(std::min(Clock::now() + seconds(1), end));
    }
    fleet.seconds = Seconds(Clock::now() - began);
    fleet.cpuShare = 100.0 * (CpuSeconds(service) - cpu) / fleet.seconds;
    const auto pollsAfter = Polls(api, "zolvaned_projector_polls_total");
    const auto failedAfter = Polls(api, "zolvaned_projector_poll_failures_total");
    const auto period = [&](const std::string& name) {
        const auto at = [&](const auto& map) {
            const auto found = map.find(name);
            return found == map.end() ? 0.0 : found->second;
        };
        const double polls = at(pollsAfter) - at(pollsBefore);
        fleet.failedPolls += at(failedAfter) - at(failedBefore);
        return polls > 0 ? 1000.0 * fleet.seconds / polls : 1000.0 * fleet.seconds;
    };
    for (int i = 0; i < native; ++i) fleet.nativePeriods.push_back(period(Name(i)));
    for (int i = 0; i < pjlink; ++i) fleet.pjlinkPeriods.push_back(period(PjlinkName(i)));
    Stop(service);
    return fleet;
}

void PeriodRow(const std::string& tag, const std::vector<double>& periods) {
    if (periods.empty()) return;
    const double interval = static_cast<double>(kPollInterval.count());
    const double median = Quantile(periods, 0.5), worst = Quantile(periods, 1.0);
    // Polls counted over a window of whole intervals: one more or less at either end.
    const double slack = interval / kWindowIntervals;
    Row(tag, Format("median %.0f, worst %.0f ms (%zu)", median, worst, periods.size()),
        "5 s, one poll either way", median <= interval + slack && worst <= interval + slack);
}

}  // namespace

int main() {
    RaiseDescriptorLimit();
    ::signal(SIGPIPE, SIG_IGN);
    const Fleet native = Run("all native", kProjectors, 0);
    const Fleet mixed = Run("mixed", kProjectors / 2, kProjectors / 2);

    std::printf(
        "mixed_fleet_bench: zolvaned %s; %d projectors every %lld ms; windows of %d polls\n",
        ServiceProgram().c_str(), kProjectors, static_cast<long long>(kPollInterval.count()),
        kWindowIntervals);
    for (const Fleet* fleet : {&native, &mixed}) {
        std::printf("\n%s: %d native, %d PJLink (class 2, on)\n", fleet->title.c_str(),
                    fleet->native, fleet->pjlink);
        if (!fleet->started) {
            Row(fleet->title + ": run", fleet->failure + " (log: " + fleet->log.string() + ")", "",
                false);
            continue;
        }
        Row(fleet->title + ": service CPU",
            Format("%.2f %% of one core over %.0f s", fleet->cpuShare, fleet->seconds));
        Row(fleet->title + ": service VmRSS (most seen)",
            Format("%.1f MB", static_cast<double>(fleet->rssMaxKb) / 1024.0));
        Row(fleet->title + ": service threads (most seen)", Format("%ld", fleet->threadsMax));
        PeriodRow(fleet->title + ": poll period, native", fleet->nativePeriods);
        PeriodRow(fleet->title + ": poll period, PJLink", fleet->pjlinkPeriods);
        Row(fleet->title + ": failed polls", Format("%.0f", fleet->failedPolls), "0",
            fleet->failedPolls == 0);
    }
    if (native.started && mixed.started) {
        std::printf("\nthe mixed fleet against the all-native one\n");
        // A PJLink poll is several lines over a connection kept open, where ours is a connection
        // and a frame per value: within twice the native cost, and a few MB beside it.
        Row("CPU, mixed over all native", Format("%.2f times", mixed.cpuShare / native.cpuShare),
            "< 2 times", mixed.cpuShare < 2 * native.cpuShare);
        const double more = static_cast<double>(mixed.rssMaxKb - native.rssMaxKb) / 1024.0;
        Row("VmRSS, mixed less all native", Format("%+.1f MB", more), "< 20 MB", more < 20);
        Row("threads, mixed less all native", Format("%+ld", mixed.threadsMax - native.threadsMax),
            "<= 4", mixed.threadsMax - native.threadsMax <= 4);
    }
    std::printf("\nservice logs: %s %s\n", native.log.c_str(), mixed.log.c_str());
    return native.started && mixed.started ? 0 : 1;
}
