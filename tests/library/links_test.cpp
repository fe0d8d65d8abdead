// Link handles against emulated projectors over loopback TCP and pseudo-terminals: many links
// in parallel, a dead link beside a live one, bad input, and closing under a waiting exchange.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link_handle.h"
#include "projector_emulator/emulator.h"
#include "zolvane_link.h"

namespace {

using namespace std::chrono_literals;
namespace emu = zolvane::emulator;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kLampTime = 0x1090;
constexpr uint16_t kBrightness = 0x2003;

enum class Kind { Tcp, Tcp6, Pty };

// A running projector whose lamp time tells it apart from the others.
struct Projector {
    explicit Projector(uint16_t identity, Kind kind = Kind::Tcp) : kind(kind) {
        emu::Options options;
        options.host = kind == Kind::Tcp6 ? "::1" : "127.0.0.1";
        options.tcp = kind != Kind::Pty;
        options.pty = kind == Kind::Pty;
        options.coolingTime = 0ms;
        emulator = std::make_unique<emu::Emulator>(options);
        std::string error;
        started = emulator->start(&error);
        // A machine without IPv6 loopback skips the IPv6 cases instead.
        if (kind != Kind::Tcp6) {
            EXPECT_TRUE(started) << error;
        }
        emulator->setValue(kLampTime, identity);
    }
    std::string address() const {
        switch (kind) {
            case Kind::Tcp:
                return "tcp://127.0.0.1:" + std::to_string(emulator->tcpPort());
            case Kind::Tcp6:
                return "tcp://[::1]:" + std::to_string(emulator->tcpPort());
            case Kind::Pty:
                return "serial://" + emulator->ptyPath();
        }
        return {};
    }
    Kind kind;
    bool started = false;
    std::unique_ptr<emu::Emulator> emulator;
};

// ---- Many links at once -------------------------------------------------------------------

struct FleetCase {
    const char* name;
    Kind kind;
    int threads;
    int rounds;  // each a set, a get of it and a get of the identity
};

class Fleet : public testing::TestWithParam<FleetCase> {};

TEST_P(Fleet, EveryAnswerComesFromTheLinksOwnProjector) {
    const FleetCase& c = GetParam();
    std::vector<std::unique_ptr<Projector>> projectors;
    for (int i = 0; i < c.threads; ++i) {
        projectors.push_back(std::make_unique<Projector>(1000 + i, c.kind));
        if (!projectors.back()->started && c.kind == Kind::Tcp6) GTEST_SKIP() << "no IPv6";
        ASSERT_TRUE(projectors.back()->started);
    }
    std::atomic<int> wrong = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < c.threads; ++i) {
        threads.emplace_back([&, i] {
            const LinkPtr link = Open(projectors[i]->address());
            for (int r = 0; r < c.rounds; ++r) {
                const uint16_t written = static_cast<uint16_t>(100 + (i * 13 + r) % 50);
                uint16_t identity = 0, read = 0xFFFF;
                if (zv_set(link.get(), kBrightness, written) != ZV_RESULT_OK) ++wrong;
                if (zv_get(link.get(), kBrightness, &read) != ZV_RESULT_OK || read != written) {
                    ++wrong;
                }
                if (zv_get(link.get(), kLampTime, &identity) != ZV_RESULT_OK ||
                    identity != 1000 + i || ZV_GetLastResult() != ZV_RESULT_OK) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
    for (const auto& p : projectors) {
        EXPECT_EQ(p->emulator->frames().size(), static_cast<size_t>(3 * c.rounds));
        p->emulator->stop();
    }
}

INSTANTIATE_TEST_SUITE_P(Links, Fleet,
                         testing::Values(FleetCase{"TwoTcp", Kind::Tcp, 2, 300},
                                         FleetCase{"EightTcp", Kind::Tcp, 8, 150},
                                         FleetCase{"TwoIpv6", Kind::Tcp6, 2, 100},
                                         FleetCase{"FourPty", Kind::Pty, 4, 60}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- A dead link beside a live one ----------------------------------------------------------

class DeadBesideLive : public testing::TestWithParam<Kind> {};

TEST_P(DeadBesideLive, TheLiveLinkKeepsItsPace) {
    Projector dead(1, GetParam()), live(2, GetParam());
    ASSERT_TRUE(dead.started && live.started);
    emu::FaultConfig silent;
    silent.kind = emu::FaultKind::NoReply;
    dead.emulator->setFault(silent);
    const LinkPtr deadLink = Open(dead.address()), liveLink = Open(live.address());
    constexpr int kWaitMs = 1500;
    ASSERT_EQ(zv_link_set_option(deadLink.get(), ZV_LINK_RECEIVE_TIMEOUT_MS, kWaitMs),
              ZV_RESULT_OK);

    std::atomic<bool> deadDone = false;
    zv_result deadResult = 0;
    const auto start = Clock::now();
    std::thread waiter([&] {
        uint16_t value = 0;
        deadResult = zv_get(deadLink.get(), kLampTime, &value);
        deadDone = true;
    });
    ASSERT_TRUE(dead.emulator->waitForFrames(1, 2s));
    for (int i = 0; i < 30; ++i) {
        uint16_t value = 0;
        ASSERT_EQ(zv_get(liveLink.get(), kLampTime, &value), ZV_RESULT_OK);
        ASSERT_EQ(value, 2);
    }
    EXPECT_FALSE(deadDone) << "the live link waited for the dead one";
    waiter.join();
    const auto waited = Clock::now() - start;
    EXPECT_TRUE(deadResult == ZV_RESULT_NETWORK_TIMEOUT ||
                deadResult == ZV_RESULT_PORT_REPLY_TIMEOUT)
        << std::hex << deadResult;
    EXPECT_GE(waited, std::chrono::milliseconds(kWaitMs - 50));
    EXPECT_LT(waited, std::chrono::milliseconds(kWaitMs + 5000));
}

INSTANTIATE_TEST_SUITE_P(Links, DeadBesideLive, testing::Values(Kind::Tcp, Kind::Pty),
                         [](const auto& info) { return info.param == Kind::Tcp ? "Tcp" : "Pty"; });

// ---- Addresses ------------------------------------------------------------------------------

struct AddressCase {
    const char* name;
    std::string address;
};

class MalformedAddress : public testing::TestWithParam<AddressCase> {};

TEST_P(MalformedAddress, IsRefusedWithItsReason) {
    Projector witness(7);
    ASSERT_TRUE(witness.started);
    zv_result why = 0xDEAD;
    EXPECT_EQ(zv_link_open(GetParam().address.c_str(), &why), nullptr);
    EXPECT_EQ(why, ZV_RESULT_BAD_ADDRESS);
    EXPECT_EQ(ZV_GetLastResult(), ZV_RESULT_BAD_ADDRESS);
    EXPECT_EQ(zv_link_open(GetParam().address.c_str(), nullptr), nullptr);
    // Nothing went out, and the next good link works.
    EXPECT_TRUE(witness.emulator->frames().empty());
    uint16_t value = 0;
    EXPECT_EQ(zv_get(Open(witness.address()).get(), kLampTime, &value), ZV_RESULT_OK);
    EXPECT_EQ(value, 7);
}

INSTANTIATE_TEST_SUITE_P(
    Links, MalformedAddress,
    testing::Values(
        AddressCase{"Empty", ""}, AddressCase{"TcpWithoutHost", "tcp://"},
        AddressCase{"OnlyPort", "tcp://:23"}, AddressCase{"PortZero", "tcp://127.0.0.1:0"},
        AddressCase{"Port70000", "tcp://127.0.0.1:70000"},
        AddressCase{"EmptyPort", "tcp://127.0.0.1:"},
        AddressCase{"JunkAfterPort", "tcp://127.0.0.1:23x"},
        AddressCase{"PathAfterPort", "tcp://127.0.0.1:23/"},
        AddressCase{"SignedPort", "tcp://127.0.0.1:+23"},
        AddressCase{"UnclosedBracket", "tcp://[::1"},
        AddressCase{"JunkAfterBracket", "tcp://[::1]23"},
        AddressCase{"EmptyBrackets", "tcp://[]:23"}, AddressCase{"NotIpv6", "tcp://[zz::1]:23"},
        AddressCase{"PartOver255", "tcp://10.0.0.256"}, AddressCase{"ThreeParts", "tcp://10.0.1"},
        AddressCase{"SpaceInName", "tcp://pro jector"},
        AddressCase{"SerialWithoutDevice", "serial://"},
        AddressCase{"UnknownKind", "udp://127.0.0.1:23"},
        AddressCase{"TenThousandCharacters", std::string(10000, 'a')},
        AddressCase{"LongName", "tcp://" + std::string(250, 'a')}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinkAddress, EveryFormReachesItsProjector) {
    Projector tcp(11), tcp6(12, Kind::Tcp6), pty(13, Kind::Pty);
    ASSERT_TRUE(tcp.started && pty.started);
    const std::string port = std::to_string(tcp.emulator->tcpPort());
    const struct {
        std::string address;
        uint16_t identity;
    } rows[] = {
        {"tcp://127.0.0.1:" + port, 11},
        {"TCP://127.000.000.001:" + port, 11},  // parts read as decimal, kind in any case
        {"tcp://localhost:" + port, 11},
        {tcp6.address(), 12},
        {"serial://" + pty.emulator->ptyPath(), 13},
        {pty.emulator->ptyPath(), 13},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        if (row.identity == 12 && !tcp6.started) continue;  // no IPv6 loopback here
        uint16_t value = 0;
        EXPECT_EQ(zv_get(Open(row.address).get(), kLampTime, &value), ZV_RESULT_OK);
        EXPECT_EQ(value, row.identity);
    }
}

// ---- Misuse ---------------------------------------------------------------------------------

TEST(LinkMisuse, IsRefusedWithAClearCodeAndSendsNothing) {
    Projector witness(21);
    ASSERT_TRUE(witness.started);
    zv_link* live = zv_link_open(witness.address().c_str(), nullptr);
    zv_link* closed = zv_link_open(witness.address().c_str(), nullptr);
    zv_link_close(closed);
    zv_link_close(closed);   // a second close is ignored
    zv_link_close(nullptr);  // and so is a null link
    zv_link* madeUp = reinterpret_cast<zv_link*>(static_cast<uintptr_t>(0x7FFF1234));
    uint16_t value = 0;
    int32_t option = 0;
    const struct {
        const char* name;
        std::function<zv_result()> call;
        zv_result expected;
    } rows[] = {
        {"open null",
         [] {
             zv_result why = 0;
             zv_link_open(nullptr, &why);
             return why;
         },
         ZV_RESULT_BAD_ARGUMENT},
        {"get null link", [&] { return zv_get(nullptr, kLampTime, &value); },
         ZV_RESULT_BAD_ARGUMENT},
        {"set null link", [] { return zv_set(nullptr, kBrightness, 1); }, ZV_RESULT_BAD_ARGUMENT},
        {"increment null link", [] { return zv_increment(nullptr, kBrightness); },
         ZV_RESULT_BAD_ARGUMENT},
        {"decrement null link", [] { return zv_decrement(nullptr, kBrightness); },
         ZV_RESULT_BAD_ARGUMENT},
        {"execute null link", [] { return zv_execute(nullptr, 0x7000); }, ZV_RESULT_BAD_ARGUMENT},
        {"option null link", [] { return zv_link_set_option(nullptr, ZV_LINK_GAP_MS, 1); },
         ZV_RESULT_BAD_ARGUMENT},
        {"get null pointer", [&] { return zv_get(live, kLampTime, nullptr); },
         ZV_RESULT_BAD_ARGUMENT},
        {"option null pointer", [&] { return zv_link_get_option(live, ZV_LINK_GAP_MS, nullptr); },
         ZV_RESULT_BAD_ARGUMENT},
        {"unknown option", [&] { return zv_link_set_option(live, 99, 1); }, ZV_RESULT_BAD_ARGUMENT},
        {"time-out 0", [&] { return zv_link_set_option(live, ZV_LINK_SEND_TIMEOUT_MS, 0); },
         ZV_RESULT_BAD_ARGUMENT},
        {"time-out too long",
         [&] { return zv_link_set_option(live, ZV_LINK_RECEIVE_TIMEOUT_MS, 600001); },
         ZV_RESULT_BAD_ARGUMENT},
        {"negative gap", [&] { return zv_link_set_option(live, ZV_LINK_GAP_MS, -1); },
         ZV_RESULT_BAD_ARGUMENT},
        {"gap too long", [&] { return zv_link_set_option(live, ZV_LINK_GAP_MS, 60001); },
         ZV_RESULT_BAD_ARGUMENT},
        {"get closed", [&] { return zv_get(closed, kLampTime, &value); }, ZV_RESULT_LINK_CLOSED},
        {"set closed", [&] { return zv_set(closed, kBrightness, 1); }, ZV_RESULT_LINK_CLOSED},
        {"execute closed", [&] { return zv_execute(closed, 0x7000); }, ZV_RESULT_LINK_CLOSED},
        {"option closed", [&] { return zv_link_get_option(closed, ZV_LINK_GAP_MS, &option); },
         ZV_RESULT_LINK_CLOSED},
        {"get made-up link", [&] { return zv_get(madeUp, kLampTime, &value); },
         ZV_RESULT_LINK_CLOSED},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.call(), row.expected);
        EXPECT_EQ(ZV_GetLastResult(), row.expected);
        EXPECT_NE(std::string(ZV_GetResultText(row.expected)), "unknown result code");
    }
    EXPECT_TRUE(witness.emulator->frames().empty());
    EXPECT_EQ(value, 0);
    // The link refused above still works, with its options unchanged.
    EXPECT_EQ(zv_link_get_option(live, ZV_LINK_GAP_MS, &option), ZV_RESULT_OK);
    EXPECT_EQ(option, 0);
    EXPECT_EQ(zv_get(live, kLampTime, &value), ZV_RESULT_OK);
    EXPECT_EQ(value, 21);
    zv_link_close(live);
}

TEST(LinkOptions, DefaultsAreTheLinksOwnAndChangesStick) {
    const LinkPtr tcp = Open("tcp://projector.invalid"), serial = Open("COM3");
    const struct {
        zv_link* link;
        int32_t option;
        int32_t initial;
    } rows[] = {
        {tcp.get(), ZV_LINK_CONNECT_TIMEOUT_MS, 3000},
        {tcp.get(), ZV_LINK_SEND_TIMEOUT_MS, 3000},
        {tcp.get(), ZV_LINK_RECEIVE_TIMEOUT_MS, 3000},
        {tcp.get(), ZV_LINK_GAP_MS, 0},
        {serial.get(), ZV_LINK_SEND_TIMEOUT_MS, 630},
        {serial.get(), ZV_LINK_RECEIVE_TIMEOUT_MS, 1000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.option);
        int32_t value = -1;
        EXPECT_EQ(zv_link_get_option(row.link, row.option, &value), ZV_RESULT_OK);
        EXPECT_EQ(value, row.initial);
        EXPECT_EQ(zv_link_set_option(row.link, row.option, 250), ZV_RESULT_OK);
        EXPECT_EQ(zv_link_get_option(row.link, row.option, &value), ZV_RESULT_OK);
        EXPECT_EQ(value, 250);
    }
}

TEST(LinkOptions, TheGapSeparatesExchanges) {
    Projector projector(31);
    ASSERT_TRUE(projector.started);
    const LinkPtr link = Open(projector.address());
    ASSERT_EQ(zv_link_set_option(link.get(), ZV_LINK_GAP_MS, 150), ZV_RESULT_OK);
    const auto start = Clock::now();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(zv_set(link.get(), kBrightness, 100 + i), ZV_RESULT_OK);
    EXPECT_GE(Clock::now() - start, 300ms);  // two gaps; the first exchange has none before it
}

// ---- Closing under a waiting exchange -------------------------------------------------------

class CloseWhileWaiting : public testing::TestWithParam<Kind> {};

TEST_P(CloseWhileWaiting, TheRunningExchangeEndsAndTheQueuedOnesAreRefused) {
    Projector slow(41, GetParam());
    ASSERT_TRUE(slow.started);
    emu::FaultConfig delayed;
    delayed.delay = 300ms;
    slow.emulator->setFault(delayed);
    zv_link* link = zv_link_open(slow.address().c_str(), nullptr);
    ASSERT_NE(link, nullptr);

    zv_result running = 0, queued = 0;
    uint16_t value = 0;
    std::thread first([&] { running = zv_get(link, kLampTime, &value); });
    ASSERT_TRUE(slow.emulator->waitForFrames(1, 2s));
    std::thread second([&] { queued = zv_set(link, kBrightness, 5); });
    std::this_thread::sleep_for(50ms);  // the second caller is now waiting for the link
    zv_link_close(link);
    first.join();
    second.join();
    EXPECT_EQ(running, ZV_RESULT_OK);
    EXPECT_EQ(value, 41);
    EXPECT_EQ(queued, ZV_RESULT_LINK_CLOSED);
    EXPECT_EQ(zv_get(link, kLampTime, &value), ZV_RESULT_LINK_CLOSED);
    EXPECT_EQ(slow.emulator->frames().size(), 1u);
}

TEST_P(CloseWhileWaiting, RacingClosesNeverHurt) {
    Projector projector(42, GetParam());
    ASSERT_TRUE(projector.started);
    std::atomic<int> unexpected = 0;
    for (int round = 0; round < 10; ++round) {
        zv_link* link = zv_link_open(projector.address().c_str(), nullptr);
        std::vector<std::thread> users;
        for (int t = 0; t < 3; ++t) {
            users.emplace_back([&] {
                for (;;) {
                    uint16_t value = 0;
                    const zv_result result = zv_get(link, kLampTime, &value);
                    if (result == ZV_RESULT_LINK_CLOSED) return;
                    if (result != ZV_RESULT_OK || value != 42) ++unexpected;
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 3));
        zv_link_close(link);
        for (auto& user : users) user.join();
    }
    EXPECT_EQ(unexpected, 0);
}

INSTANTIATE_TEST_SUITE_P(Links, CloseWhileWaiting, testing::Values(Kind::Tcp, Kind::Pty),
                         [](const auto& info) { return info.param == Kind::Tcp ? "Tcp" : "Pty"; });

}  // namespace
