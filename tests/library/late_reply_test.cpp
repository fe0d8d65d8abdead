// A reply that comes after its command has given up on it is never taken for the next command's
// answer: on a pseudo-terminal and through a serial-to-network bridge, within one process and
// across two runs of the command-line tool.
#include <arpa/inet.h>

#include <thread>

#include "child_process.h"
#include "emulated_projector.h"

namespace {

using namespace testing_support;
using cli_testing::Background;
using cli_testing::Finished;

constexpr uint16_t kContrast = 0x2004;
constexpr uint16_t kBrightness = 0x2003;

enum class Route { Serial, Bridge };
enum class Caller { Library, TwoRuns };

struct LateCase {
    const char* name;
    Route route;
    Caller caller;
    std::chrono::milliseconds delay;  // just past the link's own wait for a reply
};

void PrintTo(const LateCase& c, std::ostream* os) { *os << c.name; }

const LateCase kCases[] = {
    {"SerialInOneProcess", Route::Serial, Caller::Library, 1150ms},
    {"SerialAcrossTwoRuns", Route::Serial, Caller::TwoRuns, 1150ms},
    {"BridgeInOneProcess", Route::Bridge, Caller::Library, 3150ms},
    {"BridgeAcrossTwoRuns", Route::Bridge, Caller::TwoRuns, 3150ms},
};

class LateReply : public EmulatedProjector, public testing::WithParamInterface<LateCase> {
protected:
    // The projector's serial port offered on TCP by a bridge that opens the port for each
    // connection, the way such bridges keep the line free between clients.
    std::string startBridge() {
        const uint16_t port = ClosedLoopbackPort();
        bridge_ = std::make_unique<Background>(std::vector<std::string>{
            ZOLVANE_SOCAT, "-t", "0",
            "tcp-listen:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork",
            "file:" + device() + ",raw,echo=0"});
        for (int i = 0; i < 500 && !Listening(port); ++i) std::this_thread::sleep_for(10ms);
        return std::to_string(port);
    }

    static bool Listening(uint16_t port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }

private:
    std::unique_ptr<Background> bridge_;
};

TEST_P(LateReply, IsNeverTakenForTheNextCommandsAnswer) {
    const LateCase& c = GetParam();
    projector().setValue(kContrast, 100);
    projector().setValue(kBrightness, 50);

    std::vector<std::string> link;
    if (c.route == Route::Serial) {
        link = {"--serial", device()};
        useSerial();
    } else {
#ifndef ZOLVANE_SOCAT
        GTEST_SKIP() << "socat is not installed";
#else
        const std::string port = startBridge();
        link = {"--tcp", "127.0.0.1:" + port};
        ASSERT_EQ(ZV_SetConnection(2, "127.0.0.1", port.c_str()), 1);
#endif
    }
    emu::FaultConfig late;
    late.delay = c.delay;
    late.onlyType = kContrast;
    late.frameCount = 1;
    projector().setFault(late);

    if (c.caller == Caller::Library) {
        uint16_t value = 7;
        EXPECT_EQ(ZV_GetContrast(&value), 0);
        EXPECT_EQ(value, 7);
        EXPECT_EQ(ZV_GetBrightness(&value), 1);
        EXPECT_EQ(value, 50) << "the late contrast reply was read as brightness";
        EXPECT_EQ(ZV_GetContrast(&value), 1);
        EXPECT_EQ(value, 100) << "the line is back in step";
    } else {
        auto run = [&](const char* setting) {
            std::vector<std::string> argv{ZOLVANE_CLI};
            argv.insert(argv.end(), link.begin(), link.end());
            argv.insert(argv.end(), {"get", setting});
            return cli_testing::Run(argv);
        };
        const Finished timedOut = run("contrast");
        EXPECT_EQ(timedOut.status, 3) << timedOut.err;
        const Finished next = run("brightness");
        EXPECT_EQ(next.status, 0) << next.err;
        EXPECT_EQ(next.out, "50\n") << "the late contrast reply was read as brightness";
        EXPECT_EQ(run("contrast").out, "100\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Links, LateReply, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
