// Exchanges over loopback TCP with the emulator that runs natively beside Wine: what each reply
// means for each kind of command, port texts, a refused connection and an unknown host.
#include <gtest/gtest.h>

#include <string>

#include "connection.h"
#include "emulator_ports.h"
#include "frame.h"
#include "loopback.h"
#include "zolvane.h"

namespace {

using namespace windows_tests;
using zolvane::ResultCode;

constexpr uint16_t kBrightness = 0x2003;  // 96..160 on the emulator, 128 after a reset

ResultCode Exchange(bool isGet, uint16_t action, uint16_t value, uint16_t* valueOut = nullptr) {
    uint8_t frame[zolvane::kFrameLength];
    zolvane::BuildCommandFrame(action, kBrightness, value, frame);
    return zolvane::ExchangeCommand(isGet, frame, sizeof frame, valueOut);
}

class TcpExchange : public testing::Test {
protected:
    void SetUp() override {
        port_ = EmulatorPort();
        REQUIRE_EMULATOR(port_, "ZOLVANE_EMULATOR_PORT");
        useNetwork(port_);
    }

    void useNetwork(const std::string& port, const char* host = "127.0.0.1") {
        ASSERT_EQ(ZV_SetConnection(2, host, port.c_str()), 1);
    }
    int portNumber() const { return std::stoi(port_); }

    std::string port_;
};

TEST_F(TcpExchange, ExportedFunctionsRoundTripThroughTheProjector) {
    ASSERT_EQ(ZV_SetBrightness(140), 1);
    uint16_t value = 0;
    ASSERT_EQ(ZV_GetBrightness(&value), 1);
    EXPECT_EQ(value, 140);
    EXPECT_EQ(ZV_IncrementBrightness(), 1);
    ASSERT_EQ(ZV_GetBrightness(&value), 1);
    EXPECT_EQ(value, 141);
    EXPECT_EQ(ZV_ResetBrightness(), 1);
    ASSERT_EQ(ZV_GetBrightness(&value), 1);
    EXPECT_EQ(value, 128);
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_OK);
}

// The projector answers a get with 1D lo hi, an accepted set with 06 and a refused one with 15;
// asking for the other kind of reply turns each into a bad reply.
TEST_F(TcpExchange, EachReplyMeansWhatTheActionNeeds) {
    uint16_t value = 0xBEEF;
    EXPECT_EQ(Exchange(false, zolvane::ActionSet, 150), zolvane::ResultOk) << "06 to a set";
    EXPECT_EQ(Exchange(true, zolvane::ActionGet, 0, &value), zolvane::ResultOk) << "1D to a get";
    EXPECT_EQ(value, 150);

    value = 0xBEEF;
    EXPECT_EQ(Exchange(true, zolvane::ActionSet, 151, &value), zolvane::ResultBadReply)
        << "06 is no value";
    EXPECT_EQ(value, 0xBEEF) << "a failed get leaves the value alone";
    EXPECT_EQ(Exchange(false, zolvane::ActionGet, 0), zolvane::ResultBadReply) << "1D is no ACK";
    EXPECT_EQ(Exchange(false, zolvane::ActionSet, 200), zolvane::ResultBadReply) << "15: refused";
    EXPECT_EQ(Exchange(true, zolvane::ActionSet, 200, &value), zolvane::ResultBadReply);
    EXPECT_EQ(value, 0xBEEF);

    EXPECT_EQ(ZV_SetBrightness(200), 0) << "out of range is refused";
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_BAD_REPLY);
    EXPECT_EQ(ZV_GetBrightness(nullptr), 0);
    EXPECT_EQ(ZV_ResetBrightness(), 1);
}

TEST_F(TcpExchange, PortTextKeepsOnlyItsLowSixteenBits) {
    uint16_t value;
    const int real = portNumber();
    for (const std::string& text :
         {std::to_string(real + 65536), "  +" + port_ + "xyz", std::to_string(real - 65536)}) {
        useNetwork(text);
        EXPECT_EQ(ZV_GetPower(&value), 1) << '"' << text << '"';
    }
    for (const char* text : {"abc", "99999999999999999999999"}) {
        useNetwork(text);
        EXPECT_EQ(ZV_GetPower(&value), 0) << text;
        EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_CONNECT_FAILED) << text;
    }
}

TEST_F(TcpExchange, HostsAreDottedAddressesOrNames) {
    uint16_t value;
    // Each part of a dotted address is decimal, leading zeros included.
    for (const char* host : {"localhost", "127.000.000.001"}) {
        useNetwork(port_, host);
        EXPECT_EQ(ZV_GetPower(&value), 1) << host;
    }
    for (const char* host : {"no-such-projector.invalid", ""}) {
        useNetwork(port_, host);
        EXPECT_EQ(ZV_GetPower(&value), 0) << '"' << host << '"';
        EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_HOST_NOT_FOUND) << '"' << host << '"';
    }
    useNetwork(port_);
    EXPECT_EQ(ZV_GetPower(&value), 1) << "usable again after the failures";
}

TEST_F(TcpExchange, ARefusedConnectionFailsWithinTheConnectLimit) {
    const uint16_t closed = ClosedPort();
    ASSERT_NE(closed, 0);
    useNetwork(std::to_string(closed));
    uint16_t value = 7;
    const long long ms = Elapsed([&] { EXPECT_EQ(ZV_GetPower(&value), 0); });
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_CONNECT_FAILED);
    EXPECT_EQ(value, 7);
    // Windows itself retries a refused connection for about two seconds; the library's own
    // bound is 3000 ms.
    EXPECT_LT(ms, 10000);
    useNetwork(port_);
    EXPECT_EQ(ZV_GetPower(&value), 1);
}

}  // namespace
