// The serial link over a real pseudo-terminal: port names, exclusive use, the one-second reply
// wait, and replies that arrive late, in pieces, too long or not at all.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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

class SerialLink : public EmulatedProjector {
protected:
    Outcome exchange(uint16_t action, uint16_t type, uint16_t value = 0) {
        return exchangeOn(device().c_str(), action, type, value);
    }
    Outcome exchangeOn(const char* port, uint16_t action, uint16_t type, uint16_t value = 0) {
        uint8_t frame[zolvane::kFrameLength];
        zolvane::BuildCommandFrame(action, type, value, frame);
        uint8_t reply[zolvane::kReplyBufferSize];
        std::size_t received = 99;
        Outcome o{};
        o.ms = Elapsed([&] {
            o.result =
                zolvane::SerialExchange(port, frame, sizeof frame, reply, sizeof reply, received);
        });
        o.reply.assign(reply, reply + received);
        return o;
    }
};

TEST(SerialDevicePath, ComNamesMapToTheFirstSerialPorts) {
    EXPECT_EQ(zolvane::SerialDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(zolvane::SerialDevicePath("com12"), "/dev/ttyS11");
    EXPECT_EQ(zolvane::SerialDevicePath("Com30"), "/dev/ttyS29");
    for (const char* unchanged : {"COM0", "COM", "COM1x", "/dev/ttyUSB0", "/dev/pts/7", "COMA"}) {
        EXPECT_EQ(zolvane::SerialDevicePath(unchanged), unchanged);
    }
}

TEST_F(SerialLink, AnAcknowledgeEndsTheWaitAtOnce) {
    const Outcome o = exchange(zolvane::ActionSet, 0x2001, 20);
    EXPECT_EQ(o.result, zolvane::ResultOk);
    EXPECT_EQ(o.reply, std::vector<uint8_t>{0x06});
    EXPECT_LT(o.ms, 500);
    EXPECT_EQ(projector().value(0x2001), 20);
}

TEST_F(SerialLink, NoReplyTimesOutAfterAboutOneSecond) {
    inject(emu::FaultKind::NoReply);
    const Outcome o = exchange(zolvane::ActionGet, 0x6000);
    EXPECT_EQ(o.result, zolvane::ResultPortReplyTimeout);
    EXPECT_TRUE(o.reply.empty());
    EXPECT_GE(o.ms, 950);
    EXPECT_LT(o.ms, 5000);
    projector().clearFault();
    EXPECT_EQ(exchange(zolvane::ActionGet, 0x6000).result, zolvane::ResultOk);
}

TEST_F(SerialLink, AValueReplyIsCollectedUntilItsThreeBytesAreIn) {
    inject(emu::FaultKind::Split, 150ms);
    EXPECT_EQ(exchange(zolvane::ActionGet, 0x2003).reply, (std::vector<uint8_t>{0x1D, 0x80, 0x00}));
    // The rest never comes within the wait: the partial reply is returned as it stands, and a
    // get can never take a value from it.
    inject(emu::FaultKind::Split, 1500ms);
    const Outcome partial = exchange(zolvane::ActionGet, 0x2003);
    EXPECT_EQ(partial.result, zolvane::ResultOk);
    EXPECT_EQ(partial.reply, std::vector<uint8_t>{0x1D});
    projector().clearFault();
    ASSERT_EQ(ZV_SetConnection(1, device().c_str(), ""), 1);
    inject(emu::FaultKind::Split, 1500ms);
    uint16_t value = 7;
    EXPECT_EQ(ZV_GetBrightness(&value), 0);
    EXPECT_EQ(value, 7);
}

TEST_F(SerialLink, ALateReplyWithinTheWaitIsAccepted) {
    inject(emu::FaultKind::None, 100ms, 600ms);
    const Outcome o = exchange(zolvane::ActionGet, 0x6000);
    EXPECT_EQ(o.result, zolvane::ResultOk);
    EXPECT_GE(o.ms, 550);
}

TEST_F(SerialLink, AnOverlongReplyIsPurgedAndTheNextExchangeIsClean) {
    inject(emu::FaultKind::Overlong);
    EXPECT_EQ(exchange(zolvane::ActionGet, 0x6000).result, zolvane::ResultPortReplyTooLong);
    projector().clearFault();
    const Outcome next = exchange(zolvane::ActionGet, 0x6000);
    EXPECT_EQ(next.result, zolvane::ResultOk);
    EXPECT_EQ(next.reply, (std::vector<uint8_t>{0x1D, 0x01, 0x00}));
}

TEST_F(SerialLink, MissingAndBusyPortsFailToOpen) {
    EXPECT_EQ(exchangeOn("/dev/does-not-exist", zolvane::ActionGet, 0x6000).result,
              zolvane::ResultPortOpenFailed);
    const int holder = ::open(device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(exchange(zolvane::ActionGet, 0x6000).result, zolvane::ResultPortOpenFailed);
    ::close(holder);
    EXPECT_EQ(exchange(zolvane::ActionGet, 0x6000).result, zolvane::ResultOk);
}

TEST_F(SerialLink, ADeviceThatIsNotASerialPortIsRefused) {
    const Outcome o = exchangeOn("/dev/null", zolvane::ActionGet, 0x6000);
    EXPECT_NE(o.result, zolvane::ResultOk);
    EXPECT_TRUE(o.reply.empty());
}

}  // namespace
