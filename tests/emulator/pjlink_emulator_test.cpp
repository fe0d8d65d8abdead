// The PJLink emulator through real loopback sockets: what a client sends, byte for byte, and
// what comes back, one row per case.
#include "projector_emulator/pjlink_emulator.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zolvane::emulator::PjlinkEmulator;
using zolvane::emulator::PjlinkFault;
using zolvane::emulator::PjlinkOptions;

// Only a missing answer waits this long; "nothing comes" is read for the short one.
constexpr auto kAnswerTimeout = 5000ms;
constexpr auto kQuiet = 300ms;

std::string md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += "0123456789abcdef"[digest[i] >> 4];
        hex += "0123456789abcdef"[digest[i] & 15];
    }
    return hex;
}

struct Client {
    int fd = -1;
    bool closed = false;

    explicit Client(std::uint16_t port) : fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~Client() { ::close(fd); }

    void send(const std::string& bytes) {
        EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Up to a CR or `limit` bytes, whichever comes first, or what came before a close or timeout.
    std::string read(std::size_t limit, std::chrono::milliseconds timeout = kAnswerTimeout) {
        std::string got;
        while (got.size() < limit && (got.empty() || got.back() != '\r')) {
            pollfd ready{fd, POLLIN, 0};
            char byte = 0;
            if (::poll(&ready, 1, static_cast<int>(timeout.count())) != 1) {
                break;
            }
            if (::recv(fd, &byte, 1, 0) != 1) {
                closed = true;
                break;
            }
            got += byte;
        }
        return got;
    }
};

struct Step {
    std::string send;  // "{hash}" becomes the right hash of the greeting, "{wrong}" a wrong one
    std::string expect;
};

struct Case {
    const char* name;
    int projectorClass = 1;
    bool on = false;
    std::string password;
    PjlinkFault fault = PjlinkFault::None;
    std::vector<Step> steps;
    bool closedAtEnd = false;
    std::chrono::milliseconds warmUp = 60s;
    std::chrono::milliseconds idle = 30s;
    std::chrono::milliseconds delay = 0ms;
};

const std::string kBinary = "<13 bytes with a NUL>";

const std::vector<Case> kCases{
    // Class 1 answers, standby and on.
    {"power query", 1, false, "", {}, {{"%1POWR ?\r", "%1POWR=0\r"}}},
    {"lamp off", 1, false, "", {}, {{"%1LAMP ?\r", "%1LAMP=1000 0\r"}}},
    {"lamp on", 1, true, "", {}, {{"%1LAMP ?\r", "%1LAMP=1000 1\r"}}},
    {"facts",
     1,
     false,
     "",
     {},
     {{"%1ERST ?\r", "%1ERST=000000\r"},
      {"%1NAME ?\r", "%1NAME=Emulated PJLink 0\r"},
      {"%1INF1 ?\r", "%1INF1=Emulator\r"},
      {"%1INF2 ?\r", "%1INF2=PJLink projector\r"},
      {"%1INFO ?\r", "%1INFO=class 1 emulation\r"},
      {"%1CLSS ?\r", "%1CLSS=1\r"},
      {"%1INST ?\r", "%1INST=11 12 31 32 51\r"}}},
    {"input",
     1,
     true,
     "",
     {},
     {{"%1INPT ?\r", "%1INPT=31\r"},
      {"%1INPT 12\r", "%1INPT=OK\r"},
      {"%1INPT ?\r", "%1INPT=12\r"},
      {"%1INPT 33\r", "%1INPT=ERR2\r"},
      {"%1INPT x\r", "%1INPT=ERR2\r"}}},
    {"mute",
     1,
     true,
     "",
     {},
     {{"%1AVMT ?\r", "%1AVMT=30\r"},
      {"%1AVMT 11\r", "%1AVMT=OK\r"},
      {"%1AVMT ?\r", "%1AVMT=11\r"},
      {"%1AVMT 21\r", "%1AVMT=OK\r"},
      {"%1AVMT ?\r", "%1AVMT=31\r"},
      {"%1AVMT 10\r", "%1AVMT=OK\r"},
      {"%1AVMT ?\r", "%1AVMT=21\r"},
      {"%1AVMT 40\r", "%1AVMT=ERR2\r"}}},
    {"unknown and class 2 on class 1",
     1,
     true,
     "",
     {},
     {{"%1ABCD ?\r", "%1ABCD=ERR1\r"},
      {"%2INPT ?\r", "%2INPT=ERR1\r"},
      {"%1POWR 7\r", "%1POWR=ERR2\r"},
      {"%1NAME x\r", "%1NAME=ERR2\r"}}},
    // Power: warming and cooling refuse what they cannot do.
    {"warming",
     1,
     false,
     "",
     {},
     {{"%1POWR 1\r", "%1POWR=OK\r"},
      {"%1POWR ?\r", "%1POWR=3\r"},
      {"%1POWR 1\r", "%1POWR=OK\r"},
      {"%1POWR 0\r", "%1POWR=ERR3\r"},
      {"%1INPT ?\r", "%1INPT=ERR3\r"},
      {"%1AVMT 31\r", "%1AVMT=ERR3\r"}}},
    {"cooling",
     2,
     true,
     "",
     {},
     {{"%1POWR 0\r", "%1POWR=OK\r"},
      {"%1POWR ?\r", "%1POWR=2\r"},
      {"%1POWR 1\r", "%1POWR=ERR3\r"},
      {"%1POWR 0\r", "%1POWR=OK\r"},
      {"%2FREZ ?\r", "%2FREZ=ERR3\r"},
      {"%1INPT 31\r", "%1INPT=ERR3\r"}}},
    {"warmed up",
     1,
     false,
     "",
     {},
     {{"%1POWR 1\r", "%1POWR=OK\r"}, {"%1POWR ?\r", "%1POWR=1\r"}},
     false,
     0ms},
    {"standby refuses",
     1,
     false,
     "",
     {},
     {{"%1INPT ?\r", "%1INPT=ERR3\r"}, {"%1AVMT ?\r", "%1AVMT=ERR3\r"}}},
    // Class 2.
    {"class 2 facts",
     2,
     false,
     "",
     {},
     {{"%1CLSS ?\r", "%1CLSS=2\r"},
      {"%1INFO ?\r", "%1INFO=class 2 emulation\r"},
      {"%1INST ?\r", "%1INST=11 12 31 32 51\r"},
      {"%2INST ?\r", "%2INST=11 12 31 32 33 51 56\r"},
      {"%2FILT ?\r", "%2FILT=500\r"},
      {"%2RLMP ?\r", "%2RLMP=LMP-100\r"},
      {"%2RFIL ?\r", "%2RFIL=FLT-200\r"},
      {"%2SNUM ?\r", "%2SNUM=EMU00000\r"},
      {"%2SVER ?\r", "%2SVER=1.0.0\r"},
      {"%2ABCD ?\r", "%2ABCD=ERR1\r"}}},
    {"input names",
     2,
     false,
     "",
     {},
     {{"%2INNM ?31\r", "%2INNM=HDMI 1\r"},
      {"%2INNM ?32\r", "%2INNM=HDMI 2\r"},
      {"%2INNM ?33\r", "%2INNM=DisplayPort\r"},
      {"%2INNM ?11\r", "%2INNM=Computer 1\r"},
      {"%2INNM ?12\r", "%2INNM=Computer 2\r"},
      {"%2INNM ?51\r", "%2INNM=USB\r"},
      {"%2INNM ?56\r", "%2INNM=Network\r"},
      {"%2INNM ?99\r", "%2INNM=ERR2\r"}}},
    {"class 2 input and freeze",
     2,
     true,
     "",
     {},
     {{"%2INPT 56\r", "%2INPT=OK\r"},
      {"%2INPT ?\r", "%2INPT=56\r"},
      {"%1INPT 33\r", "%1INPT=ERR2\r"},
      {"%2FREZ 1\r", "%2FREZ=OK\r"},
      {"%2FREZ ?\r", "%2FREZ=1\r"},
      {"%2FREZ 2\r", "%2FREZ=ERR2\r"}}},
    // Authentication.
    {"right hash",
     1,
     false,
     "secret",
     {},
     {{"{hash}%1POWR ?\r", "%1POWR=0\r"}, {"%1CLSS ?\r", "%1CLSS=1\r"}}},
    {"wrong hash", 1, false, "secret", {}, {{"{wrong}%1POWR ?\r", "PJLINK ERRA\r"}}, true},
    {"missing hash", 1, false, "secret", {}, {{"%1POWR ?\r", "PJLINK ERRA\r"}}, true},
    // Lines a projector does not take, and the ways of the connection.
    {"crlf and pipelined",
     1,
     false,
     "",
     {},
     {{"%1POWR ?\r\n%1CLSS ?\r\n", "%1POWR=0\r"}, {"", "%1CLSS=1\r"}}},
    {"not pjlink", 1, false, "", {}, {{"hello\r", ""}}, true},
    {"overlong line", 1, false, "", {}, {{"%1NAME " + std::string(140, 'x') + "\r", ""}}, true},
    {"idle", 1, false, "", {}, {}, true, 60s, 300ms},
    {"slow", 1, false, "", {}, {{"%1POWR ?\r", "%1POWR=0\r"}}, false, 60s, 30s, 100ms},
    // Faults.
    {"err4",
     1,
     true,
     "",
     PjlinkFault::Err4,
     {{"%1POWR ?\r", "%1POWR=ERR4\r"}, {"%1ERST ?\r", "%1ERST=000002\r"}}},
    {"silent", 1, false, "", PjlinkFault::Silent, {{"%1POWR ?\r", ""}}},
    {"close after one",
     1,
     false,
     "",
     PjlinkFault::CloseAfterOne,
     {{"%1POWR ?\r", "%1POWR=0\r"}},
     true},
    {"close early", 1, false, "", PjlinkFault::CloseEarly, {{"%1POWR ?\r", ""}}, true},
    {"garbage",
     1,
     false,
     "",
     PjlinkFault::Garbage,
     {{"%1POWR ?\r", "\x55\xAA garbage\r"}, {"%1POWR ?\r", "\x55\xAA garbage\r"}}},
    {"overlong",
     1,
     false,
     "",
     PjlinkFault::Overlong,
     {{"%1POWR ?\r", std::string(300, 'A')}, {"%1POWR ?\r", std::string(300, 'A')}}},
    {"binary", 1, false, "", PjlinkFault::Binary, {{"%1POWR ?\r", kBinary}}},
};

class PjlinkEmulatorTest : public ::testing::TestWithParam<Case> {};

TEST_P(PjlinkEmulatorTest, AnswersAsAProjector) {
    const Case& row = GetParam();
    PjlinkOptions options;
    options.projectorClass = row.projectorClass;
    options.initiallyOn = row.on;
    options.password = row.password;
    options.fault = row.fault;
    options.warmUpTime = row.warmUp;
    options.idleTimeout = row.idle;
    options.delay = row.delay;
    PjlinkEmulator emulator(options);
    std::string error;
    ASSERT_TRUE(emulator.start(&error)) << error;

    Client client(emulator.tcpPort());
    std::string random;
    if (row.fault == PjlinkFault::Silent) {
        EXPECT_EQ(client.read(64, kQuiet), "");
    } else if (row.password.empty()) {
        EXPECT_EQ(client.read(64), "PJLINK 0\r");
    } else {
        const std::string greeting = client.read(64);
        ASSERT_EQ(greeting.size(), 18u) << greeting;
        EXPECT_EQ(greeting.substr(0, 9), "PJLINK 1 ");
        random = greeting.substr(9, 8);
    }
    for (const Step& step : row.steps) {
        std::string send = step.send;
        if (send.starts_with("{hash}")) {
            send.replace(0, 6, md5Hex(random + row.password));
        } else if (send.starts_with("{wrong}")) {
            send.replace(0, 7, std::string(32, '0'));
        }
        client.send(send);
        if (step.expect == kBinary) {
            const std::string frame = client.read(13);
            EXPECT_EQ(frame.size(), 13u);
            EXPECT_NE(frame.find('\0'), std::string::npos);
            continue;
        }
        const bool nothing = step.expect.empty() && !row.closedAtEnd;
        EXPECT_EQ(
            client.read(step.expect.size() + (nothing ? 1 : 0), nothing ? kQuiet : kAnswerTimeout),
            step.expect)
            << step.send;
    }
    if (row.closedAtEnd) {
        EXPECT_EQ(client.read(1), "");
        EXPECT_TRUE(client.closed);
    } else {
        EXPECT_FALSE(client.closed);
    }
    if (!row.steps.empty()) {
        // The first line is logged as sent, without its hash.
        ASSERT_TRUE(emulator.waitForLines(1, kAnswerTimeout));
        std::string first = row.steps.front().send;
        first = first.substr(first.find('}') + 1);
        EXPECT_EQ(emulator.lines().front(), first.substr(0, first.find('\r')));
    }
    EXPECT_EQ(emulator.connectionsAccepted(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Rows, PjlinkEmulatorTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

// Projector i is found on port tcpPort(0) + i and tells which one it is.
TEST(PjlinkEmulatorFleet, EachProjectorOnItsPort) {
    PjlinkOptions options;
    options.count = 3;
    options.projectorClass = 2;
    PjlinkEmulator emulator(options);
    ASSERT_TRUE(emulator.start());
    for (std::size_t i = 0; i < emulator.count(); ++i) {
        ASSERT_EQ(emulator.tcpPort(i), emulator.tcpPort(0) + i);
        Client client(emulator.tcpPort(i));
        EXPECT_EQ(client.read(64), "PJLINK 0\r");
        client.send("%1LAMP ?\r%2SNUM ?\r");
        EXPECT_EQ(client.read(64), "%1LAMP=" + std::to_string(1000 + i) + " 0\r");
        EXPECT_EQ(client.read(64), "%2SNUM=EMU0000" + std::to_string(i) + "\r");
    }
}

}  // namespace
