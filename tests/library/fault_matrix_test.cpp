// Every fault the projector can show, on every link: each command ends with its own result
// code within its bound, and the command after it succeeds.
#include <thread>

#include "emulated_projector.h"

namespace {

using namespace testing_support;

enum class Where { Serial, Tcp, RefusedTcp, UnknownHost };

struct FaultCase {
    const char* name;
    Where where;
    emu::FaultKind kind;
    std::chrono::milliseconds delay;
    uint32_t expected;
    long long atLeastMs;  // a time-out must not end early
    long long boundMs;    // and must end by then (generous: the machine may be loaded)
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

using K = emu::FaultKind;
constexpr auto kNone = std::chrono::milliseconds(0);

const FaultCase kCases[] = {
    {"SerialNoReply", Where::Serial, K::NoReply, kNone, ZV_RESULT_PORT_REPLY_TIMEOUT, 950, 4000},
    {"SerialDelayUnderBound", Where::Serial, K::None, 700ms, ZV_RESULT_OK, 650, 4000},
    {"SerialDelayOverBound", Where::Serial, K::None, 1300ms, ZV_RESULT_PORT_REPLY_TIMEOUT, 950,
     4000},
    {"SerialNak", Where::Serial, K::Nak, kNone, ZV_RESULT_BAD_REPLY, 0, 2000},
    {"SerialGarbage", Where::Serial, K::Garbage, kNone, ZV_RESULT_BAD_REPLY, 0, 2000},
    {"SerialSplit", Where::Serial, K::Split, kNone, ZV_RESULT_OK, 0, 2000},
    {"SerialTrickle", Where::Serial, K::Trickle, kNone, ZV_RESULT_OK, 0, 2000},
    {"SerialCloseWithoutReply", Where::Serial, K::Close, kNone, ZV_RESULT_PORT_REPLY_TIMEOUT, 950,
     4000},
    {"SerialOverlong", Where::Serial, K::Overlong, kNone, ZV_RESULT_PORT_REPLY_TOO_LONG, 0, 2000},
    {"TcpNoReply", Where::Tcp, K::NoReply, kNone, ZV_RESULT_NETWORK_TIMEOUT, 2950, 9000},
    {"TcpDelayUnderBound", Where::Tcp, K::None, 2500ms, ZV_RESULT_OK, 2450, 9000},
    {"TcpDelayOverBound", Where::Tcp, K::None, 3600ms, ZV_RESULT_NETWORK_TIMEOUT, 2950, 9000},
    {"TcpNak", Where::Tcp, K::Nak, kNone, ZV_RESULT_BAD_REPLY, 0, 2000},
    {"TcpGarbage", Where::Tcp, K::Garbage, kNone, ZV_RESULT_BAD_REPLY, 0, 2000},
    {"TcpSplit", Where::Tcp, K::Split, kNone, ZV_RESULT_OK, 0, 2000},
    {"TcpTrickle", Where::Tcp, K::Trickle, kNone, ZV_RESULT_OK, 0, 2000},
    {"TcpCloseWithoutReply", Where::Tcp, K::Close, kNone, ZV_RESULT_RECEIVE_FAILED, 0, 2000},
    // Only the reply's own three bytes are read; the padding goes with the connection.
    {"TcpOverlong", Where::Tcp, K::Overlong, kNone, ZV_RESULT_OK, 0, 2000},
    {"TcpRefused", Where::RefusedTcp, K::None, kNone, ZV_RESULT_CONNECT_FAILED, 0, 4000},
    {"TcpUnknownHost", Where::UnknownHost, K::None, kNone, ZV_RESULT_HOST_NOT_FOUND, 0, 9000},
};

class FaultMatrix : public EmulatedProjector, public testing::WithParamInterface<FaultCase> {};

TEST_P(FaultMatrix, EndsWithItsResultInTimeAndTheNextCommandWorks) {
    const FaultCase& c = GetParam();
    switch (c.where) {
        case Where::Serial:
            useSerial();
            break;
        case Where::Tcp:
            useNetwork();
            break;
        case Where::RefusedTcp: {
            const std::string closed = std::to_string(ClosedLoopbackPort());
            ASSERT_EQ(ZV_SetConnection(2, "127.0.0.1", closed.c_str()), 1);
            break;
        }
        case Where::UnknownHost:
            ASSERT_EQ(ZV_SetConnection(2, "no-such-projector.invalid", port().c_str()), 1);
            break;
    }
    inject(c.kind, 20ms, c.delay);

    uint16_t value = 0xBEEF;
    int32_t result = -1;
    const long long ms = Elapsed([&] { result = ZV_GetBrightness(&value); });
    EXPECT_EQ(ZV_GetLastResult(), c.expected) << ZV_GetResultText(ZV_GetLastResult());
    EXPECT_EQ(result, c.expected == ZV_RESULT_OK ? 1 : 0);
    EXPECT_EQ(value, c.expected == ZV_RESULT_OK ? 128 : 0xBEEF);
    EXPECT_GE(ms, c.atLeastMs);
    EXPECT_LT(ms, c.boundMs);

    // Let a reply that comes too late land before the next exchange purges and starts afresh.
    if (c.expected != ZV_RESULT_OK) std::this_thread::sleep_for(c.delay);
    projector().clearFault();
    if (c.where == Where::RefusedTcp || c.where == Where::UnknownHost) useNetwork();
    value = 0;
    EXPECT_EQ(ZV_GetBrightness(&value), 1) << ZV_GetResultText(ZV_GetLastResult());
    EXPECT_EQ(value, 128);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
