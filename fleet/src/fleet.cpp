#include "zolvane_fleet/fleet.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>
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

// Stops every queue at once: a projector mid-exchange holds up only its own stop, and the
// whole takes as long as the longest exchange under way.
void stopAll(const std::vector<QueueRef>& queues) {
    for (const QueueRef& queue : queues) queue->requestStop();
    for (const QueueRef& queue : queues) queue->stop();
}

}  // namespace

class Fleet::Impl {
public:
    explicit Impl(const Inventory& inventory) : inventory_(inventory) {
        queues_.reserve(inventory.projectors.size());
        for (const ProjectorEntry& entry : inventory.projectors) queues_.push_back(make(entry));
    }

    ~Impl() { stopAll(queues_); }

    QueueRef make(const ProjectorEntry& entry) {
        const std::string name = entry.name;
        return std::make_shared<ProjectorQueue>(
            entry, [this, name](const ProjectorState& state) { tell(name, state); },
            [this, name](const Command& command, const CommandResult& result) {
                if (commandWatcher_) commandWatcher_(name, command, result);
            });
    }

    void start(bool polling) {
        std::vector<QueueRef> queues;
        {
            std::unique_lock lock(membership_);
            started_ = true;
            polling_ = polling;
            queues = queues_;
        }
        for (const QueueRef& queue : queues) queue->start(polling);
    }

    void stop() {
        std::vector<QueueRef> queues;
        {
            std::unique_lock lock(membership_);
            started_ = false;
            queues = queues_;
        }
        stopAll(queues);
    }

    std::vector<QueueRef> projectors() const {
        std::shared_lock lock(membership_);
        return queues_;
    }

    QueueRef find(std::string_view name) const {
        std::shared_lock lock(membership_);
        for (const QueueRef& queue : queues_) {
            if (queue->entry().name == name) return queue;
        }
        return nullptr;
    }

    std::vector<QueueRef> group(std::string_view name) const {
        std::shared_lock lock(membership_);
        std::vector<QueueRef> members;
        for (const QueueRef& queue : queues_) {
            const auto& groups = queue->entry().groups;
            if (name == "all" || std::find(groups.begin(), groups.end(), name) != groups.end()) {
                members.push_back(queue);
            }
        }
        return members;
    }

    Inventory inventory() const {
        std::shared_lock lock(membership_);
        return inventory_;
    }

    std::vector<std::string> groups() const {
        std::shared_lock lock(membership_);
        return inventory_.groups();
    }

    Changes reconcile(const Inventory& next) {
        Changes changes;
        std::vector<QueueRef> ended;
        std::vector<QueueRef> begun;
        bool started = false;
        bool polling = true;
        {
            std::unique_lock lock(membership_);
            std::map<std::string, QueueRef, std::less<>> old;
            for (const QueueRef& queue : queues_) old.emplace(queue->entry().name, queue);
            std::vector<QueueRef> queues;
            queues.reserve(next.projectors.size());
            for (const ProjectorEntry& entry : next.projectors) {
                const auto found = old.find(entry.name);
                if (found != old.end() && found->second->entry().sameAs(entry)) {
                    queues.push_back(found->second);
                    old.erase(found);
                    continue;
                }
                if (found != old.end()) {
                    changes.changed.push_back(entry.name);
                    ended.push_back(found->second);
                    old.erase(found);
                } else {
                    changes.added.push_back(entry.name);
                }
                queues.push_back(make(entry));
                begun.push_back(queues.back());
            }
            for (const QueueRef& queue : queues_) {
                if (old.count(queue->entry().name) == 0) continue;
                changes.removed.push_back(queue->entry().name);
                ended.push_back(queue);
            }
            const auto membership = [](const Inventory& inventory) {
                std::set<std::pair<std::string, std::string>> pairs;
                for (const ProjectorEntry& entry : inventory.projectors) {
                    for (const std::string& group : entry.groups) pairs.emplace(group, entry.name);
                }
                return pairs;
            };
            changes.groupsChanged = membership(inventory_) != membership(next);
            queues_ = std::move(queues);
            inventory_ = next;
            started = started_;
            polling = polling_;
        }
        // The old queue of a changed projector ends before its new one begins, so that the two
        // never talk to the projector at once.
        stopAll(ended);
        if (started) {
            for (const QueueRef& queue : begun) queue->start(polling);
        }
        return changes;
    }

    std::vector<std::string> stuck() const {
        std::vector<std::string> names;
        for (const QueueRef& queue : projectors()) {
            if (queue->busyFor() > queue->stuckAfter()) names.push_back(queue->entry().name);
        }
        return names;
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

    mutable std::shared_mutex membership_;  // queues_, inventory_, started_, polling_
    Inventory inventory_;
    std::vector<QueueRef> queues_;
    bool started_ = false;
    bool polling_ = true;

public:
    CommandWatcher commandWatcher_;  // set before any command runs, read only after
};

Fleet::Fleet(const Inventory& inventory) : impl_(std::make_unique<Impl>(inventory)) {}

Fleet::~Fleet() { stop(); }

void Fleet::start(bool polling) { impl_->start(polling); }
void Fleet::stop() { impl_->stop(); }

std::vector<QueueRef> Fleet::projectors() const { return impl_->projectors(); }
QueueRef Fleet::find(std::string_view name) const { return impl_->find(name); }
std::vector<QueueRef> Fleet::group(std::string_view name) const { return impl_->group(name); }

std::vector<std::string> Fleet::groups() const { return impl_->groups(); }
Inventory Fleet::inventory() const { return impl_->inventory(); }
Changes Fleet::reconcile(const Inventory& next) { return impl_->reconcile(next); }
std::vector<std::string> Fleet::stuck() const { return impl_->stuck(); }

std::uint64_t Fleet::subscribe(Watcher watcher) { return impl_->subscribe(std::move(watcher)); }
void Fleet::unsubscribe(std::uint64_t id) { impl_->unsubscribe(id); }
void Fleet::watchCommands(CommandWatcher watcher) { impl_->commandWatcher_ = std::move(watcher); }

std::vector<Fleet::Outcome> Fleet::runAll(const std::vector<QueueRef>& targets,
                                          const Command& command) {
    std::vector<std::future<CommandResult>> futures;
    futures.reserve(targets.size());
    for (const QueueRef& target : targets) {
        if (target != nullptr) futures.push_back(target->run(command));
    }
    std::vector<Outcome> outcomes;
    outcomes.reserve(futures.size());
    std::size_t next = 0;
    for (const QueueRef& target : targets) {
        if (target == nullptr) continue;
        outcomes.push_back(Outcome{target->entry().name, futures[next++].get()});
    }
    return outcomes;
}

}  // namespace zolvane::fleet
