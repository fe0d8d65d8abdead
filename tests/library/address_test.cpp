// Where the projector is: numeric addresses read as decimal and port texts with leading zeros,
// the same in the library and the command-line tool, and a name lookup that a silent name
// server cannot stretch past the connect deadline.
#include <arpa/inet.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "child_process.h"
#include "emulated_projector.h"
#include "host_address.h"
#include "host_lookup.h"

namespace {

using namespace testing_support;
using zolvane::NumericHost;

struct HostCase {
    const char* text;
    NumericHost kind;
    uint32_t address;
};

const HostCase kHosts[] = {
    {"192.168.1.10", NumericHost::Address, 0xC0A8010A},
    {"192.168.001.010", NumericHost::Address, 0xC0A8010A},  // not octal 192.168.1.8
    {"192.168.1.09", NumericHost::Address, 0xC0A80109},
    {"000.000.000.000", NumericHost::Address, 0},
    {"255.255.255.255", NumericHost::Address, 0xFFFFFFFF},
    {"256.1.1.1", NumericHost::Malformed, 0},
    {"1.2.3", NumericHost::Malformed, 0},
    {"1.2.3.4.5", NumericHost::Malformed, 0},
    {"0001.2.3.4", NumericHost::Malformed, 0},
    {"1..2.3", NumericHost::Malformed, 0},
    {"1.2.3.4.", NumericHost::Malformed, 0},
    {"3232235786", NumericHost::Malformed, 0},
    {"", NumericHost::Malformed, 0},
    {"projector-room1", NumericHost::NotNumeric, 0},
    {"0x7f.0.0.1", NumericHost::NotNumeric, 0},
};

TEST(NumericHost, EachPartIsDecimal) {
    for (const HostCase& c : kHosts) {
        const zolvane::HostReading reading = zolvane::ReadNumericHost(c.text);
        EXPECT_EQ(reading.kind, c.kind) << c.text;
        if (c.kind == NumericHost::Address) {
            EXPECT_EQ(reading.address, c.address) << c.text;
        }
    }
}

std::atomic<bool> gReleaseLookup{false};
std::atomic<int> gLookupsEnded{0};

bool Answers(const std::string&, uint32_t& address) {
    address = htonl(INADDR_LOOPBACK);
    return true;
}
bool Fails(const std::string&, uint32_t&) { return false; }
bool Hangs(const std::string&, uint32_t& address) {
    while (!gReleaseLookup) std::this_thread::sleep_for(1ms);
    address = 1;
    ++gLookupsEnded;
    return true;
}

TEST(HostLookup, GivesUpAtTheDeadlineAndLeavesTheLookupToEndAlone) {
    const struct {
        zolvane::HostResolver resolve;
        bool found;
        long long atLeastMs;
    } cases[] = {{Answers, true, 0}, {Fails, false, 0}, {Hangs, false, 290}};
    for (const auto& c : cases) {
        uint32_t address = 0;
        const zolvane::Deadline deadline(300ms);
        bool found = false;
        const long long ms = Elapsed(
            [&] { found = zolvane::LookUpHost("projector-room1", deadline, c.resolve, address); });
        EXPECT_EQ(found, c.found) << ms;
        EXPECT_GE(ms, c.atLeastMs);
        EXPECT_LT(ms, 3000);
        if (c.found) {
            EXPECT_EQ(address, htonl(INADDR_LOOPBACK));
        }
    }
    // The abandoned lookup still finishes, on state of its own.
    gReleaseLookup = true;
    for (int i = 0; i < 500 && gLookupsEnded == 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(gLookupsEnded, 1);
}

cli_testing::Finished Tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{ZOLVANE_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return cli_testing::Run(argv);
}

// A projector on 127.0.0.10: an octal reading of "010" would knock at 127.0.0.8 instead.
class LinkTexts : public testing::Test {
protected:
    void SetUp() override {
        emu::Options options;
        options.host = "127.0.0.10";
        projector_ = std::make_unique<emu::Emulator>(options);
        ASSERT_TRUE(projector_->start());
        port_ = std::to_string(projector_->tcpPort());
    }
    std::unique_ptr<emu::Emulator> projector_;
    std::string port_;
};

TEST_F(LinkTexts, LeadingZerosAreDecimalInAddressesAndPorts) {
    const struct {
        std::string address;
        int status;  // 0 reached, 2 refused as malformed, 3 well formed but nobody there
    } cases[] = {
        {"127.0.0.10:" + port_, 0},    {"127.000.000.010:" + port_, 0},
        {"127.0.0.010:00" + port_, 0}, {"127.0.0.10:0000000" + port_, 0},
        {"127.0.0.8:" + port_, 3},     {"127.0.0.09:" + port_, 3},
        {"127.0.0.10:000000", 2},      {"127.0.0.10:0", 2},
        {"127.0.0.10:65536", 2},       {"127.0.0.10:0065536", 2},
        {"127.0.0.0010:" + port_, 2},
    };
    for (const auto& c : cases) {
        const cli_testing::Finished finished = Tool({"--tcp", c.address, "get", "power"});
        EXPECT_EQ(finished.status, c.status) << c.address << ": " << finished.err;
    }
    // The library on its own reads the address the same way.
    ASSERT_EQ(ZV_SetConnection(2, "127.000.000.010", port_.c_str()), 1);
    uint16_t power = 0;
    EXPECT_EQ(ZV_GetPower(&power), 1);
}

// A name server that takes every question and never answers, seen only by the tool: a mount
// namespace gives it a resolv.conf of its own. Without a lookup bound the tool would wait out
// the resolver's 30 s.
TEST(NameLookup, ASilentNameServerCostsNoMoreThanTheConnectDeadline) {
    const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = inet_addr("127.0.0.77");
    if (::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(silent);
        GTEST_SKIP() << "cannot listen on port 53 (needs root)";
    }
#ifndef ZOLVANE_UNSHARE
    ::close(silent);
    GTEST_SKIP() << "unshare is not installed";
#else
    if (cli_testing::Run({ZOLVANE_UNSHARE, "-m", "true"}).status != 0) {
        ::close(silent);
        GTEST_SKIP() << "no mount namespace for a resolv.conf of the tool's own";
    }
    const std::string conf = testing::TempDir() + "/silent-resolv.conf";
    std::ofstream(conf) << "nameserver 127.0.0.77\noptions timeout:30 attempts:1\n";
    cli_testing::Finished finished;
    const long long ms = Elapsed([&] {
        finished = cli_testing::Run({ZOLVANE_UNSHARE, "-m", "sh", "-c",
                                     "mount --bind \"$1\" /etc/resolv.conf && exec \"$0\" --tcp "
                                     "projector-room1 get power",
                                     ZOLVANE_CLI, conf});
    });
    ::close(silent);
    EXPECT_EQ(finished.status, 3) << finished.err;
    EXPECT_NE(finished.err.find("cannot be resolved"), std::string::npos) << finished.err;
    EXPECT_GE(ms, 2900);
    EXPECT_LT(ms, 8000) << "the lookup outlived the connect deadline";
#endif
}

}  // namespace
