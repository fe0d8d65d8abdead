// Stepwise exchanges against emulated projectors over loopback TCP: every fault ends with the
// result and value the blocking call gives, the late-reply guard and the gap hold across both
// kinds of exchange, misuse is refused, and names that resolve nowhere hold up no other link.
#include <poll.h>

#include <chrono>
#include <thread>
#include <vector>

#include "emulated_projector.h"
#include "link_handle.h"
#include "zolvane_link.h"

namespace {

using namespace testing_support;
using K = emu::FaultKind;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kBrightness = 0x2003;
constexpr uint16_t kContrast = 0x2004;
constexpr uint16_t kBrightnessValue = 110;
constexpr uint16_t kContrastValue = 140;

// Waits as the stepwise exchange asks, on the one descriptor or for time only.
void WaitAsAsked(zv_link* link) {
    int32_t fd = -2, events = 0, timeout = -1;
    ASSERT_EQ(zv_link_wait_for(link, &fd, &events, &timeout), ZV_RESULT_OK);
    ASSERT_GE(timeout, 0);
    if (fd >= 0) {
        pollfd p{fd, static_cast<short>(events == ZV_WAIT_WRITE ? POLLOUT : POLLIN), 0};
        ::poll(&p, 1, timeout);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
    }
}

// One whole exchange driven by a poll loop, as a program with its own loop drives it.
uint32_t Stepwise(zv_link* link, int32_t action, uint16_t type, int32_t value, uint16_t* out) {
    uint32_t result = zv_link_begin(link, action, type, value);
    if (result != ZV_RESULT_PENDING) return result;
    for (;;) {
        WaitAsAsked(link);
        result = zv_link_continue(link, out);
        EXPECT_EQ(ZV_GetLastResult(), result);
        if (result != ZV_RESULT_PENDING) return result;
    }
}

uint32_t Blocking(zv_link* link, int32_t action, uint16_t type, int32_t value, uint16_t* out) {
    switch (action) {
        case 1:
            return zv_set(link, type, value);
        case 2:
            return zv_get(link, type, out);
        case 4:
            return zv_increment(link, type);
        case 5:
            return zv_decrement(link, type);
        default:
            return zv_execute(link, type);
    }
}

enum class Mode { Blocking, Stepwise };

uint32_t Exchange(Mode mode, zv_link* link, int32_t action, uint16_t type, int32_t value,
                  uint16_t* out) {
    const uint32_t result = mode == Mode::Blocking ? Blocking(link, action, type, value, out)
                                                   : Stepwise(link, action, type, value, out);
    EXPECT_EQ(ZV_GetLastResult(), result);
    return result;
}

Mode Other(Mode mode) { return mode == Mode::Blocking ? Mode::Stepwise : Mode::Blocking; }

// ---- The same faults through both kinds of exchange ---------------------------------------

enum class Where { Projector, ClosedPort, Nowhere };

struct FaultRow {
    const char* name;
    Where where;
    K kind;
    std::chrono::milliseconds delay;
    int32_t action;
    uint16_t type;
    int32_t value;
    uint32_t expected;
    uint16_t expectedValue;  // what a get leaves in its value (0xBEEF: untouched)
    int32_t gapMs;
};

const FaultRow kFaults[] = {
    {"Get", Where::Projector, K::None, 0ms, 2, kBrightness, 0, ZV_RESULT_OK, kBrightnessValue, 0},
    {"Set", Where::Projector, K::None, 0ms, 1, kBrightness, 120, ZV_RESULT_OK, 0xBEEF, 0},
    {"Increment", Where::Projector, K::None, 0ms, 4, kBrightness, 0, ZV_RESULT_OK, 0xBEEF, 0},
    {"SetRefused", Where::Projector, K::Nak, 0ms, 1, kBrightness, 120, ZV_RESULT_BAD_REPLY, 0xBEEF,
     0},
    {"GetRefused", Where::Projector, K::Nak, 0ms, 2, kBrightness, 0, ZV_RESULT_BAD_REPLY, 0xBEEF,
     0},
    {"NoAnswer", Where::Projector, K::NoReply, 0ms, 2, kBrightness, 0, ZV_RESULT_NETWORK_TIMEOUT,
     0xBEEF, 0},
    {"ByteByByte", Where::Projector, K::Trickle, 0ms, 2, kBrightness, 0, ZV_RESULT_OK,
     kBrightnessValue, 0},
    {"AcceptsAndCloses", Where::Projector, K::Close, 0ms, 2, kBrightness, 0,
     ZV_RESULT_RECEIVE_FAILED, 0xBEEF, 0},
    {"ConnectionRefused", Where::ClosedPort, K::None, 0ms, 2, kBrightness, 0,
     ZV_RESULT_CONNECT_FAILED, 0xBEEF, 0},
    {"NameResolvesNowhere", Where::Nowhere, K::None, 0ms, 2, kBrightness, 0,
     ZV_RESULT_HOST_NOT_FOUND, 0xBEEF, 0},
    // The contrast reply comes after the exchange gave up on it; the next exchange must not take
    // it for its own.
    {"LateReply", Where::Projector, K::None, 700ms, 2, kContrast, 0, ZV_RESULT_NETWORK_TIMEOUT,
     0xBEEF, 0},
    {"GapKept", Where::Projector, K::None, 0ms, 2, kBrightness, 0, ZV_RESULT_OK, kBrightnessValue,
     300},
};

void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.name; }

