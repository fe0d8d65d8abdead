// WinSock as the connection takes and gives it back: the library keeps at most one reference,
// so neither a refused connection kind nor switching links breaks the network link or the
// host program's own sockets.
#include <gtest/gtest.h>

#include "emulator_ports.h"
#include "loopback.h"
#include "zolvane.h"

namespace {

using namespace windows_tests;

bool SocketsWork() {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    ::closesocket(s);
    return true;
}

class SocketLayer : public testing::Test {
protected:
    void SetUp() override {
        port_ = EmulatorPort();
        REQUIRE_EMULATOR(port_, "ZOLVANE_EMULATOR_PORT");
    }
    int32_t useNetwork() { return ZV_SetConnection(2, "127.0.0.1", port_.c_str()); }

    std::string port_;
};

TEST_F(SocketLayer, ARefusedKindKeepsTheNetworkLinkUsable) {
    ASSERT_EQ(useNetwork(), 1);
    EXPECT_EQ(ZV_SetConnection(3, "127.0.0.1", port_.c_str()), 0);
    EXPECT_EQ(ZV_SetConnection(0, "127.0.0.1", port_.c_str()), 0);
    uint16_t value;
    EXPECT_EQ(ZV_GetPower(&value), 1) << ZV_GetResultText(ZV_GetLastResult());
}

TEST_F(SocketLayer, SwitchingLinksBackAndForthKeepsTheNetworkWorking) {
    uint16_t value;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(useNetwork(), 1);
        ASSERT_EQ(useNetwork(), 1);
        EXPECT_EQ(ZV_GetPower(&value), 1) << round;
        ASSERT_EQ(ZV_SetConnection(1, "COM199", ""), 1);
        ASSERT_EQ(ZV_SetConnection(1, "COM199", ""), 1);
        EXPECT_EQ(ZV_GetPower(&value), 0);
        EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_PORT_OPEN_FAILED);
    }
    ASSERT_EQ(useNetwork(), 1);
    EXPECT_EQ(ZV_GetPower(&value), 1);
}

TEST_F(SocketLayer, TheHostProgramsOwnReferenceIsNeverTakenAway) {
    WinSock own;
    ASSERT_TRUE(own.started());
    ASSERT_EQ(useNetwork(), 1);
    EXPECT_EQ(ZV_SetConnection(3, "", ""), 0);
    ASSERT_EQ(ZV_SetConnection(1, "COM199", ""), 1);
    ASSERT_EQ(ZV_SetConnection(1, "COM199", ""), 1);
    EXPECT_TRUE(SocketsWork()) << "the library gave back more than it took";
}

}  // namespace
