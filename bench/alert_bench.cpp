// What the alerts cost the polling: two zolvaned side by side watch the same 200 emulated
// projectors, polled every 2 s. One has no [[alert]]; the other has a lamp_hours rule on every
// projector whose warning level 20 of them are past (so 20 alerts fire and stay open), telling a
// webhook that points at a socket which accepts connections and never answers (each try waits
// out its 10 s time-out, then 1 s before the next). Over the same window of 40 s, as benchmark
// counters:
//   - the polling period and the exchange time of the 180 projectors without an alert, from
//     /metrics (zolvaned_projector_poll_duration_seconds: its _count over the window gives the
//     period, its _sum over its _count the exchange time), in each service, and the change.
//     Target: unchanged within 5 %;
//   - each service's CPU per poll cycle (utime + stime of /proc/PID/stat over the window, by the
//     cycles in it) and the difference as a share of one core. Target: the engine and its
//     stuck notifier under 1 % of one core.
//
// zolvaned is the one built beside this benchmark, or the program ZOLVANED names. Its logs and
// databases stay in the run's temporary directory, named in the benchmark's label.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "projector_emulator/emulator.h"
#include "service_api.h"
#include "service_harness.h"

namespace {

namespace emu = zolvane::emulator;
using namespace zolvane::bench;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kProjectors = 200;
constexpr milliseconds kPollInterval{2000};
constexpr seconds kSettle{6};
constexpr seconds kWindow{40};
constexpr std::uint16_t kLampTime = 0x1090;
constexpr unsigned kLampWarning = 4000;
constexpr std::uint16_t kLampWorn = 5000;  // the alerting projectors' lamp hours
constexpr double kMostChangePercent = 5;
constexpr double kMostEnginePercent = 1;

// Every tenth projector: 20 of the 200, one or two on each floor.
bool Alerting(int index) { return index % 10 == 0; }

std::string Inventory(uint16_t port, const emu::Emulator& fleet,
                      const std::filesystem::path& database, std::optional<uint16_t> hookPort) {
    std::string text = InventoryHead(port, kPollInterval);
    text.insert(text.find("\n\n"), "\ndatabase = \"" + database.string() + "\"");
    if (hookPort) {
        text += "\n[[alert]]\nname = \"lamp-worn\"\nkind = \"lamp_hours\"\ntargets = [\"@all\"]\n" +
                std::string("warning = ") + std::to_string(kLampWarning) +
                "\nnotifiers = [\"stuck-hook\"]\n\n[[notifier]]\nname = \"stuck-hook\"\n"
                "kind = \"webhook\"\nurl = \"http://127.0.0.1:" +
                std::to_string(*hookPort) +
                "/hook\"\ntimeout_seconds = 10\nretry_seconds = 1\nretry_max_seconds = 1\n";
    }
    return text + FloorProjectors(kProjectors, fleet);
}

// The poll durations' sum and count, added over the projectors without an alert.
struct Polls {
    double seconds = 0;
    double count = 0;
};

// The projector's index of a sample's labels ({projector="p042"}); -1 when it names none.
int ProjectorOf(const std::string& line) {
    const std::size_t at = line.find("{projector=\"p");
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 13);
}

std::optional<Polls> ReadPolls(httplib::Client& api) {
    const auto answer = api.Get("/metrics");
    if (!answer || answer->status != 200) return std::nullopt;
    Polls polls;
    std::istringstream lines(answer->body);
    const std::string family = "zolvaned_projector_poll_duration_seconds";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(family, 0) != 0) continue;
        const int index = ProjectorOf(line);
        if (index < 0 || Alerting(index)) continue;
        const double value = std::atof(line.c_str() + line.rfind(' ') + 1);
        if (line.compare(family.size(), 5, "_sum{") == 0) polls.seconds += value;
        if (line.compare(family.size(), 7, "_count{") == 0) polls.count += value;
    }
    return polls;
}

// A sample without labels of /metrics; NaN when it is not there.
double ServiceValue(httplib::Client& api, const std::string& name) {
    const auto answer = api.Get("/metrics");
    if (!answer || answer->status != 200) return std::nan("");
    const std::string head = "\n" + name + " ";
    const std::size_t at = answer->body.find(head);
    return at == std::string::npos ? std::nan("")
                                   : std::atof(answer->body.c_str() + at + head.size());
}

bool WaitFor(auto condition, seconds timeout) {
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(milliseconds(250));
    }
    return false;
}

// One service's figures over the window.
struct Figures {
    double periodMs = 0;
    double exchangeMs = 0;
    double cpuMsPerCycle = 0;
    double corePercent = 0;
};

Figures Measured(const Polls& before, const Polls& after, double cpuSeconds) {
    const double polls = after.count - before.count;
    const double quiet = kProjectors - kProjectors / 10;
    const double window = static_cast<double>(kWindow.count());
    const double cycles = window * 1000.0 / static_cast<double>(kPollInterval.count());
    return {polls > 0 ? 1000.0 * window * quiet / polls : 0,
            polls > 0 ? 1000.0 * (after.seconds - before.seconds) / polls : 0,
            1000.0 * cpuSeconds / cycles, 100.0 * cpuSeconds / window};
}

