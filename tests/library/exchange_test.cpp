// What a reply means for each kind of command, over both links, as seen by callers of the
// exported functions and by the exchange's result codes.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "connection.h"
#include "emulated_projector.h"
#include "frame.h"

namespace {

using namespace testing_support;
using zolvane::ResultCode;

class Exchange : public EmulatedProjector, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        EmulatedProjector::SetUp();
        if (GetParam()) {
            useSerial();
        } else {
            useNetwork();
        }
    }

    ResultCode run(uint16_t action, uint16_t type, uint16_t* value = nullptr) {
        uint8_t frame[zolvane::kFrameLength];
        zolvane::BuildCommandFrame(action, type, 0, frame);
        return zolvane::ExchangeCommand(action == zolvane::ActionGet, frame, sizeof frame, value);
    }
};

struct ReplyCase {
    std::vector<uint8_t> reply;
    bool getSucceeds;
    bool othersSucceed;
};

TEST_P(Exchange, EachReplyMeansWhatTheActionNeeds) {
    const std::vector<ReplyCase> cases = {
        {{0x06}, false, true},
        {{0x15}, false, false},
        {{0x1D, 0x34, 0x12}, true, false},
        {{0x1D, 0xFF, 0xFF}, true, false},
        {{0x55, 0xAA, 0x55}, false, false},
    };
    for (const ReplyCase& c : cases) {
        replyWith(c.reply);
        uint16_t value = 0xBEEF;
        EXPECT_EQ(run(zolvane::ActionGet, 0x2003, &value) == zolvane::ResultOk, c.getSucceeds);
        const uint16_t expected =
            c.getSucceeds ? static_cast<uint16_t>(c.reply[1] | c.reply[2] << 8) : 0xBEEF;
        EXPECT_EQ(value, expected) << "a failed get leaves the value alone";
        for (uint16_t action : {zolvane::ActionSet, zolvane::ActionIncrement,
                                zolvane::ActionDecrement, zolvane::ActionExecute}) {
            EXPECT_EQ(run(action, 0x2003) == zolvane::ResultOk, c.othersSucceed)
                << "action " << action << " reply " << int(c.reply[0]);
        }
        EXPECT_EQ(run(zolvane::ActionSet, 0x2003),
                  c.othersSucceed ? zolvane::ResultOk : zolvane::ResultBadReply);
    }
}

TEST_P(Exchange, ExportedFunctionsRoundTripThroughTheProjector) {
    ASSERT_EQ(ZV_SetBrightness(140), 1);
    EXPECT_EQ(projector().value(0x2003), 140);
    uint16_t value = 0;
    ASSERT_EQ(ZV_GetBrightness(&value), 1);
    EXPECT_EQ(value, 140);
    EXPECT_EQ(ZV_IncrementBrightness(), 1);
    EXPECT_EQ(ZV_ResetBrightness(), 1);
    EXPECT_EQ(projector().value(0x2003), 128);
    EXPECT_EQ(ZV_SetBrightness(200), 0) << "out of range is refused";
    EXPECT_EQ(ZV_GetBrightness(nullptr), 0);

    const auto frames = projector().frames();
    ASSERT_EQ(frames.size(), 5u) << "the null get sends nothing";
    EXPECT_EQ(frames[3].type, 0x7000) << "a reset sends its own type code";
    for (const auto& f : frames) EXPECT_TRUE(f.checksumValid);
}

TEST_P(Exchange, ARefusalLeavesTheLibraryUsable) {
    inject(emu::FaultKind::Nak);
    uint16_t value = 1;
    EXPECT_EQ(ZV_GetPower(&value), 0);
    EXPECT_EQ(value, 1);
    projector().clearFault();
    EXPECT_EQ(ZV_GetPower(&value), 1);
}

TEST_P(Exchange, RepliesThatArriveInPiecesAreCollected) {
    for (auto kind : {emu::FaultKind::Split, emu::FaultKind::Trickle}) {
        inject(kind, 40ms);
        uint16_t value = 0xBEEF;
        EXPECT_EQ(run(zolvane::ActionGet, 0x2001, &value), zolvane::ResultOk);
        EXPECT_EQ(value, projector().value(0x2001));
        EXPECT_EQ(run(zolvane::ActionSet, 0x2001), zolvane::ResultOk);
    }
}

TEST_P(Exchange, ConcurrentCallersNeverInterleaveFrames) {
    constexpr int kThreads = 4;
    constexpr int kCalls = 20;
    std::atomic<int> failures = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                uint16_t value = 0;
                const bool ok = (t % 2 == 0) ? ZV_SetVolume(t + i % 10) == 1
                                             : ZV_GetVolume(&value) == 1 && value <= 32;
                if (!ok) ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures, 0);
    const auto frames = projector().frames();
    EXPECT_EQ(frames.size(), static_cast<size_t>(kThreads * kCalls));
    for (const auto& f : frames) EXPECT_TRUE(f.headerValid && f.checksumValid);
}

INSTANTIATE_TEST_SUITE_P(Links, Exchange, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Serial" : "Tcp"; });

}  // namespace
