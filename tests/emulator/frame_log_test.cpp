#include "emulator_fixture.h"

using namespace wire;
using zolvane::emulator::FaultConfig;
using zolvane::emulator::FaultKind;
using zolvane::emulator::Link;

namespace {

using FrameLogTest = EmulatorTest;

TEST_F(FrameLogTest, RecordsEachFrameWithItsReply) {
    const Frame set = makeFrame(kSet, 0x2003, 0x0102);
    Frame corrupt = makeFrame(kGet, 0x6000);
    corrupt[12] = 0x01;
    ASSERT_EQ(exchange(set), kNak) << "0x0102 is out of range";
    ASSERT_EQ(exchange(corrupt), kNak);

    const auto frames = emulator().frames();
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(frames[0].link, Link::Tcp);
    EXPECT_TRUE(std::equal(set.begin(), set.end(), frames[0].raw.begin()));
    EXPECT_EQ(frames[0].action, kSet);
    EXPECT_EQ(frames[0].type, 0x2003);
    EXPECT_EQ(frames[0].value, 0x0102);
    EXPECT_TRUE(frames[0].headerValid && frames[0].checksumValid);
    EXPECT_EQ(frames[0].reply, kNak);

    EXPECT_TRUE(frames[1].headerValid);
    EXPECT_FALSE(frames[1].checksumValid);
    EXPECT_EQ(frames[1].value, 0x0100);
}

TEST_F(FrameLogTest, RecordsWhatAFaultSent) {
    FaultConfig config;
    config.kind = FaultKind::NoReply;
    emulator().setFault(config);
    Connection connection = connect();
    connection.send(makeFrame(kGet, 0x6000));

    ASSERT_TRUE(emulator().waitForFrames(1, std::chrono::seconds{5}));
    EXPECT_TRUE(emulator().frames()[0].reply.empty());
    EXPECT_EQ(emulator().frames()[0].fault, FaultKind::NoReply);
}

TEST_F(FrameLogTest, ClearsAndWaitsForNewFrames) {
    ASSERT_EQ(exchange(kGet, 0x6000), valueReply(1));
    emulator().clearFrames();

    EXPECT_TRUE(emulator().frames().empty());
    EXPECT_FALSE(emulator().waitForFrames(1, std::chrono::milliseconds{50}));
}

}  // namespace
