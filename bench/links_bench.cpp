// Exchanges per second over link handles with 1, 8 and 64 links in parallel (one thread and
// one projector per link) over loopback TCP, and one exchange on one link against a minimal
// client doing the same connect-send-receive-close by hand.
//
// The 64 projectors are one projector-emulator process serving a fleet (--count 64): the one
// built beside this benchmark, or the program ZOLVANE_EMULATOR names. Where neither starts,
// 64 emulators inside this process stand in, and the first line of output says so.
#include <benchmark/benchmark.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "projector_emulator/emulator.h"
#include "raw_client.h"
#include "zolvane_link.h"

namespace {

namespace emu = zolvane::emulator;

constexpr int kProjectors = 64;
constexpr uint16_t kPower = 0x6000;
// Starts the fleet and reads its "tcp 127.0.0.1:PORT" lines, one per projector, up to "ready".
// The process ends with this one, whichever way this one ends.
std::vector<uint16_t> FleetProcess(const char* program) {
    int out[2];
    if (::pipe(out) != 0) return {};
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        const std::string count = std::to_string(kProjectors);
        ::execl(program, program, "--count", count.c_str(), "--port", "0",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::vector<uint16_t> ports;
    FILE* lines = child > 0 ? ::fdopen(out[0], "r") : nullptr;  // kept open while it runs
    char line[256];
    while (lines != nullptr && std::fgets(line, sizeof line, lines) != nullptr) {
        unsigned port = 0;
        if (std::sscanf(line, "tcp 127.0.0.1:%u", &port) == 1) ports.push_back(port);
        if (std::string(line).rfind("ready", 0) == 0) break;
    }
    return ports;
}

const std::vector<uint16_t>& Ports() {
    static const std::vector<uint16_t> ports = [] {
        const char* program = std::getenv("ZOLVANE_EMULATOR");
        std::vector<uint16_t> fleet = FleetProcess(program ? program : ZOLVANE_EMULATOR_PATH);
        if (fleet.size() == kProjectors) return fleet;
        std::fprintf(stderr, "no fleet emulator: %d projectors in this process instead\n",
                     kProjectors);
        std::vector<uint16_t> local;
        for (int i = 0; i < kProjectors; ++i) {
            auto* projector = new emu::Emulator();  // lives as long as the process
            if (!projector->start()) std::abort();
            local.push_back(projector->tcpPort());
        }
        return local;
    }();
    return ports;
}

std::string Address(int index) {
    return "tcp://127.0.0.1:" + std::to_string(Ports()[static_cast<size_t>(index)]);
}

// Each benchmark thread exchanges on a link of its own, to a projector of its own; with one
// thread this is the time of one exchange on one link.
void BM_ParallelLinks(benchmark::State& state) {
    zv_link* link = zv_link_open(Address(state.thread_index()).c_str(), nullptr);
    uint16_t value = 0;
    for (auto _ : state) {
        if (zv_get(link, kPower, &value) != ZV_RESULT_OK) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    zv_link_close(link);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParallelLinks)->Threads(1)->Threads(8)->Threads(64)->UseRealTime();

// The same exchange as BM_ParallelLinks/threads:1, by hand, for the 1.2x comparison.
void BM_OneRawClient(benchmark::State& state) {
    const uint16_t port = Ports()[0];
    for (auto _ : state) {
        if (!zolvane::bench::RawTcpGet(port)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}
BENCHMARK(BM_OneRawClient)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
