// The process-wide link setting: what is stored, what is read back, and what a caller's buffer
// may receive.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zolvane.h"

namespace {

struct Readback {
    int32_t result;
    uint16_t type = 0;
    std::string one, two;
};

Readback Read(int32_t size1, int32_t size2) {
    char one[1024];
    char two[1024];
    std::memset(one, '#', sizeof one);
    std::memset(two, '#', sizeof two);
    one[sizeof one - 1] = two[sizeof two - 1] = '\0';
    Readback r;
    r.result = ZV_GetConnection(&r.type, one, size1, two, size2);
    r.one = one;
    r.two = two;
    return r;
}

const std::string kUntouched(1023, '#');

TEST(Connection, SerialReadsBackThePortAndLeavesTheSecondBufferAlone) {
    ASSERT_EQ(ZV_SetConnection(1, "COM3", "ignored"), 1);
    const Readback r = Read(4, 100);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.type, 1);
    EXPECT_EQ(r.one, "COM3");
    EXPECT_EQ(r.two, kUntouched);
}

TEST(Connection, AStringLongerThanItsBufferIsRefusedAndNothingIsWritten) {
    ASSERT_EQ(ZV_SetConnection(1, "COM3", ""), 1);
    for (int32_t size : {3, 2, 0, -1}) {
        const Readback r = Read(size, 100);
        EXPECT_EQ(r.result, 0) << size;
        EXPECT_EQ(r.type, 0) << size;
        EXPECT_EQ(r.one, kUntouched) << size;
    }
    ASSERT_EQ(ZV_SetConnection(2, "projector.local", "4352"), 1);
    EXPECT_EQ(Read(15, 4).result, 1);
    EXPECT_EQ(Read(14, 4).result, 0);
    const Readback shortPort = Read(15, 3);
    EXPECT_EQ(shortPort.result, 0);
    EXPECT_EQ(shortPort.one, kUntouched);
}

TEST(Connection, NetworkReadsBackBothStrings) {
    ASSERT_EQ(ZV_SetConnection(2, "192.168.0.10", "23"), 1);
    const Readback r = Read(255, 255);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.type, 2);
    EXPECT_EQ(r.one, "192.168.0.10");
    EXPECT_EQ(r.two, "23");
}

TEST(Connection, OnlyTheLowSixteenBitsOfTheKindCount) {
    ASSERT_EQ(ZV_SetConnection(0x10001, "COM1", ""), 1);
    EXPECT_EQ(Read(255, 255).type, 1);
    ASSERT_EQ(ZV_SetConnection(0x70002, "host", "23"), 1);
    EXPECT_EQ(Read(255, 255).type, 2);
}

TEST(Connection, AnUnknownKindReplacesTheStringsButKeepsTheLink) {
    ASSERT_EQ(ZV_SetConnection(2, "10.1.1.1", "23"), 1);
    EXPECT_EQ(ZV_SetConnection(3, "COM5", "99"), 0);
    EXPECT_EQ(ZV_SetConnection(0, "COM6", "98"), 0);
    const Readback r = Read(255, 255);
    EXPECT_EQ(r.type, 2);
    EXPECT_EQ(r.one, "COM6");
    EXPECT_EQ(r.two, "98");
}

TEST(Connection, LongStringsAreCutAt255AndNullStringsAreEmpty) {
    const std::string longName(1000, 'x');
    ASSERT_EQ(ZV_SetConnection(2, longName.c_str(), nullptr), 1);
    const Readback r = Read(1000, 1000);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.one, std::string(255, 'x'));
    EXPECT_EQ(r.two, "");
    EXPECT_EQ(Read(254, 10).result, 0);

    ASSERT_EQ(ZV_SetConnection(1, nullptr, nullptr), 1);
    EXPECT_EQ(Read(0, 0).one, "");
}

TEST(Connection, NullOutputsAreRefused) {
    ASSERT_EQ(ZV_SetConnection(2, "host", "23"), 1);
    char buffer[32];
    uint16_t type;
    EXPECT_EQ(ZV_GetConnection(nullptr, buffer, 31, buffer, 31), 0);
    EXPECT_EQ(ZV_GetConnection(&type, nullptr, 31, buffer, 31), 0);
    EXPECT_EQ(ZV_GetConnection(&type, buffer, 31, nullptr, 31), 0);
}

}  // namespace