class StepwiseFaults : public testing::TestWithParam<FaultRow> {};

TEST_P(StepwiseFaults, EndAsTheBlockingCallEndsAndTheNextExchangeWorks) {
    const FaultRow& row = GetParam();
    for (const Mode mode : {Mode::Blocking, Mode::Stepwise}) {
        SCOPED_TRACE(mode == Mode::Blocking ? "blocking" : "stepwise");
        emu::Options options;
        options.coolingTime = 0ms;
        emu::Emulator projector(options);
        std::string error;
        ASSERT_TRUE(projector.start(&error)) << error;
        projector.setValue(kBrightness, kBrightnessValue);
        projector.setValue(kContrast, kContrastValue);
        const std::string port = std::to_string(projector.tcpPort());
        emu::FaultConfig fault;
        fault.kind = row.kind;
        fault.delay = row.delay;
        fault.pause = 20ms;
        if (row.delay > 0ms) {
            fault.onlyType = row.type;
            fault.frameCount = 1;
        }
        projector.setFault(fault);

        const std::string where = row.where == Where::ClosedPort
                                      ? "127.0.0.1:" + std::to_string(ClosedLoopbackPort())
                                  : row.where == Where::Nowhere ? "nowhere.invalid:" + port
                                                                : "127.0.0.1:" + port;
        const LinkPtr link = Open("tcp://" + where);
        ASSERT_EQ(zv_link_set_option(link.get(), ZV_LINK_RECEIVE_TIMEOUT_MS, 300), ZV_RESULT_OK);
        ASSERT_EQ(zv_link_set_option(link.get(), ZV_LINK_CONNECT_TIMEOUT_MS, 2000), ZV_RESULT_OK);
        ASSERT_EQ(zv_link_set_option(link.get(), ZV_LINK_GAP_MS, row.gapMs), ZV_RESULT_OK);

        uint16_t value = 0xBEEF;
        EXPECT_EQ(Exchange(mode, link.get(), row.action, row.type, row.value, &value), row.expected)
            << ZV_GetResultText(ZV_GetLastResult());
        EXPECT_EQ(value, row.expectedValue);
        const Clock::time_point firstEnd = Clock::now();
        if (row.action == 1 && row.expected == ZV_RESULT_OK) {
            EXPECT_EQ(projector.value(row.type), row.value);
        }
        if (row.where == Where::Projector) {
            EXPECT_EQ(projector.frames().size(), 1u) << "one frame for one exchange";
        }

        // The next exchange, of the other kind, gets its own answer after the gap.
        if (row.kind != K::None) projector.clearFault();
        const LinkPtr next =
            row.where == Where::Projector ? nullptr : Open("tcp://127.0.0.1:" + port);
        zv_link* again = next ? next.get() : link.get();
        value = 0;
        EXPECT_EQ(Exchange(Other(mode), again, 2, kBrightness, 0, &value), ZV_RESULT_OK)
            << ZV_GetResultText(ZV_GetLastResult());
        const uint16_t brightness = row.action == 1 && row.expected == ZV_RESULT_OK ? row.value
                                    : row.action == 4 ? kBrightnessValue + 1
                                                      : kBrightnessValue;
        EXPECT_EQ(value, brightness) << "an answer that was not this exchange's own";
        // The gap counts from the end the link noted, a moment before firstEnd.
        if (row.gapMs > 0) {
            EXPECT_GE(Clock::now() - firstEnd, std::chrono::milliseconds(row.gapMs) - 20ms);
        }
        projector.stop();
    }
}