double ChangePercent(double with, double without) {
    return without > 0 ? 100.0 * (with - without) / without : 0;
}

void BM_AlertsBesidePolling(benchmark::State& state) {
    const std::string program = ServiceProgram();
    emu::Options options;
    options.count = kProjectors;
    options.frameLogLimit = 16;
    options.idleTimeout = milliseconds(0);
    emu::Emulator fleet(options);
    if (!StartEmulator(fleet)) return state.SkipWithError("the emulator did not start");
    for (int i = 0; i < kProjectors; ++i) {
        if (Alerting(i)) fleet.setValue(kLampTime, kLampWorn, static_cast<std::size_t>(i));
    }
    // The webhook's receiver: the kernel completes each connection, nobody ever reads it.
    uint16_t hookPort = 0;
    const int hook = BoundToLoopback(hookPort);
    ::listen(hook, 64);

    const std::filesystem::path dir = RunDirectory("alert-bench");
    const uint16_t plainPort = FreePort();
    const uint16_t alertPort = FreePort();
    std::ofstream(dir / "plain.toml") << Inventory(plainPort, fleet, dir / "plain.sqlite", {});
    std::ofstream(dir / "alerts.toml")
        << Inventory(alertPort, fleet, dir / "alerts.sqlite", hookPort);
    const pid_t plain =
        Start({program, "--inventory", (dir / "plain.toml").string()}, dir / "plain.log");
    const pid_t alerting =
        Start({program, "--inventory", (dir / "alerts.toml").string()}, dir / "alerts.log");
    state.SetLabel("logs in " + dir.string());
    httplib::Client plainApi("127.0.0.1", plainPort);
    httplib::Client alertApi("127.0.0.1", alertPort);
    const auto fail = [&](const char* why) {
        Stop(plain);
        Stop(alerting);
        ::close(hook);
        state.SkipWithError(why);
    };
    if (!WaitForReach(plainApi, "online", kProjectors, seconds(40)) ||
        !WaitForReach(alertApi, "online", kProjectors, seconds(40))) {
        return fail("the services did not see every projector online");
    }
    if (!WaitFor(
            [&] { return ServiceValue(alertApi, "zolvaned_alerts_firing") == kProjectors / 10; },
            seconds(60))) {
        return fail("the 20 alerts did not fire");
    }
    std::this_thread::sleep_for(kSettle);

    for (auto _ : state) {
        const auto plainBefore = ReadPolls(plainApi);
        const auto alertBefore = ReadPolls(alertApi);
        const double plainCpu = CpuSeconds(plain);
        const double alertCpu = CpuSeconds(alerting);
        std::this_thread::sleep_for(kWindow);
        const double plainSpent = CpuSeconds(plain) - plainCpu;
        const double alertSpent = CpuSeconds(alerting) - alertCpu;
        const auto plainAfter = ReadPolls(plainApi);
        const auto alertAfter = ReadPolls(alertApi);
        state.SetIterationTime(static_cast<double>(kWindow.count()));
        if (!plainBefore || !alertBefore || !plainAfter || !alertAfter) {
            return fail("/metrics could not be read");
        }
        const Figures without = Measured(*plainBefore, *plainAfter, plainSpent);
        const Figures with = Measured(*alertBefore, *alertAfter, alertSpent);
        const double periodChange = ChangePercent(with.periodMs, without.periodMs);
        const double exchangeChange = ChangePercent(with.exchangeMs, without.exchangeMs);
        const double engine = with.corePercent - without.corePercent;
        state.counters["period_ms"] = without.periodMs;
        state.counters["period_ms_alerts"] = with.periodMs;
        state.counters["period_change_pct"] = periodChange;
        state.counters["exchange_ms"] = without.exchangeMs;
        state.counters["exchange_ms_alerts"] = with.exchangeMs;
        state.counters["exchange_change_pct"] = exchangeChange;
        state.counters["cpu_ms_per_cycle"] = without.cpuMsPerCycle;
        state.counters["cpu_ms_per_cycle_alerts"] = with.cpuMsPerCycle;
        state.counters["engine_core_pct"] = engine;
        state.counters["alerts_firing"] = ServiceValue(alertApi, "zolvaned_alerts_firing");
        // The webhook's tries that timed out, and what still waits for it: it was kept busy.
        const std::string hook = "{notifier=\"stuck-hook\",kind=\"webhook\"}";
        state.counters["hook_failures"] =
            ServiceValue(alertApi, "zolvaned_notifier_failures_total" + hook);
        state.counters["hook_pending"] = ServiceValue(alertApi, "zolvaned_notifier_pending" + hook);
        state.counters["targets_met"] = std::abs(periodChange) < kMostChangePercent &&
                                        std::abs(exchangeChange) < kMostChangePercent &&
                                        engine < kMostEnginePercent;
    }
    Stop(plain);
    Stop(alerting);
    ::close(hook);
}

BENCHMARK(BM_AlertsBesidePolling)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
