// One get exchange against the emulated projector: through the library, and through a minimal
// client doing the same open-send-receive-close by hand, in the same run, over loopback TCP and
// over a pseudo-terminal.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "projector_emulator/emulator.h"
#include "raw_client.h"
#include "zolvane.h"

namespace {

namespace emu = zolvane::emulator;
using zolvane::bench::kGetPower;
using zolvane::bench::RawTcpGet;
using zolvane::bench::ReadExactly;

emu::Emulator& Projector() {
    static emu::Emulator* projector = [] {
        emu::Options options;
        options.pty = true;
        auto* p = new emu::Emulator(options);
        if (!p->start()) std::abort();
        return p;
    }();
    return *projector;
}

bool RawSerialGet(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    uint8_t reply[3];
    const bool ok = ::write(fd, kGetPower, sizeof kGetPower) == sizeof kGetPower &&
                    ReadExactly(fd, reply, 3) && reply[0] == 0x1D;
    ::close(fd);
    return ok;
}

void BM_TcpGet_Library(benchmark::State& state) {
    const std::string port = std::to_string(Projector().tcpPort());
    ZV_SetConnection(2, "127.0.0.1", port.c_str());
    for (auto _ : state) {
        uint16_t value;
        if (ZV_GetPower(&value) != 1) state.SkipWithError("exchange failed");
    }
}

void BM_TcpGet_RawClient(benchmark::State& state) {
    const uint16_t port = Projector().tcpPort();
    for (auto _ : state) {
        if (!RawTcpGet(port)) state.SkipWithError("exchange failed");
    }
}

void BM_SerialGet_Library(benchmark::State& state) {
    ZV_SetConnection(1, Projector().ptyPath().c_str(), "");
    for (auto _ : state) {
        uint16_t value;
        if (ZV_GetPower(&value) != 1) state.SkipWithError("exchange failed");
    }
}

void BM_SerialGet_RawClient(benchmark::State& state) {
    const std::string device = Projector().ptyPath();
    for (auto _ : state) {
        if (!RawSerialGet(device)) state.SkipWithError("exchange failed");
    }
}

BENCHMARK(BM_TcpGet_Library)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_TcpGet_RawClient)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_SerialGet_Library)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_SerialGet_RawClient)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