INSTANTIATE_TEST_SUITE_P(Link, StepwiseFaults, testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Misuse -------------------------------------------------------------------------------

enum class Misuse {
    SerialLink,
    NullLink,
    ClosedLink,
    BadAction,
    BeginTwice,
    BlockingWhilePending,
    BeginWhileBlocking,
    ContinueWithoutBegin,
    WaitWithoutBegin,
    CloseWhilePending,
};

struct MisuseRow {
    const char* name;
    Misuse misuse;
    uint32_t expected;
};

const MisuseRow kMisuses[] = {
    {"SerialLink", Misuse::SerialLink, ZV_RESULT_BAD_ARGUMENT},
    {"NullLink", Misuse::NullLink, ZV_RESULT_BAD_ARGUMENT},
    {"ClosedLink", Misuse::ClosedLink, ZV_RESULT_LINK_CLOSED},
    {"BadAction", Misuse::BadAction, ZV_RESULT_BAD_ARGUMENT},
    {"BeginTwice", Misuse::BeginTwice, ZV_RESULT_LINK_BUSY},
    {"BlockingWhilePending", Misuse::BlockingWhilePending, ZV_RESULT_LINK_BUSY},
    {"BeginWhileBlocking", Misuse::BeginWhileBlocking, ZV_RESULT_LINK_BUSY},
    {"ContinueWithoutBegin", Misuse::ContinueWithoutBegin, ZV_RESULT_BAD_ARGUMENT},
    {"WaitWithoutBegin", Misuse::WaitWithoutBegin, ZV_RESULT_BAD_ARGUMENT},
    {"CloseWhilePending", Misuse::CloseWhilePending, ZV_RESULT_LINK_CLOSED},
};

void PrintTo(const MisuseRow& row, std::ostream* os) { *os << row.name; }

class StepwiseMisuse : public EmulatedProjector, public testing::WithParamInterface<MisuseRow> {};

TEST_P(StepwiseMisuse, IsRefusedAndLeavesTheLinkUsable) {
    const MisuseRow& row = GetParam();
    projector().setValue(kBrightness, kBrightnessValue);
    projector().setValue(kContrast, kContrastValue);
    const std::string address = "tcp://127.0.0.1:" + port();
    LinkPtr link = Open(address);
    // A contrast reply that takes its time, so an exchange stays pending while it is misused.
    emu::FaultConfig slow;
    slow.delay = 600ms;
    slow.onlyType = kContrast;
    slow.frameCount = 1;
    projector().setFault(slow);
    uint16_t value = 0xBEEF;
    int32_t fd = 0, events = 0, timeout = 0;
    uint32_t got = 0;
    switch (row.misuse) {
        case Misuse::SerialLink: {
            const LinkPtr serial = Open("serial://" + device());
            got = zv_link_begin(serial.get(), 2, kBrightness, 0);
            EXPECT_TRUE(projector().frames().empty());
            break;
        }
        case Misuse::NullLink:
            got = zv_link_begin(nullptr, 2, kBrightness, 0);
            EXPECT_EQ(zv_link_wait_for(nullptr, &fd, &events, &timeout), row.expected);
            EXPECT_EQ(zv_link_continue(nullptr, &value), row.expected);
            EXPECT_EQ(zv_link_wait_for(link.get(), nullptr, &events, &timeout), row.expected);
            break;
        case Misuse::ClosedLink: {
            zv_link* closed = link.release();
            zv_link_close(closed);
            EXPECT_EQ(zv_link_continue(closed, &value), row.expected);
            got = zv_link_begin(closed, 2, kBrightness, 0);
            break;
        }
        case Misuse::BadAction:
            got = zv_link_begin(link.get(), 3, kBrightness, 0);
            EXPECT_EQ(zv_link_begin(link.get(), 7, kBrightness, 0), row.expected);
            break;
        case Misuse::BeginTwice:
            ASSERT_EQ(zv_link_begin(link.get(), 2, kContrast, 0), ZV_RESULT_PENDING);
            got = zv_link_begin(link.get(), 2, kBrightness, 0);
            break;
        case Misuse::BlockingWhilePending:
            ASSERT_EQ(zv_link_begin(link.get(), 2, kContrast, 0), ZV_RESULT_PENDING);
            got = zv_get(link.get(), kBrightness, &value);
            EXPECT_EQ(zv_set(link.get(), kBrightness, 1), row.expected);
            break;
        case Misuse::BeginWhileBlocking: {
            std::thread blocking([&] { EXPECT_EQ(zv_get(link.get(), kContrast, &value), 0u); });
            ASSERT_TRUE(projector().waitForFrames(1, 5s));
            got = zv_link_begin(link.get(), 2, kBrightness, 0);
            blocking.join();
            EXPECT_EQ(value, kContrastValue);
            break;
        }
        case Misuse::ContinueWithoutBegin:
            got = zv_link_continue(link.get(), &value);
            break;
        case Misuse::WaitWithoutBegin:
            got = zv_link_wait_for(link.get(), &fd, &events, &timeout);
            break;
        case Misuse::CloseWhilePending: {
            ASSERT_EQ(zv_link_begin(link.get(), 2, kContrast, 0), ZV_RESULT_PENDING);
            // Called early, continue only looks; the reply is held back well past this.
            while (projector().frames().empty()) {
                ASSERT_EQ(zv_link_continue(link.get(), &value), ZV_RESULT_PENDING);
                std::this_thread::sleep_for(5ms);
            }
            zv_link* closed = link.release();
            zv_link_close(closed);
            got = zv_link_continue(closed, &value);
            break;
        }
    }
    EXPECT_EQ(got, row.expected) << ZV_GetResultText(got);
    EXPECT_EQ(ZV_GetLastResult(), row.expected);
    EXPECT_EQ(value, row.misuse == Misuse::BeginWhileBlocking ? kContrastValue : 0xBEEF);
    // A closed link is done with; a new one to the same projector must not take the reply that
    // the closed one left coming.
    if (!link) link = Open(address);

    // A pending exchange still ends with its own answer, and then the link is free again.
    if (row.misuse == Misuse::BeginTwice || row.misuse == Misuse::BlockingWhilePending) {
        uint16_t contrast = 0;
        for (;;) {
            WaitAsAsked(link.get());
            const uint32_t result = zv_link_continue(link.get(), &contrast);
            if (result == ZV_RESULT_PENDING) continue;
            EXPECT_EQ(result, ZV_RESULT_OK);
            break;
        }
        EXPECT_EQ(contrast, kContrastValue);
    }
    for (const Mode mode : {Mode::Stepwise, Mode::Blocking}) {
        uint16_t brightness = 0;
        EXPECT_EQ(Exchange(mode, link.get(), 2, kBrightness, 0, &brightness), ZV_RESULT_OK);
        EXPECT_EQ(brightness, kBrightnessValue);
    }
}

INSTANTIATE_TEST_SUITE_P(Link, StepwiseMisuse, testing::ValuesIn(kMisuses),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Many links from one thread -----------------------------------------------------------

TEST(StepwiseMany, NamesThatResolveNowhereHoldUpNoOtherLink) {
    constexpr int kNowhere = 200;
    constexpr int32_t kConnectMs = 2000;
    emu::Options options;
    options.coolingTime = 0ms;
    emu::Emulator projector(options);
    std::string error;
    ASSERT_TRUE(projector.start(&error)) << error;
    projector.setValue(kBrightness, kBrightnessValue);

    struct Pending {
        LinkPtr link;
        uint32_t result = ZV_RESULT_PENDING;
        uint16_t value = 0;
        Clock::time_point end{};
    };
    std::vector<Pending> links;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kNowhere; ++i) {
        Pending pending;
        pending.link = Open("tcp://p" + std::to_string(i) + ".nowhere.invalid");
        ASSERT_EQ(zv_link_set_option(pending.link.get(), ZV_LINK_CONNECT_TIMEOUT_MS, kConnectMs),
                  ZV_RESULT_OK);
        ASSERT_EQ(zv_link_begin(pending.link.get(), 2, kBrightness, 0), ZV_RESULT_PENDING);
        links.push_back(std::move(pending));
    }
    // The answering link begins last, behind every lookup.
    Pending answering;
    answering.link = Open("tcp://127.0.0.1:" + std::to_string(projector.tcpPort()));
    ASSERT_EQ(zv_link_begin(answering.link.get(), 2, kBrightness, 0), ZV_RESULT_PENDING);
    links.push_back(std::move(answering));

    for (std::size_t open = links.size(); open > 0;) {
        std::vector<pollfd> waits;
        int timeout = 1000;
        for (Pending& p : links) {
            if (p.result != ZV_RESULT_PENDING) continue;
            int32_t fd = -1, events = 0, ms = 0;
            ASSERT_EQ(zv_link_wait_for(p.link.get(), &fd, &events, &ms), ZV_RESULT_OK);
            timeout = std::min(timeout, static_cast<int>(ms));
            if (fd >= 0) {
                waits.push_back(
                    {fd, static_cast<short>(events == ZV_WAIT_WRITE ? POLLOUT : POLLIN), 0});
            }
        }
        ::poll(waits.data(), waits.size(), timeout);
        for (Pending& p : links) {
            if (p.result != ZV_RESULT_PENDING) continue;
            p.result = zv_link_continue(p.link.get(), &p.value);
            if (p.result != ZV_RESULT_PENDING) {
                p.end = Clock::now();
                --open;
            }
        }
    }
    const Pending& answered = links.back();
    EXPECT_EQ(answered.result, ZV_RESULT_OK);
    EXPECT_EQ(answered.value, kBrightnessValue);
    for (int i = 0; i < kNowhere; ++i) {
        EXPECT_EQ(links[i].result, ZV_RESULT_HOST_NOT_FOUND) << i;
        // Generous: a loaded machine may look late, but no link waits for another's lookup.
        EXPECT_LT(links[i].end - start, std::chrono::milliseconds(kConnectMs) + 10s) << i;
    }
    EXPECT_EQ(projector.frames().size(), 1u);
    projector.stop();
}

}  // namespace
