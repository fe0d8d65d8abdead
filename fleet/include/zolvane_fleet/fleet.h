// The fleet: one ProjectorQueue per projector of the inventory, found by name or group, and
// the one place where watchers of every projector's state subscribe. Its projectors may change
// while it runs (reconcile()): a queue is held by shared pointer, so one taken from the fleet
// stays valid, if stopped, after its projector has left the inventory.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zolvane_fleet/inventory.h"
#include "zolvane_fleet/projector_queue.h"
#include "zolvane_fleet/state.h"

namespace zolvane::fleet {

using QueueRef = std::shared_ptr<ProjectorQueue>;

// What reconcile() did, by projector name, each list in inventory order (removed: in the old
// one's).
struct Changes {
    std::vector<std::string> added;
    std::vector<std::string> removed;
    std::vector<std::string> changed;  // address, label, groups or timing: a queue made anew
    bool groupsChanged = false;        // some projector joined or left some group
    bool empty() const {
        return added.empty() && removed.empty() && changed.empty() && !groupsChanged;
    }
};

class Fleet {
public:
    // Called on the event loop's thread with the projector's name and its new state.
    using Watcher = std::function<void(const std::string& name, const ProjectorState& state)>;

    explicit Fleet(const Inventory& inventory);
    ~Fleet();  // stop()

    void start(bool polling = true);
    void stop();

    // Every queue now, in inventory order.
    std::vector<QueueRef> projectors() const;
    QueueRef find(std::string_view name) const;
    // The members of a group in inventory order; "all" is every projector; empty for an
    // unknown group.
    std::vector<QueueRef> group(std::string_view name) const;
    std::vector<std::string> groups() const;
    // A copy of the inventory now.
    Inventory inventory() const;

    // Makes the fleet that of next: a queue for each new projector (started if the fleet is),
    // and the queue of each projector gone or changed stopped: what waits on it is refused as
    // the service stopping, its exchange under way ends whole. Those unchanged go on untouched.
    // Returns once every stopped queue has ended.
    Changes reconcile(const Inventory& next);

    // The projectors whose queue has been inside one exchange for longer than it may take.
    std::vector<std::string> stuck() const;

    // Returns an id for unsubscribe(). Watchers may be added and removed from any thread at any
    // time; after unsubscribe() returns the watcher is not running and is never called again.
    std::uint64_t subscribe(Watcher watcher);
    void unsubscribe(std::uint64_t id);

    // Told of every command run on any queue and its result (ProjectorQueue::Ran), with the
    // projector's name. One, set before any command is run; it must not block for long.
    using CommandWatcher = std::function<void(const std::string& name, const Command& command,
                                              const CommandResult& result)>;
    void watchCommands(CommandWatcher watcher);

    // The command on each queue at once; the results in the order of targets.
    struct Outcome {
        std::string projector;
        CommandResult result;
    };
    std::vector<Outcome> runAll(const std::vector<QueueRef>& targets, const Command& command);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::fleet
