// Hundreds of projectors by name, a tenth of them dead, with only two jobs: every projector's
// first exchange goes out at once, so the dead ones time out together and each projector still
// gets exactly the frames of its own run.
#include <chrono>
#include <sstream>

#include "cli_test.h"

namespace cli_testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class ManyTargets : public CliTest {};

TEST_F(ManyTargets, TheDeadTimeOutTogetherAndEveryProjectorIsAskedOnce) {
    constexpr std::size_t kCount = 300;
    emu::Options options;
    options.count = kCount;
    emu::Emulator site(options);
    std::string error;
    ASSERT_TRUE(site.start(&error)) << error;
    std::string text = "[defaults]\nreceive_timeout_ms = 2000\n";
    for (std::size_t i = 0; i < kCount; ++i) {
        text += "[[projector]]\nname = \"p" + std::to_string(i) +
                "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(site.tcpPort(i)) + "\"\n";
        if (i % 10 == 0) {
            emu::FaultConfig silent;
            silent.kind = emu::FaultKind::NoReply;
            site.setFault(silent, i);
        }
    }
    writeFile(scratch() / "inventory.toml", text);

    const auto began = Clock::now();
    const Finished finished = Zolvane({"-i", (scratch() / "inventory.toml").string(), "--jobs", "2",
                                       "@all", "get", "Brightness"});
    const auto took = Clock::now() - began;

    EXPECT_EQ(finished.status, 3) << finished.err;
    EXPECT_NE(finished.err.find("300 projectors: 270 done, 0 refused, 30 unreachable"),
              std::string::npos)
        << finished.err;
    std::size_t answered = 0;
    std::istringstream lines(finished.out);
    for (std::string line; std::getline(lines, line);) answered += line.ends_with(": 128");
    EXPECT_EQ(answered, 270u);
    for (std::size_t i = 0; i < kCount; ++i) {
        EXPECT_EQ(site.frames(i).size(), 1u) << "p" << i;
    }
    // One job at a time per dead projector would be fifteen time-outs of two seconds each.
    EXPECT_LT(took, 15s);
    site.stop();
}

}  // namespace
}  // namespace cli_testing
