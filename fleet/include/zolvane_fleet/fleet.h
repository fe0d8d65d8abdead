// The fleet: one ProjectorQueue per projector of the inventory, found by name or group, and
// the one place where watchers of every projector's state subscribe.
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

class Fleet {
public:
    // Called on a queue's thread with the projector's name and its new state.
    using Watcher = std::function<void(const std::string& name, const ProjectorState& state)>;

    explicit Fleet(const Inventory& inventory);
    ~Fleet();  // stop()

    void start(bool polling = true);
    void stop();

    // Every queue, in inventory order.
    const std::vector<std::unique_ptr<ProjectorQueue>>& projectors() const;
    ProjectorQueue* find(std::string_view name) const;
    // The members of a group in inventory order; "all" is every projector; empty for an
    // unknown group.
    std::vector<ProjectorQueue*> group(std::string_view name) const;
    std::vector<std::string> groups() const;

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
    std::vector<Outcome> runAll(const std::vector<ProjectorQueue*>& targets,
                                const Command& command);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::fleet
