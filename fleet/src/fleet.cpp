#include "zolvane_fleet/fleet.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace zolvane::fleet {
namespace {

// One subscribed watcher and the calls of it now running, by thread, so that unsubscribe()
// can wait for them (except for its own, when called from inside the watcher).
struct Subscription {
    Fleet::Watcher watcher;
    std::mutex mutex;
    std::condition_variable idle;
    std::vector<std::thread::id> running;
    bool removed = false;
};

}  // namespace

class Fleet::Impl {
public:
    explicit Impl(const Inventory& inventory) : inventory_(inventory) {
        queues_.reserve(inventory.projectors.size());
        for (const ProjectorEntry& entry : inventory.projectors) {
            const std::string name = entry.name;
            queues_.push_back(std::make_unique<ProjectorQueue>(
                entry, [this, name](const ProjectorState& state) { tell(name, state); },
                [this, name](const Command& command, const CommandResult& result) {
                    if (commandWatcher_) commandWatcher_(name, command, result);
                }));
        }
    }

    void start(bool polling) {
        for (const auto& queue : queues_) queue->start(polling);
    }

    // Every queue at once: a projector mid-exchange holds up only its own stop.
    void stop() {
        std::vector<std::thread> stopping;
        stopping.reserve(queues_.size());
        for (const auto& queue : queues_) {
            try {
                stopping.emplace_back([&queue] { queue->stop(); });
            } catch (const std::system_error&) {
                queue->stop();  // no thread to spare: stop this one here
            }
        }
        for (std::thread& thread : stopping) thread.join();
    }

    std::uint64_t subscribe(Watcher watcher) {
        auto subscription = std::make_shared<Subscription>();
        subscription->watcher = std::move(watcher);
        std::lock_guard lock(mutex_);
        const std::uint64_t id = ++lastId_;
        subscriptions_.emplace(id, std::move(subscription));
        return id;
    }

    void unsubscribe(std::uint64_t id) {
        std::shared_ptr<Subscription> subscription;
        {
            std::lock_guard lock(mutex_);
            const auto found = subscriptions_.find(id);
            if (found == subscriptions_.end()) return;
            subscription = std::move(found->second);
            subscriptions_.erase(found);
        }
        const auto self = std::this_thread::get_id();
        std::unique_lock lock(subscription->mutex);
        subscription->removed = true;
        subscription->idle.wait(lock, [&] {
            return std::all_of(subscription->running.begin(), subscription->running.end(),
                               [&](std::thread::id caller) { return caller == self; });
        });
    }

    void tell(const std::string& name, const ProjectorState& state) {
        std::vector<std::shared_ptr<Subscription>> now;
        {
            std::lock_guard lock(mutex_);
            now.reserve(subscriptions_.size());
            for (const auto& [id, subscription] : subscriptions_) now.push_back(subscription);
        }
        const auto self = std::this_thread::get_id();
        for (const auto& subscription : now) {
            {
                std::lock_guard lock(subscription->mutex);
                if (subscription->removed) continue;
                subscription->running.push_back(self);
            }
            try {
                subscription->watcher(name, state);
            } catch (...) {
                // A watcher's fault is its own; the others are still told.
            }
            {
                std::lock_guard lock(subscription->mutex);
                auto& running = subscription->running;
                running.erase(std::find(running.begin(), running.end(), self));
            }
            subscription->idle.notify_all();
        }
    }

private:
    std::mutex mutex_;
    std::map<std::uint64_t, std::shared_ptr<Subscription>> subscriptions_;
    std::uint64_t lastId_ = 0;

public:
    CommandWatcher commandWatcher_;  // set before any command runs, read only after
    const Inventory inventory_;
    // Last, so that the queues (whose threads tell the watchers) go first.
    std::vector<std::unique_ptr<ProjectorQueue>> queues_;
};

Fleet::Fleet(const Inventory& inventory) : impl_(std::make_unique<Impl>(inventory)) {}

Fleet::~Fleet() { stop(); }

void Fleet::start(bool polling) { impl_->start(polling); }
void Fleet::stop() { impl_->stop(); }

const std::vector<std::unique_ptr<ProjectorQueue>>& Fleet::projectors() const {
    return impl_->queues_;
}

ProjectorQueue* Fleet::find(std::string_view name) const {
    for (const auto& queue : impl_->queues_) {
        if (queue->entry().name == name) return queue.get();
    }
    return nullptr;
}

std::vector<ProjectorQueue*> Fleet::group(std::string_view name) const {
    std::vector<ProjectorQueue*> members;
    for (const auto& queue : impl_->queues_) {
        const auto& groups = queue->entry().groups;
        if (name == "all" || std::find(groups.begin(), groups.end(), name) != groups.end()) {
            members.push_back(queue.get());
        }
    }
    return members;
}

std::vector<std::string> Fleet::groups() const { return impl_->inventory_.groups(); }

std::uint64_t Fleet::subscribe(Watcher watcher) { return impl_->subscribe(std::move(watcher)); }
void Fleet::unsubscribe(std::uint64_t id) { impl_->unsubscribe(id); }
void Fleet::watchCommands(CommandWatcher watcher) { impl_->commandWatcher_ = std::move(watcher); }

std::vector<Fleet::Outcome> Fleet::runAll(const std::vector<ProjectorQueue*>& targets,
                                          const Command& command) {
    std::vector<std::future<CommandResult>> futures;
    futures.reserve(targets.size());
    for (ProjectorQueue* target : targets) {
        if (target != nullptr) futures.push_back(target->run(command));
    }
    std::vector<Outcome> outcomes;
    outcomes.reserve(futures.size());
    std::size_t next = 0;
    for (ProjectorQueue* target : targets) {
        if (target == nullptr) continue;
        outcomes.push_back(Outcome{target->entry().name, futures[next++].get()});
    }
    return outcomes;
}

}  // namespace zolvane::fleet
