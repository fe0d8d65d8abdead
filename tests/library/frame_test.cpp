// Frames as the projector must receive them: header, CRC-16/MODBUS and the three
// little-endian fields, checked against independently worked examples.
#include "frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "zolvane.h"

namespace {

using Frame = std::array<uint8_t, 13>;

Frame Command(int32_t action, int32_t type, int32_t value) {
    Frame frame{};
    EXPECT_EQ(ZV_GetCommand(action, type, value, frame.data(), 13), 1);
    return frame;
}

TEST(Crc16Modbus, MatchesThePublishedCheckValue) {
    constexpr std::string_view digits = "123456789";
    const auto* bytes = reinterpret_cast<const uint8_t*>(digits.data());
    EXPECT_EQ(zolvane::Crc16Modbus({bytes, digits.size()}), 0x4B37);
    EXPECT_EQ(zolvane::Crc16Modbus({}), 0xFFFF);
}

struct WorkedFrame {
    const char* what;
    int32_t action, type, value;
    Frame bytes;
};

void PrintTo(const WorkedFrame& w, std::ostream* os) { *os << w.what; }

class WorkedFrames : public testing::TestWithParam<WorkedFrame> {};

TEST_P(WorkedFrames, AreReproducedByteForByte) {
    const WorkedFrame& w = GetParam();
    EXPECT_EQ(Command(w.action, w.type, w.value), w.bytes) << w.what;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, WorkedFrames,
    testing::Values(
        WorkedFrame{"power on",
                    1,
                    0x6000,
                    1,
                    {0xBE, 0xEF, 0x03, 0x06, 0x00, 0xBA, 0xD2, 0x01, 0x00, 0x00, 0x60, 0x01, 0x00}},
        WorkedFrame{"power off",
                    1,
                    0x6000,
                    0,
                    {0xBE, 0xEF, 0x03, 0x06, 0x00, 0x2A, 0xD3, 0x01, 0x00, 0x00, 0x60, 0x00, 0x00}},
        WorkedFrame{"get power",
                    2,
                    0x6000,
                    0,
                    {0xBE, 0xEF, 0x03, 0x06, 0x00, 0x19, 0xD3, 0x02, 0x00, 0x00, 0x60, 0x00, 0x00}},
        WorkedFrame{"increment brightness",
                    4,
                    0x2003,
                    0,
                    {0xBE, 0xEF, 0x03, 0x06, 0x00, 0xEF, 0xD2, 0x04, 0x00, 0x03, 0x20, 0x00, 0x00}},
        WorkedFrame{
            "reset brightness",
            6,
            0x7000,
            0,
            {0xBE, 0xEF, 0x03, 0x06, 0x00, 0x58, 0xD3, 0x06, 0x00, 0x00, 0x70, 0x00, 0x00}}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(GetCommand, RefusesAnyBufferSizeButThirteenAndWritesNothing) {
    for (int32_t size : {0, 12, 14, 64, -13}) {
        std::array<uint8_t, 64> buffer;
        buffer.fill(0xA5);
        EXPECT_EQ(ZV_GetCommand(1, 0x6000, 1, buffer.data(), size), 0) << size;
        for (uint8_t b : buffer) ASSERT_EQ(b, 0xA5) << "size " << size;
    }
    EXPECT_EQ(ZV_GetCommand(1, 0x6000, 1, nullptr, 13), 0);
}

TEST(GetCommand, UsesOnlyTheLowSixteenBitsOfEachArgument) {
    EXPECT_EQ(Command(0x10001, 0x16000, 0x10001), Command(1, 0x6000, 1));
    const Frame all = Command(1, 0x2003, 0xFFFF);
    EXPECT_EQ(all[11], 0xFF);
    EXPECT_EQ(all[12], 0xFF);
    EXPECT_EQ(Command(1, 0x2003, -2), Command(1, 0x2003, 0xFFFE));
}

TEST(GetCommand, EveryFrameCarriesItsOwnValidChecksum) {
    for (int32_t value : {0, 1, 0x80, 0x1234, 0xFFFF}) {
        Frame frame = Command(1, 0x2003, value);
        const uint16_t sent = static_cast<uint16_t>(frame[5] << 8 | frame[6]);
        frame[5] = frame[6] = 0;
        EXPECT_EQ(zolvane::Crc16Modbus(frame), sent);
        EXPECT_EQ(frame[11] | frame[12] << 8, value);
    }
}

}  // namespace
