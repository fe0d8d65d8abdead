// The per-projector queues and the fleet against emulated projectors over loopback TCP:
// reachability with its hysteresis, order of commands, power-on during a cool-down, stopping.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "projector_emulator/emulator.h"
#include "zolvane_fleet/fleet.h"

using namespace zolvane::fleet;
using namespace std::chrono_literals;
namespace emu = zolvane::emulator;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint16_t kBrightness = 0x2003;

const zv_setting* setting(const char* name) { return zv_catalogue_find(name); }

emu::FaultConfig fault(emu::FaultKind kind, std::chrono::milliseconds delay = 0ms) {
    emu::FaultConfig config;
    config.kind = kind;
    config.delay = delay;
    return config;
}

Timing fastTiming() {
    Timing t;
    t.pollInterval = 200ms;
    t.receiveTimeout = 250ms;
    t.connectTimeout = 1000ms;
    t.offlineAfter = 3;
    return t;
}

struct Site {
    explicit Site(std::size_t count, std::chrono::milliseconds coolingTime = 1500ms) {
        emu::Options options;
        options.count = count;
        options.coolingTime = coolingTime;
        emulator = std::make_unique<emu::Emulator>(options);
        std::string error;
        if (!emulator->start(&error)) ADD_FAILURE() << error;
    }
    ProjectorEntry entry(std::size_t index, Timing timing = fastTiming()) const {
        ProjectorEntry e;
        e.name = e.label = "p" + std::to_string(index);
        e.address = "tcp://127.0.0.1:" + std::to_string(emulator->tcpPort(index));
        e.groups = {index % 2 == 0 ? "even" : "odd"};
        e.timing = timing;
        return e;
    }
    std::unique_ptr<emu::Emulator> emulator;
};

template <typename Predicate>
bool eventually(Predicate done, std::chrono::milliseconds limit = 5000ms) {
    const auto until = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(Reachability, OfflineOnlyAfterFailuresInARowAndBackWithoutRestart) {
    Site site(2);
    ProjectorQueue dead(site.entry(0));
    ProjectorQueue live(site.entry(1));
    dead.start();
    live.start();
    ASSERT_TRUE(eventually([&] { return dead.state().reach == Reach::Online; }));
    EXPECT_TRUE(dead.state().lampHours.has_value());  // the first poll reads the slow values

    site.emulator->setFault(fault(emu::FaultKind::NoReply), 0);
    const std::uint64_t livePolls = live.state().polls;
    const auto began = Clock::now();
    ProjectorState seen;
    std::set<unsigned> countsOnline;
    ASSERT_TRUE(eventually([&] {
        seen = dead.state();
        if (seen.reach == Reach::Online) countsOnline.insert(seen.failedPolls);
        return seen.reach == Reach::Offline;
    }));
    // Online through 1 and 2 failures in a row; offline at the third.
    EXPECT_TRUE(countsOnline.contains(1) && countsOnline.contains(2));
    EXPECT_LE(*countsOnline.rbegin(), 2u);
    const auto deadTime = Clock::now() - began;
    EXPECT_EQ(seen.failedPolls, 3u);
    EXPECT_EQ(seen.lastFailure, "no reply within 250 ms");
    EXPECT_GE(seen.pollFailures, 3u);
    EXPECT_TRUE(seen.power.has_value());  // kept as last known

    // The live one kept its beat meanwhile: about one poll per 200 ms, each quick.
    const ProjectorState other = live.state();
    EXPECT_EQ(other.reach, Reach::Online);
    EXPECT_EQ(other.failedPolls, 0u);
    EXPECT_GE(other.polls - livePolls, static_cast<std::uint64_t>(deadTime / 200ms) / 2);
    EXPECT_LT(other.lastPollDuration, 250ms);

    site.emulator->clearFault(0);
    ASSERT_TRUE(eventually([&] { return dead.state().reach == Reach::Online; }));
    EXPECT_EQ(dead.state().failedPolls, 0u);
    EXPECT_EQ(dead.state().lastFailure, "no reply within 250 ms");  // the latest failure stays
}

TEST(Queue, RunsCommandsInOrderOneAtATimeBetweenPolls) {
    Site site(1);
    site.emulator->setFault(fault(emu::FaultKind::None, 5ms), 0);  // widen any overlap
    Timing roomy = fastTiming();
    roomy.maxQueued = 64;  // all forty commands wait at once
    ProjectorQueue queue(site.entry(0, roomy));
    std::atomic<int> told{0};
    ProjectorQueue watched(site.entry(0), [&](const ProjectorState&) { ++told; });
    queue.start();

    std::vector<std::future<CommandResult>> sets, gets;
    for (std::int32_t i = 0; i < 20; ++i) {
        sets.push_back(queue.run({Operation::Set, setting("Brightness"), 100 + i, {}, {}}));
        gets.push_back(queue.run({Operation::Get, setting("Brightness"), 0, {}, {}}));
    }
    for (std::int32_t i = 0; i < 20; ++i) {
        const CommandResult set = sets[i].get();
        EXPECT_TRUE(set.ok()) << set.reason;
        EXPECT_EQ(gets[i].get().value, 100 + i);  // each get sees the set before it
    }
    std::vector<std::uint16_t> sent;
    for (const emu::FrameRecord& frame : site.emulator->frames(0)) {
        if (frame.action == 1 && frame.type == kBrightness) sent.push_back(frame.value);
    }
    ASSERT_EQ(sent.size(), 20u);
    for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i], 100 + i);

    // Refused before anything is sent, with a reason.
    const struct {
        Command command;
        const char* reason;
    } refused[] = {
        {{Operation::Set, setting("Brightness"), 5000, {}, {}}, "not a value"},
        {{Operation::Set, setting("LampTime"), 1, {}, {}}, "cannot be set"},
        {{Operation::Get, nullptr, 0, {}, {}}, "no setting"},
    };
    for (const auto& row : refused) {
        const CommandResult result = queue.run(row.command).get();
        EXPECT_FALSE(result.ok());
        EXPECT_NE(result.reason.find(row.reason), std::string::npos) << result.reason;
    }
    // A set of a polled value shows at once, and its watcher hears of it.
    watched.start(false);
    ASSERT_TRUE(watched.run({Operation::Set, setting("Mute"), 1, {}, {}}).get().ok());
    EXPECT_EQ(watched.state().mute, 1);
    EXPECT_EQ(watched.state().reach, Reach::Online);
    EXPECT_EQ(told.load(), 1);
}

