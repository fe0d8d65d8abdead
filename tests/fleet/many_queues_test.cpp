// Many queues on one event loop: projectors that misbehave in every way a network allows sit
// beside live ones, and cost only themselves. The process keeps a handful of threads however
// many projectors it polls.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "child_process.h"
#include "projector_emulator/emulator.h"
#include "zolvane_fleet/fleet.h"

using namespace zolvane::fleet;
using namespace std::chrono_literals;
namespace emu = zolvane::emulator;
using Clock = std::chrono::steady_clock;

namespace {

std::size_t threadsNow() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

TEST(ManyQueues, BadProjectorsCostOnlyThemselvesAndTheThreadsStayFew) {
    constexpr std::size_t kCount = 300;
    emu::Options options;
    options.count = kCount;
    emu::Emulator emulator(options);
    std::string error;
    ASSERT_TRUE(emulator.start(&error)) << error;

    // Every tenth projector misbehaves, each row in its own way; the rest answer.
    const struct {
        const char* what;
        std::optional<emu::FaultKind> fault;  // on the emulator; none: the address is bad
        std::string address;                  // instead of the emulator's port
        bool answers;
    } rows[] = {
        {"accepts and never answers", emu::FaultKind::NoReply, "", false},
        {"answers byte by byte", emu::FaultKind::Trickle, "", true},
        {"closes every connection", emu::FaultKind::Close, "", false},
        {"refuses every connection", std::nullopt,
         "tcp://127.0.0.1:" + std::to_string(cli_testing::FreePort()), false},
        {"a name that resolves nowhere", std::nullopt, "tcp://nowhere.invalid:23", false},
    };
    Inventory inventory;
    std::vector<const char*> dead(kCount, nullptr);  // what each silent projector does
    for (std::size_t i = 0; i < kCount; ++i) {
        ProjectorEntry entry;
        entry.name = entry.label = "p" + std::to_string(i);
        entry.address = "tcp://127.0.0.1:" + std::to_string(emulator.tcpPort(i));
        entry.timing.pollInterval = 500ms;
        entry.timing.connectTimeout = 1000ms;
        entry.timing.receiveTimeout = 1000ms;
        if (i % 10 == 0) {
            const auto& row = rows[(i / 10) % std::size(rows)];
            if (row.fault) {
                emu::FaultConfig fault;
                fault.kind = *row.fault;
                fault.pause = 50ms;
                emulator.setFault(fault, i);
            } else {
                entry.address = row.address;
            }
            if (!row.answers) dead[i] = row.what;
        }
        inventory.projectors.push_back(entry);
    }
    const std::size_t before = threadsNow();
    Fleet fleet(inventory);
    fleet.start();

    const auto polls = [&](std::size_t i) { return fleet.projectors()[i]->state().polls; };
    std::this_thread::sleep_for(1500ms);  // every queue has made its first poll
    std::vector<std::uint64_t> first(kCount);
    for (std::size_t i = 0; i < kCount; ++i) first[i] = polls(i);
    std::this_thread::sleep_for(3000ms);  // six intervals

    EXPECT_LT(threadsNow() - before, 20u) << kCount << " projectors polled";
    for (std::size_t i = 0; i < kCount; ++i) {
        const ProjectorState state = fleet.projectors()[i]->state();
        if (dead[i] != nullptr) {
            EXPECT_NE(state.reach, Reach::Online) << "p" << i << " " << dead[i];
            EXPECT_GE(state.pollFailures, 1u) << "p" << i << " " << dead[i];
            continue;
        }
        // Six intervals; at least three polls, however slow the machine.
        EXPECT_GE(state.polls - first[i], 3u) << "p" << i << " was held up";
        EXPECT_EQ(state.reach, Reach::Online) << "p" << i;
    }
    const auto stopping = Clock::now();
    fleet.stop();
    // Within the longest exchange under way, with room to spare.
    EXPECT_LT(Clock::now() - stopping, 10s);
}

}  // namespace
