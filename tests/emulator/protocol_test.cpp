#include "emulator_fixture.h"

using namespace wire;

namespace {

constexpr std::uint16_t kPower = 0x6000;
constexpr std::uint16_t kBrightness = 0x2003;
constexpr std::uint16_t kAspect = 0x2008;
constexpr std::uint16_t kVolume = 0x2001;
constexpr std::uint16_t kMagnify = 0x3007;
constexpr std::uint16_t kLampTime = 0x1090;

using ProtocolTest = EmulatorTest;

TEST_F(ProtocolTest, AnswersTheWorkedFramesByteForByte) {
    emulator().setPower(zolvane::emulator::PowerState::Off);
    const Frame setPowerOn{0xBE, 0xEF, 0x03, 0x06, 0x00, 0xBA, 0xD2,
                           0x01, 0x00, 0x00, 0x60, 0x01, 0x00};
    const Frame getPower{0xBE, 0xEF, 0x03, 0x06, 0x00, 0x19, 0xD3,
                         0x02, 0x00, 0x00, 0x60, 0x00, 0x00};

    EXPECT_EQ(exchange(setPowerOn), kAck);
    EXPECT_EQ(exchange(getPower), valueReply(1));
}

TEST_F(ProtocolTest, ServesSeveralFramesOnOneConnection) {
    Connection connection = connect();
    EXPECT_EQ(connection.exchange(makeFrame(kSet, kBrightness, 140)), kAck);
    EXPECT_EQ(connection.exchange(makeFrame(kGet, kBrightness)), valueReply(140));
    EXPECT_EQ(connection.exchange(makeFrame(kGet, kVolume)), valueReply(16));
}

TEST_F(ProtocolTest, RefusesMalformedAndUnknownCommands) {
    Frame badChecksum = makeFrame(kGet, kPower);
    badChecksum[6] ^= 0x01;
    Frame badHeader = makeFrame(kGet, kPower);
    badHeader[2] = 0x04;

    EXPECT_EQ(exchange(badChecksum), kNak);
    EXPECT_EQ(exchange(badHeader), kNak);
    EXPECT_EQ(exchange(kGet, 0x1234), kNak) << "unknown type code";
    EXPECT_EQ(exchange(3, kBrightness), kNak) << "action 3 is not used";
    EXPECT_EQ(exchange(kIncrement, kAspect), kNak) << "an enumeration has no steps";
    EXPECT_EQ(exchange(kSet, kLampTime, 0), kNak) << "lamp time is read-only";
    EXPECT_EQ(exchange(kGet, 0x2014), kNak) << "slotkeep load cannot be read";
    EXPECT_EQ(exchange(kExecute, kBrightness), kNak) << "a reset uses its own type code";
}

TEST_F(ProtocolTest, StoresOnlyValuesInsideTheRange) {
    EXPECT_EQ(exchange(kSet, kBrightness, 161), kNak);
    EXPECT_EQ(exchange(kSet, kBrightness, 95), kNak);
    EXPECT_EQ(exchange(kGet, kBrightness), valueReply(128));
    EXPECT_EQ(exchange(kSet, kBrightness, 160), kAck);
    EXPECT_EQ(exchange(kGet, kBrightness), valueReply(160));

    EXPECT_EQ(exchange(kSet, kAspect, 3), kNak) << "3 is between allowed choices";
    EXPECT_EQ(exchange(kSet, kAspect, 16), kAck);
    EXPECT_EQ(emulator().value(kAspect), 16);
}

TEST_F(ProtocolTest, StepsMoveOneAndStopAtTheEnds) {
    ASSERT_EQ(exchange(kSet, kVolume, 32), kAck);
    EXPECT_EQ(exchange(kIncrement, kVolume), kNak);
    EXPECT_EQ(exchange(kDecrement, kVolume), kAck);
    EXPECT_EQ(exchange(kGet, kVolume), valueReply(31));

    EXPECT_EQ(exchange(kDecrement, kMagnify), kNak) << "magnify starts at its minimum";
    EXPECT_EQ(exchange(kIncrement, kMagnify), kAck);
    EXPECT_EQ(emulator().value(kMagnify), 1);
}

TEST_F(ProtocolTest, ResetsRestoreDefaultsAndClearOperatingHours) {
    ASSERT_EQ(exchange(kSet, kBrightness, 100), kAck);
    ASSERT_EQ(exchange(kSet, 0x2012, 100), kAck);

    EXPECT_EQ(exchange(kExecute, 0x7000), kAck);
    EXPECT_EQ(exchange(kGet, kBrightness), valueReply(128));
    EXPECT_EQ(exchange(kExecute, 0x7029), kAck) << "colour balance G has an irregular code";
    EXPECT_EQ(emulator().value(0x2012), 128);

    EXPECT_EQ(exchange(kGet, kLampTime), valueReply(1234));
    EXPECT_EQ(exchange(kExecute, 0x7030), kAck);
    EXPECT_EQ(exchange(kGet, kLampTime), valueReply(0));
}

TEST_F(ProtocolTest, PictureMemoriesKeepThePictureSettings) {
    ASSERT_EQ(exchange(kSet, kBrightness, 100), kAck);
    ASSERT_EQ(exchange(kSet, 0x2015, 2), kAck) << "save into memory 3";
    ASSERT_EQ(exchange(kSet, kBrightness, 150), kAck);
    ASSERT_EQ(exchange(kSet, kVolume, 5), kAck);

    EXPECT_EQ(exchange(kSet, 0x2014, 2), kAck);
    EXPECT_EQ(emulator().value(kBrightness), 100);
    EXPECT_EQ(emulator().value(kVolume), 5) << "volume is not a picture setting";
    EXPECT_EQ(exchange(kSet, 0x2015, 4), kNak) << "there are four memories";
}

TEST_F(ProtocolTest, ExecutesAutomaticAdjustment) { EXPECT_EQ(exchange(kExecute, 0x200A), kAck); }

}  // namespace