// A slow projector with a client that never lets its queue empty: what waits is bounded and
// refused at once past the bound, and polls still come, so a change made on the projector is
// seen.
TEST(Queue, ABusyQueueIsBoundedAndStillPolled) {
    Site site(1);
    site.emulator->setFault(fault(emu::FaultKind::None, 60ms), 0);
    Timing timing = fastTiming();
    timing.maxQueued = 4;
    timing.pollAfterCommands = 2;
    ProjectorQueue queue(site.entry(0, timing));
    queue.start();
    ASSERT_TRUE(eventually([&] { return queue.state().reach == Reach::Online; }));

    std::vector<std::future<CommandResult>> burst;
    for (int i = 0; i < 8; ++i)
        burst.push_back(queue.run({Operation::Get, setting("Brightness"), 0, {}, {}}));
    int refused = 0;
    for (auto& result : burst) {
        if (result.wait_for(0ms) != std::future_status::ready) continue;
        const CommandResult now = result.get();
        if (now.result != kQueueFull) continue;
        ++refused;
        EXPECT_NE(now.reason.find("4 commands are already waiting for p0"), std::string::npos)
            << now.reason;
    }
    EXPECT_GE(refused, 3);  // eight at once: at most four wait, one may be running

    std::atomic<bool> busy{true};
    const auto client = [&] {  // one command after another
        while (busy) queue.run({Operation::Get, setting("Brightness"), 0, {}, {}}).wait();
    };
    std::thread first(client), second(client);  // two of them: the queue is never empty
    const std::uint64_t polls = queue.state().polls;
    site.emulator->setValue(0x2002, 1);  // mute switched on at the projector itself
    EXPECT_TRUE(eventually([&] { return queue.state().mute == 1; }, 10000ms));
    EXPECT_TRUE(eventually([&] { return queue.state().polls >= polls + 3; }, 10000ms));
    busy = false;
    first.join();
    second.join();
}

struct CoolDown {
    bool polling;
    emu::PowerState before;
    std::chrono::milliseconds coolingWait;
    const char* reason;  // empty: the power-on succeeds
    bool waits;
};

class PowerOn : public testing::TestWithParam<CoolDown> {};

