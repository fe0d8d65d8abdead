// The network link over loopback: addresses and port texts, bounded waits in every phase, and
// projectors that close, trickle or never answer.
#include "emulated_projector.h"
#include "frame.h"
#include "links.h"

namespace {

using namespace testing_support;
using zolvane::ResultCode;

struct Outcome {
    ResultCode result;
    std::vector<uint8_t> reply;
    long long ms;
};

Outcome Exchange(const std::string& host, const std::string& port, uint16_t action = 2,
                 uint16_t type = 0x6000) {
    uint8_t frame[zolvane::kFrameLength];
    zolvane::BuildCommandFrame(action, type, 0, frame);
    uint8_t reply[zolvane::kReplyBufferSize];
    std::size_t received = 99;
    Outcome o{};
    o.ms = Elapsed([&] {
        o.result = zolvane::NetworkExchange(host.c_str(), port.c_str(), frame, sizeof frame, reply,
                                            sizeof reply, received);
    });
    o.reply.assign(reply, reply + received);
    return o;
}

class NetworkLink : public EmulatedProjector {
protected:
    Outcome exchange(uint16_t action = 2, uint16_t type = 0x6000) {
        return Exchange("127.0.0.1", port(), action, type);
    }
};

TEST_F(NetworkLink, RepliesAreOneOrThreeBytesByTheirFirstByte) {
    EXPECT_EQ(exchange().reply, (std::vector<uint8_t>{0x1D, 0x01, 0x00}));
    EXPECT_EQ(exchange(zolvane::ActionSet, 0x2001).reply, std::vector<uint8_t>{0x06});
    inject(emu::FaultKind::Nak);
    EXPECT_EQ(exchange().reply, std::vector<uint8_t>{0x15});
    replyWith({0x42, 0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(exchange().reply, (std::vector<uint8_t>{0x42, 0x01, 0x02}));
    inject(emu::FaultKind::Overlong);
    const Outcome overlong = exchange();
    EXPECT_EQ(overlong.result, zolvane::ResultOk);
    EXPECT_EQ(overlong.reply, (std::vector<uint8_t>{0x1D, 0x01, 0x00}));
}

TEST_F(NetworkLink, PortTextKeepsOnlyItsLowSixteenBits) {
    const int real = projector().tcpPort();
    EXPECT_EQ(Exchange("127.0.0.1", std::to_string(real + 65536)).result, zolvane::ResultOk);
    EXPECT_EQ(Exchange("127.0.0.1", "  +" + std::to_string(real) + "xyz").result,
              zolvane::ResultOk);
    EXPECT_EQ(Exchange("127.0.0.1", std::to_string(real - 65536)).result, zolvane::ResultOk);
    EXPECT_EQ(Exchange("127.0.0.1", "abc").result, zolvane::ResultConnectFailed) << "port 0";
    EXPECT_EQ(Exchange("127.0.0.1", "99999999999999999999999").result,
              zolvane::ResultConnectFailed);
}

TEST_F(NetworkLink, HostsAreDottedAddressesOrNames) {
    EXPECT_EQ(Exchange("localhost", port()).result, zolvane::ResultOk);
    EXPECT_EQ(Exchange("no-such-projector.invalid", port()).result, zolvane::ResultHostNotFound);
    EXPECT_EQ(Exchange("", port()).result, zolvane::ResultHostNotFound);
    // All ones cannot be told from a failed conversion, so it goes to the resolver, which finds
    // the broadcast address, which no TCP connection reaches.
    EXPECT_NE(Exchange("255.255.255.255", port()).result, zolvane::ResultOk);
}

TEST_F(NetworkLink, ARefusedConnectionFailsAtOnce) {
    const Outcome o = Exchange("127.0.0.1", std::to_string(ClosedLoopbackPort()));
    EXPECT_EQ(o.result, zolvane::ResultConnectFailed);
    EXPECT_LT(o.ms, 2000);
}

TEST_F(NetworkLink, NoReplyTimesOutAfterThreeSecondsAndTheNextCommandWorks) {
    inject(emu::FaultKind::NoReply);
    const Outcome o = exchange();
    EXPECT_EQ(o.result, zolvane::ResultNetworkTimeout);
    EXPECT_GE(o.ms, 2900);
    EXPECT_LT(o.ms, 8000);
    projector().clearFault();
    EXPECT_EQ(exchange().result, zolvane::ResultOk);
}

TEST_F(NetworkLink, AClosedConnectionIsNeverTakenForAReply) {
    inject(emu::FaultKind::Close);
    const Outcome o = exchange();
    EXPECT_EQ(o.result, zolvane::ResultReceiveFailed);
    EXPECT_TRUE(o.reply.empty());
}

TEST_F(NetworkLink, TrickledAndDelayedRepliesWithinTheLimitSucceed) {
    inject(emu::FaultKind::Trickle, 300ms);
    const Outcome trickled = exchange();
    EXPECT_EQ(trickled.result, zolvane::ResultOk);
    EXPECT_EQ(trickled.reply.size(), 3u);
    inject(emu::FaultKind::None, 100ms, 2000ms);
    EXPECT_EQ(exchange().result, zolvane::ResultOk);
}

}  // namespace
