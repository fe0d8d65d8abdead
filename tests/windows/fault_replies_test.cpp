// Projectors that misbehave, each an emulator of its own: every fault ends with its own result
// code within its bound, and the next command to a sound projector works.
#include <gtest/gtest.h>

#include <string>

#include "emulator_ports.h"
#include "loopback.h"
#include "zolvane.h"

namespace {

using namespace windows_tests;

struct FaultCase {
    const char* name;
    const char* variable;
    bool isGet;
    uint32_t expected;
    long long atLeastMs;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

constexpr FaultCase kCases[] = {
    {"NoReply", "ZOLVANE_EMULATOR_NO_REPLY_PORT", true, ZV_RESULT_NETWORK_TIMEOUT, 2900},
    {"Nak", "ZOLVANE_EMULATOR_NAK_PORT", false, ZV_RESULT_BAD_REPLY, 0},
    {"Garbage", "ZOLVANE_EMULATOR_GARBAGE_PORT", true, ZV_RESULT_BAD_REPLY, 0},
    {"Split", "ZOLVANE_EMULATOR_SPLIT_PORT", true, ZV_RESULT_OK, 0},
    {"Trickle", "ZOLVANE_EMULATOR_TRICKLE_PORT", true, ZV_RESULT_OK, 0},
    {"Close", "ZOLVANE_EMULATOR_CLOSE_PORT", true, ZV_RESULT_RECEIVE_FAILED, 0},
    {"Overlong", "ZOLVANE_EMULATOR_OVERLONG_PORT", true, ZV_RESULT_OK, 0},
};

class FaultReplies : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultReplies, EndWithTheirResultInTimeAndTheNextCommandWorks) {
    const FaultCase& c = GetParam();
    const std::string faulty = EmulatorPort(c.variable);
    const std::string sound = EmulatorPort();
    REQUIRE_EMULATOR(faulty, c.variable);
    REQUIRE_EMULATOR(sound, "ZOLVANE_EMULATOR_PORT");

    ASSERT_EQ(ZV_SetConnection(2, "127.0.0.1", faulty.c_str()), 1);
    uint16_t value = 0xBEEF;
    int32_t result = -1;
    const long long ms = Elapsed([&] { result = c.isGet ? ZV_GetPower(&value) : ZV_SetMute(1); });
    EXPECT_EQ(result, c.expected == ZV_RESULT_OK ? 1 : 0);
    EXPECT_EQ(ZV_GetLastResult(), c.expected) << ZV_GetResultText(ZV_GetLastResult());
    if (c.isGet) {
        EXPECT_EQ(value == 0xBEEF, c.expected != ZV_RESULT_OK) << "written only on success";
    }
    EXPECT_GE(ms, c.atLeastMs);
    EXPECT_LT(ms, 20000) << "every wait is bounded";

    ASSERT_EQ(ZV_SetConnection(2, "127.0.0.1", sound.c_str()), 1);
    EXPECT_EQ(ZV_GetPower(&value), 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultReplies, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
