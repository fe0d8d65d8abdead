// The reason behind a 0: each failure kind leaves its own result code, per thread.
#include <thread>

#include "emulated_projector.h"

namespace {

using namespace testing_support;

class Diagnostics : public EmulatedProjector {};

TEST_F(Diagnostics, EachFailureKindLeavesItsOwnCode) {
    uint16_t value;
    useNetwork();
    EXPECT_EQ(ZV_GetPower(&value), 1);
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_OK);

    inject(emu::FaultKind::Nak);
    EXPECT_EQ(ZV_SetPower(1), 0);
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_BAD_REPLY);
    inject(emu::FaultKind::Close);
    EXPECT_EQ(ZV_GetPower(&value), 0);
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_RECEIVE_FAILED);
    projector().clearFault();

    ASSERT_EQ(ZV_SetConnection(2, "no-such-projector.invalid", "23"), 1);
    EXPECT_EQ(ZV_GetPower(&value), 0);
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_HOST_NOT_FOUND);

    ASSERT_EQ(ZV_SetConnection(1, "/dev/no-such-port", ""), 1);
    EXPECT_EQ(ZV_GetPower(&value), 0);
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_PORT_OPEN_FAILED);

    useSerial();
    inject(emu::FaultKind::NoReply);
    EXPECT_EQ(ZV_GetPower(&value), 0);
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_PORT_REPLY_TIMEOUT);
    EXPECT_STREQ(ZV_GetResultText(ZV_GetLastResult()),
                 "no reply from the projector within 1000 ms");

    EXPECT_EQ(ZV_SetConnection(7, "x", "y"), 0);
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_NO_CONNECTION_TYPE);
}

TEST_F(Diagnostics, ResultsAreKeptPerThread) {
    useNetwork();
    uint16_t value;
    ASSERT_EQ(ZV_GetPower(&value), 1);
    std::thread other([&] {
        EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_OK) << "a new thread starts clean";
        inject(emu::FaultKind::Nak);
        EXPECT_EQ(ZV_GetPower(&value), 0);
        EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_BAD_REPLY);
    });
    other.join();
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_OK);
}

TEST(ResultText, EveryCodeHasAShortText) {
    for (uint32_t code = 0x80000000u; code <= 0x80000017u; ++code) {
        const std::string text = ZV_GetResultText(code);
        EXPECT_FALSE(text.empty());
        EXPECT_LT(text.size(), 100u);
    }
    EXPECT_STREQ(ZV_GetResultText(0), "success");
    EXPECT_STREQ(ZV_GetResultText(0x80000017u), "no reply from the projector within 3000 ms");
    EXPECT_STREQ(ZV_GetResultText(12345), "unknown result code");
}

}  // namespace