TEST_P(PowerOn, WaitsOutTheCoolDownWithinItsBound) {
    const CoolDown& row = GetParam();
    Site site(1, 1500ms);
    Timing timing = fastTiming();
    timing.coolingWait = row.coolingWait;
    ProjectorQueue queue(site.entry(0, timing));
    site.emulator->setPower(row.before, 0);
    queue.start(row.polling);
    if (row.polling) {
        ASSERT_TRUE(eventually([&] { return queue.state().power.has_value(); }));
    }
    const CommandResult result = queue.run({Operation::Set, setting("Power"), 1, {}, {}}).get();
    EXPECT_EQ(result.reason, row.reason);
    if (row.reason[0] == '\0') {
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(result.value, 1);
        EXPECT_EQ(site.emulator->power(0), emu::PowerState::On);
        EXPECT_EQ(queue.state().power, 1);
    } else {
        EXPECT_FALSE(result.ok());
        EXPECT_NE(site.emulator->power(0), emu::PowerState::On);
    }
    if (row.waits) {
        EXPECT_GE(result.waited, std::min(row.coolingWait, 1000ms));
        EXPECT_LT(result.waited, 6000ms);
    } else {
        EXPECT_EQ(result.waited, 0ms);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CoolingDown, PowerOn,
    testing::Values(CoolDown{false, emu::PowerState::CoolingDown, 10000ms, "", true},
                    CoolDown{true, emu::PowerState::CoolingDown, 10000ms, "", true},
                    CoolDown{false, emu::PowerState::CoolingDown, 300ms,
                             "still cooling down after 300 ms", true},
                    CoolDown{true, emu::PowerState::Off, 10000ms, "", false}));

TEST(Queue, StopCutsACoolDownWaitShortAndRefusesWhatIsQueued) {
    Site site(1, 60000ms);
    ProjectorQueue queue(site.entry(0));
    site.emulator->setPower(emu::PowerState::CoolingDown, 0);
    queue.start(false);
    auto powerOn = queue.run({Operation::Set, setting("Power"), 1, {}, {}});
    auto behind = queue.run({Operation::Get, setting("Brightness"), 0, {}, {}});
    ASSERT_TRUE(site.emulator->waitForFrames(2, 5000ms, 0));  // set refused, power asked
    const auto began = Clock::now();
    queue.stop();
    EXPECT_LT(Clock::now() - began, 5000ms);
    ASSERT_EQ(powerOn.wait_for(0s), std::future_status::ready);
    for (auto* future : {&powerOn, &behind}) {
        const CommandResult result = future->get();
        EXPECT_FALSE(result.ok());
        EXPECT_EQ(result.reason, "the service is stopping");
    }
    EXPECT_EQ(queue.run({Operation::Get, setting("Power"), 0, {}, {}}).get().reason,
              "the service is stopping");
    queue.stop();  // twice is harmless

    // A poll under way when the stop comes asks nothing more after its current exchange.
    Site slow(1);
    slow.emulator->setFault(fault(emu::FaultKind::None, 300ms), 0);
    Timing timing = fastTiming();
    timing.receiveTimeout = 2000ms;
    ProjectorQueue polled(slow.entry(0, timing));
    polled.start();
    ASSERT_TRUE(eventually([&] { return polled.state().reach == Reach::Online; }));
    slow.emulator->clearFrames(0);
    ASSERT_TRUE(slow.emulator->waitForFrames(1, 5000ms, 0));  // the next poll has begun
    polled.stop();
    EXPECT_LE(slow.emulator->frames(0).size(), 2u);  // of the poll's four
}

TEST(Fleet, RunsOnAGroupAtOnceAndTellsItsWatchers) {
    Site site(4);
    Inventory inventory;
    for (std::size_t i = 0; i < 4; ++i) inventory.projectors.push_back(site.entry(i));
    Fleet fleet(inventory);
    EXPECT_EQ(fleet.group("even").size(), 2u);
    EXPECT_EQ(fleet.group("all").size(), 4u);
    EXPECT_TRUE(fleet.group("nobody").empty());
    EXPECT_EQ(fleet.find("p3"), fleet.projectors()[3]);
    EXPECT_EQ(fleet.groups(), (std::vector<std::string>{"even", "odd"}));

    std::mutex mutex;
    std::vector<std::string> told;
    const std::uint64_t id = fleet.subscribe([&](const std::string& name, const ProjectorState&) {
        std::lock_guard lock(mutex);
        told.push_back(name);
    });
    // A watcher that takes itself off while it runs must not hang.
    std::atomic<std::uint64_t> once{0};
    std::atomic<int> onceCalls{0};
    once = fleet.subscribe([&](const std::string&, const ProjectorState&) {
        ++onceCalls;
        fleet.unsubscribe(once);
    });
    fleet.start(false);
    const auto outcomes =
        fleet.runAll(fleet.group("odd"), {Operation::Set, setting("Blank"), 1, {}, {}});
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].projector, "p1");
    EXPECT_EQ(outcomes[1].projector, "p3");
    for (const auto& outcome : outcomes) EXPECT_TRUE(outcome.result.ok()) << outcome.result.reason;
    EXPECT_EQ(site.emulator->value(0x3020, 1), 1);
    EXPECT_EQ(site.emulator->value(0x3020, 0), 0);
    fleet.unsubscribe(id);
    {
        std::lock_guard lock(mutex);
        std::sort(told.begin(), told.end());
        EXPECT_EQ(told, (std::vector<std::string>{"p1", "p3"}));
    }
    EXPECT_GE(onceCalls.load(), 1);
    EXPECT_LE(onceCalls.load(), 2);  // both queues may have been in it at once
    fleet.runAll(fleet.group("all"), {Operation::Set, setting("Mute"), 1, {}, {}});
    std::lock_guard lock(mutex);
    EXPECT_EQ(told.size(), 2u);  // unsubscribed: told nothing more
}

}  // namespace
