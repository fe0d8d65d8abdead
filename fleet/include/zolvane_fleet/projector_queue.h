// One queue per projector. Every front end (the HTTP API, the broker, the PJLink gateway, the
// command-line tool) puts its commands on the projector's queue and nothing else talks to the
// projector's link, so exchanges never interleave and a slow or dead projector holds up only
// its own queue. The queue runs the commands in order, one at a time, and polls the projector
// between them; every queue of the process is driven by one event loop, so a queue holds no
// thread of its own, and waiting (for a reply, a poll's turn, a cool-down) costs nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "zolvane_catalogue.h"
#include "zolvane_fleet/command.h"
#include "zolvane_fleet/inventory.h"
#include "zolvane_fleet/state.h"
#include "zolvane_link.h"

namespace zolvane::fleet {

// The result of a command refused because Timing::maxQueued commands are already waiting for
// the projector: nothing was queued. Outside the library's codes.
inline constexpr zv_result kQueueFull = 0xE0000001u;

struct CommandResult {
    zv_result result = 0;                // ZV_RESULT_ code; 0 success
    std::optional<std::uint16_t> value;  // Get: the value read; Set of Power: the power now
    // Set of Power to on: how long it waited for the cool-down to end (0 when it did not).
    std::chrono::milliseconds waited{0};
    // Empty on success; else what went wrong in words ("no reply within 3000 ms", "still
    // cooling down after 120 s", "refused by the projector", "the service is stopping").
    std::string reason;
    bool ok() const { return result == 0; }
};

// What the queue does with each command.
enum class QueueExchanges {
    Full,  // as run() says: checked first, with the power-on's wait and the state kept
    // Its one exchange and nothing more: nothing checked beyond what the link checks, no wait
    // and no question of its own, no state kept. For the command-line tool, which checks, asks
    // and waits itself and traces every exchange.
    Plain,
};

class ProjectorQueue {
public:
    // Called on the event loop's thread after every poll or command that changed the state's
    // version; must not block for long and must not call back into this queue's run().
    using Watcher = std::function<void(const ProjectorState&)>;
    // Called with every command given to run() and its result, just before the command's own
    // completion: on the event loop's thread, or on the caller's when it was refused at once.
    using Ran = std::function<void(const Command&, const CommandResult&)>;

    // Opens the projector's link with its timing; starts nothing yet.
    // Throws std::invalid_argument when the address cannot be read (the inventory checks that).
    explicit ProjectorQueue(ProjectorEntry entry, Watcher watcher = {}, Ran ran = {});
    ~ProjectorQueue();  // stop()
    ProjectorQueue(const ProjectorQueue&) = delete;
    ProjectorQueue& operator=(const ProjectorQueue&) = delete;

    const ProjectorEntry& entry() const;

    // Starts the queue. With polling, the first poll runs at once and then every
    // pollInterval (slow values every slowPollInterval, and again when it comes back); input,
    // blank and mute are asked only while it is on. A due poll waits behind at most
    // Timing::pollAfterCommands commands, however busy the queue. Without polling (the
    // command-line tool) the queue only runs commands.
    void start(bool polling = true, QueueExchanges exchanges = QueueExchanges::Full);
    // Refuses what is still queued ("the service is stopping"), lets the running exchange
    // end, and returns once it has. Safe to call twice. Called on the event loop's thread (from a
    // watcher or a completion) it cannot wait: the queue ends by itself, telling nobody more.
    void stop();
    // What stop() does without waiting for the exchange under way: many queues stopped at once
    // each call this first, then stop().
    void requestStop();

    // Queues a command; the future is ready when it has run. With Timing::maxQueued commands
    // already waiting it is refused at once with kQueueFull, and nothing is queued. A power-on
    // finding the projector cooling down asks its power every second until it may be switched on,
    // for at most Timing::coolingWait, then switches it on; commands behind it wait meanwhile. A
    // Set or Get of a polled value updates the state (and tells the watcher) at once.
    std::future<CommandResult> run(Command command);
    // As above, but done is called with the result instead: once the command has run (on the
    // event loop's thread), or at once on the caller's when the queue is stopping. It must not
    // block, since every queue waits for it: it may queue further commands, but never wait for
    // their results.
    using Completion = std::function<void(CommandResult)>;
    void run(Command command, Completion done);

    // A copy of the state now.
    ProjectorState state() const;

    // How long the queue has been inside its present exchange; zero while it waits for work. Past
    // stuckAfter() it is taken as stuck (the service's watchdog then stops).
    Milliseconds busyFor() const;
    Milliseconds stuckAfter() const;

private:
    class Impl;
    std::shared_ptr<Impl> impl_;
};

// The reason for a result code in words, for results without a more precise reason.
std::string resultReason(zv_result result);

}  // namespace zolvane::fleet
