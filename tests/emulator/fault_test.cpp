#include <poll.h>

#include "emulator_fixture.h"

using namespace wire;
using zolvane::emulator::FaultConfig;
using zolvane::emulator::FaultKind;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint16_t kPower = 0x6000;
constexpr std::uint16_t kBrightness = 0x2003;
const Frame kGetPower = makeFrame(kGet, kPower);

using FaultTest = EmulatorTest;

FaultConfig fault(FaultKind kind) {
    FaultConfig config;
    config.kind = kind;
    return config;
}

TEST_F(FaultTest, NakRefusesAndChangesNothing) {
    emulator().setFault(fault(FaultKind::Nak));

    EXPECT_EQ(exchange(kSet, kBrightness, 150), kNak);
    EXPECT_EQ(emulator().value(kBrightness), 128);
}

TEST_F(FaultTest, GarbageReplacesTheReply) {
    emulator().setFault(fault(FaultKind::Garbage));
    EXPECT_EQ(exchange(kGetPower), (Bytes{0x55, 0xAA, 0x55}));

    FaultConfig custom = fault(FaultKind::Garbage);
    custom.garbage = {0x1E, 0x00, 0x00};
    emulator().setFault(custom);
    EXPECT_EQ(exchange(kGetPower), (Bytes{0x1E, 0x00, 0x00}));
}

TEST_F(FaultTest, OverlongPadsTheRealReply) {
    emulator().setFault(fault(FaultKind::Overlong));
    Connection connection = connect();
    connection.send(kGetPower);

    const Bytes reply = connection.read(70);
    ASSERT_EQ(reply.size(), 70U);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 3), valueReply(1));
    EXPECT_TRUE(connection.read(1, std::chrono::milliseconds{200}).empty());
}

TEST_F(FaultTest, NoReplyStillCarriesOutTheCommand) {
    emulator().setFault(fault(FaultKind::NoReply));
    Connection connection = connect();
    connection.send(makeFrame(kSet, kBrightness, 150));

    EXPECT_TRUE(connection.read(1, std::chrono::milliseconds{500}).empty());
    EXPECT_FALSE(connection.peerClosed());
    EXPECT_EQ(emulator().value(kBrightness), 150);
}

TEST_F(FaultTest, CloseEndsTheConnectionWithoutAReply) {
    emulator().setFault(fault(FaultKind::Close));
    Connection connection = connect();
    connection.send(kGetPower);

    EXPECT_TRUE(connection.read(1).empty());
    EXPECT_TRUE(connection.peerClosed());
}

// Only lower bounds on time: a fault may never deliver early, but a busy machine may be late.
TEST_F(FaultTest, SplitAndTrickleDeliverTheWholeReplyAfterTheirPauses) {
    const std::chrono::milliseconds pause{150};
    struct Case {
        FaultKind kind;
        int pauses;
    };
    for (const Case& c : {Case{FaultKind::Split, 1}, Case{FaultKind::Trickle, 2}}) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        FaultConfig config = fault(c.kind);
        config.pause = pause;
        emulator().setFault(config);

        const auto sent = Clock::now();
        EXPECT_EQ(exchange(kGetPower), valueReply(1));
        EXPECT_GE(Clock::now() - sent, c.pauses * pause);
    }
}

TEST_F(FaultTest, DelayHoldsBackTheReply) {
    FaultConfig config;
    config.delay = std::chrono::milliseconds{300};
    emulator().setFault(config);

    const auto sent = Clock::now();
    EXPECT_EQ(exchange(kGetPower), valueReply(1));
    EXPECT_GE(Clock::now() - sent, config.delay);
}

TEST_F(FaultTest, ADelayedReplyDoesNotHoldUpOtherClients) {
    FaultConfig config;
    config.delay = std::chrono::milliseconds{2000};
    config.onlyType = kBrightness;
    emulator().setFault(config);

    Connection slow = connect();
    slow.send(makeFrame(kGet, kBrightness));
    ASSERT_TRUE(emulator().waitForFrames(1, std::chrono::seconds{5}));

    EXPECT_EQ(exchange(kGetPower), valueReply(1));
    EXPECT_TRUE(slow.read(1, std::chrono::milliseconds{0}).empty()) << "still waiting";
    EXPECT_EQ(slow.readReply(std::chrono::seconds{10}), valueReply(128));
}

TEST_F(FaultTest, FaultsCanBeLimitedToATypeAndToSomeFrames) {
    FaultConfig config = fault(FaultKind::Nak);
    config.onlyType = kBrightness;
    config.frameCount = 2;
    emulator().setFault(config);

    EXPECT_EQ(exchange(kGetPower), valueReply(1)) << "another type code is not counted";
    EXPECT_EQ(exchange(kGet, kBrightness), kNak);
    EXPECT_EQ(exchange(kGet, kBrightness), kNak);
    EXPECT_EQ(exchange(kGet, kBrightness), valueReply(128));
}

TEST_F(FaultTest, StopCutsAPendingDelayShort) {
    FaultConfig config;
    config.delay = std::chrono::seconds{60};
    emulator().setFault(config);
    Connection connection = connect();
    connection.send(kGetPower);
    ASSERT_TRUE(emulator().waitForFrames(1, std::chrono::seconds{5}));

    const auto stopping = Clock::now();
    emulator().stop();
    EXPECT_LT(Clock::now() - stopping, std::chrono::seconds{10});
    EXPECT_TRUE(connection.read(1).empty());
}

TEST_F(FaultTest, PerSettingControlsRefuseAndForce) {
    emulator().refuseSet(kBrightness, true);
    emulator().failGet(kPower, true);

    EXPECT_EQ(exchange(kSet, kBrightness, 130), kNak);
    EXPECT_EQ(exchange(kIncrement, kBrightness), kNak);
    EXPECT_EQ(exchange(kGet, kBrightness), valueReply(128));
    EXPECT_EQ(exchange(kGetPower), kNak);

    emulator().refuseSet(kBrightness, false);
    emulator().failGet(kPower, false);
    EXPECT_EQ(exchange(kSet, kBrightness, 130), kAck);
    EXPECT_EQ(exchange(kGetPower), valueReply(1));

    ASSERT_TRUE(emulator().setValue(0x2008, 7)) << "aspect 7 is no listed choice";
    EXPECT_EQ(exchange(kGet, 0x2008), valueReply(7));
    EXPECT_FALSE(emulator().setValue(0x1234, 1));
}

}  // namespace
