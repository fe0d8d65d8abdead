#include <unistd.h>

#include <thread>

#include "emulator_fixture.h"

using namespace wire;
using zolvane::emulator::FaultConfig;
using zolvane::emulator::FaultKind;

namespace {

constexpr std::uint16_t kBrightness = 0x2003;

class PtyTest : public EmulatorTest {
protected:
    void SetUp() override {
        linkPath_ = ::testing::TempDir() + "emulator-pty-" + std::to_string(::getpid());
        zolvane::emulator::Options options;
        options.tcp = false;
        options.pty = true;
        options.linkPath = linkPath_;
        start(options);
    }

    Connection open() { return Connection::terminal(linkPath_); }

    std::string linkPath_;
};

TEST_F(PtyTest, AnswersGetAndSetThroughTheLinkedDevice) {
    ASSERT_FALSE(emulator().ptyPath().empty());
    {
        Connection port = open();
        EXPECT_EQ(port.exchange(makeFrame(kSet, kBrightness, 140)), kAck);
    }
    // A client closing the device between commands, as the library does, is normal.
    Connection port = open();
    EXPECT_EQ(port.exchange(makeFrame(kGet, kBrightness)), valueReply(140));
}

TEST_F(PtyTest, FindsFramesInAByteStream) {
    Connection port = open();
    const Frame frame = makeFrame(kGet, kBrightness);
    port.send(Bytes{0x00, 0xBE, 0x42});
    port.send(Bytes(frame.begin(), frame.begin() + 6));
    port.send(Bytes(frame.begin() + 6, frame.end()));

    EXPECT_EQ(port.readReply(), valueReply(128));
}

TEST_F(PtyTest, DropsAFrameLeftUnfinished) {
    Connection port = open();
    const Frame abandoned = makeFrame(kSet, kBrightness, 150);
    port.send(Bytes(abandoned.begin(), abandoned.begin() + 9));
    std::this_thread::sleep_for(std::chrono::milliseconds{600});

    EXPECT_EQ(port.exchange(makeFrame(kGet, kBrightness)), valueReply(128));
    EXPECT_EQ(emulator().frames().size(), 1U);
}

TEST_F(PtyTest, CloseFaultIsSilenceOnTheLine) {
    FaultConfig config;
    config.kind = FaultKind::Close;
    config.frameCount = 1;
    emulator().setFault(config);
    Connection port = open();

    port.send(makeFrame(kGet, kBrightness));
    EXPECT_TRUE(port.read(1, std::chrono::milliseconds{500}).empty());
    EXPECT_EQ(port.exchange(makeFrame(kGet, kBrightness)), valueReply(128));
}

TEST(PtyLink, IsRemovedOnStop) {
    const std::string link = ::testing::TempDir() + "emulator-stop-" + std::to_string(::getpid());
    zolvane::emulator::Options options;
    options.tcp = false;
    options.linkPath = link;
    options.pty = true;
    zolvane::emulator::Emulator emulator(options);
    ASSERT_TRUE(emulator.start());
    ASSERT_EQ(::access(link.c_str(), F_OK), 0);

    emulator.stop();
    EXPECT_NE(::access(link.c_str(), F_OK), 0);
}

}  // namespace
