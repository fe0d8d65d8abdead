#include "mqtt/bridge.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "command_request.h"
#include "json_text.h"
#include "log.h"
#include "mqtt/client.h"
#include "mqtt/command_message.h"
#include "mqtt/discovery.h"
#include "mqtt/topics.h"
#include "projector_json.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::service::mqtt {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kIdsKept = 256;  // per projector, for redelivered commands
// How long retained discovery messages are collected after subscribing to them.
constexpr std::chrono::milliseconds kSettle{1000};
// Home Assistant's "online" brings everything again, but not more often than this however
// often it is published.
constexpr std::chrono::milliseconds kRepublishAtMost{1000};
// Commands cleared under 3.1.1 whose own empty message has not come back yet.
constexpr std::size_t kEchoesKept = 256;

// One retained topic per value, each with its payload when known: the projector's name of a
// watched value, else its number. A value the projector does not have is never known.
std::vector<std::pair<std::string_view, std::optional<std::string>>> leaves(
    const fleet::ProjectorState& state) {
    std::vector<std::pair<std::string_view, std::optional<std::string>>> leaves{
        {"availability", state.reach == fleet::Reach::Online ? "online" : "offline"},
        {"reach", std::string(fleet::reachName(state.reach))},
    };
    for (const fleet::WatchedValue& row : fleet::watchedValues()) {
        const std::optional<std::uint16_t>& value =
            fleet::has(state, row) ? state.*row.member : std::nullopt;
        const char* name = value ? fleet::valueName(state, row, *value) : nullptr;
        leaves.emplace_back(row.key, !value ? std::nullopt
                                     : name ? std::optional<std::string>(name)
                                            : std::to_string(*value));
    }
    return leaves;
}

// Every retained topic of one projector: its values' leaves and the whole state.
std::vector<std::string_view> retainedLeaves() {
    std::vector<std::string_view> names;
    for (const auto& [leaf, payload] : leaves(fleet::ProjectorState{})) names.push_back(leaf);
    names.emplace_back("state");
    return names;
}

std::string outcomeWord(const fleet::CommandResult& result) {
    if (result.ok()) return "accepted";
    const std::string_view word = resultName(result.result);
    if (word == "refused" || word == "busy") return std::string(word);
    return "unreachable";
}

}  // namespace

class Bridge::Impl {
public:
    Impl(fleet::Fleet& fleet, const fleet::Inventory& inventory, mqtt::Settings settings)
        : fleet_(fleet), settings_(std::move(settings)) {
        take(inventory);
        outbox_->bridge = this;
    }

    bool start(std::string* why) {
        client_ = std::make_unique<Client>(
            settings_, statusTopic(settings_),
            Client::Handlers{[this] { connected(); },
                             [this](const std::string& reason) { disconnected(reason); },
                             [this](const std::string& topic, std::string_view payload,
                                    bool retained) { message(topic, payload, retained); }});
        sweeper_ = std::thread([this] { sweep(); });
        watcher_ =
            fleet_.subscribe([this](const std::string& name, const fleet::ProjectorState& state) {
                std::lock_guard lock(mutex_);
                publishState(name, state);
            });
        if (!client_->start(why)) {
            stopThreads();
            return false;
        }
        log(Level::Info, "mqtt: connecting to " + where() + " as " + settings_.clientId);
        return true;
    }

    void stop() {
        if (!client_) return;
        stopThreads();
        {
            // Once the fleet has stopped every command has been answered; a result that
            // would come after this is not published.
            std::lock_guard lock(outbox_->mutex);
            outbox_->bridge = nullptr;
        }
        {
            std::lock_guard lock(mutex_);
            connected_ = false;
            closing_ = true;
        }
        client_->stop("offline");
        log(Level::Info, "mqtt: disconnected from " + where());
        client_.reset();
    }

    void publishScheduleRun(const std::string& schedule, const std::string& run) {
        std::lock_guard lock(mutex_);
        if (closing_) return;
        scheduleRuns_[schedule] = run;  // again on every connect, as the other retained topics
        if (client_ && connected_) {
            client_->publish(scheduleResultTopic(settings_, schedule), run, true);
        }
    }

    // The projectors read anew, with what the fleet's reconcile() did to them: those that left
    // are cleared from the broker (discovery and retained topics) and forgotten, those added or
    // changed are announced again. The connection stays as it is.
    void reload(const fleet::Inventory& inventory, const fleet::Changes& changes) {
        {
            std::lock_guard lock(jobsMutex_);
            for (const std::string& name : changes.removed) seen_.erase(name);
        }
        std::lock_guard lock(mutex_);
        if (closing_) return;
        for (const std::string& name : changes.removed) {
            if (const auto entry = entries_.find(name); entry != entries_.end()) {
                gone_.insert_or_assign(name, entry->second);
            }
        }
        take(inventory);
        if (!connected_) return;  // the next connect publishes everything afresh
        clearGone();
        for (const auto* names : {&changes.added, &changes.changed}) {
            for (const std::string& name : *names) {
                const auto entry = entries_.find(name);
                if (entry == entries_.end()) continue;
                forgetPublished(name);
                const fleet::QueueRef queue = fleet_.find(name);
                announce(entry->second, queue ? queue->state() : fleet::ProjectorState{});
                if (queue) publishState(name, queue->state());
            }
        }
    }

    bool publishAlert(const json& notification) {
        const json& alert = notification.at("alert");
        const auto text = [&](const char* key) {
            const auto found = alert.find(key);
            return found != alert.end() && found->is_string() ? found->get<std::string>()
                                                              : std::string();
        };
        const std::string projector = text("projector");
        const std::string topic =
            alertTopic(settings_, text("rule"), projector.empty() ? text("schedule") : projector);
        const bool resolved = notification.value("event", std::string()) == "resolved";
        std::string payload;
        if (resolved) {
            payload = jsonText(notification);
        } else {
            json shown = alert;
            shown["event"] = notification.value("event", std::string());
            payload = jsonText(shown);
        }
        std::lock_guard lock(mutex_);
        if (closing_) return false;
        // Kept for every connect, as the other retained topics, until it resolved.
        if (resolved) {
            alerts_.erase(topic);
        } else {
            alerts_[topic] = payload;
        }
        if (!client_ || !connected_) return false;
        if (!resolved) return client_->publish(topic, payload, true);
        return client_->publish(topic, payload, false) && client_->publish(topic, "", true);
    }

private:
    // A command on its way to one or more projectors; each result is published as it comes.
    struct Job {
        std::string topic;
        std::optional<std::string> id;
        std::string group;  // empty for a projector's own topic
        fleet::Command command;
        std::size_t left = 0;  // results still to come; under jobsMutex_ as summary is
        std::string summary;
    };
    // The ids of a projector's latest commands, each with its result once published.
    struct Seen {
        std::deque<std::string> order;
        std::unordered_map<std::string, std::optional<std::string>> results;
    };
    // What a queue's completion reaches: the bridge until it stops, then nothing, so that a
    // command still queued when the bridge goes cannot call into it.
    struct Outbox {
        std::mutex mutex;
        Impl* bridge = nullptr;
    };

    std::string where() const { return settings_.host + ":" + std::to_string(settings_.port); }

    void stopThreads() {
        if (watcher_) fleet_.unsubscribe(*watcher_);
        watcher_.reset();
        {
            std::lock_guard lock(jobsMutex_);
            stopping_ = true;
        }
        sweepChanged_.notify_all();
        if (sweeper_.joinable()) sweeper_.join();
    }

    // Under mutex_ (or before the bridge starts): the projectors this bridge speaks for.
    void take(const fleet::Inventory& inventory) {
        inventory_ = inventory;
        entries_.clear();
        nodes_.clear();
        for (const fleet::ProjectorEntry& entry : inventory_.projectors) {
            entries_.emplace(entry.name, entry);
            nodes_.insert(nodeId(settings_, entry.name));
            gone_.erase(entry.name);
        }
    }

    // Under mutex_, connected: a projector's discovery messages, for what it has as state
    // says. They are sent again when its abilities change (found at its first poll, and again
    // in slow polls), which clears the entities of values it turns out not to have.
    void announce(const fleet::ProjectorEntry& entry, const fleet::ProjectorState& state) {
        if (!settings_.discovery) return;
        announced_[entry.name] = state.abilities;
        for (const Message& m : discoveryMessages(settings_, entry, state)) {
            client_->publish(m.topic, m.payload, m.retain);
        }
    }

    // Under mutex_.
    void forgetPublished(const std::string& name) {
        const std::string prefix = projectorTopic(settings_, name, "");
        std::erase_if(published_, [&](const auto& kept) { return kept.first.starts_with(prefix); });
        announced_.erase(name);
    }

    // Under mutex_, connected: the projectors that left the inventory leave the broker too, an
    // empty retained message on each of their discovery and state topics as Home Assistant
    // expects.
    void clearGone() {
        for (const auto& [name, entry] : gone_) {
            log(Level::Info, "mqtt: clearing " + name + ": it left the inventory");
            if (settings_.discovery) {
                for (const Message& m : discoveryMessages(settings_, entry)) {
                    client_->publish(m.topic, "", true);
                }
            }
            for (const std::string_view leaf : retainedLeaves()) {
                client_->publish(projectorTopic(settings_, name, leaf), "", true);
            }
            forgetPublished(name);
        }
        gone_.clear();
    }

    // On the network thread: everything retained again, the subscriptions again.
    void connected() {
        log(Level::Info, std::string("mqtt: connected to ") + where() +
                             (client_->speaksV5() ? "" : " (MQTT 3.1.1)"));
        for (const std::string& filter : commandFilters(settings_)) {
            client_->subscribe(filter, true);
        }
        if (settings_.discovery) {
            client_->subscribe(discoveryStatusTopic(settings_));
            {
                std::lock_guard lock(jobsMutex_);
                found_.clear();
                settleUntil_ = Clock::now() + kSettle;
            }
            sweepChanged_.notify_all();
            client_->subscribe(discoveryFilter(settings_));
        }
        std::lock_guard lock(mutex_);
        connected_ = true;
        client_->publish(statusTopic(settings_), "online", true);
        republish();
    }

    void disconnected(std::string why) {
        while (!why.empty() && (why.back() == '.' || why.back() == ' ')) why.pop_back();
        std::lock_guard lock(mutex_);
        if (closing_) return;
        if (connected_ || lastFailure_ != why) {
            log(Level::Warning,
                "mqtt: no connection to " + where() + ": " + why + "; trying again");
        }
        lastFailure_ = why;
        connected_ = false;
    }

    // Under mutex_: discovery and every retained topic of every projector, as if never sent.
    void republish() {
        lastRepublish_ = Clock::now();
        clearGone();
        published_.clear();
        announced_.clear();
        std::unordered_map<std::string, fleet::ProjectorState> states;
        for (const auto& queue : fleet_.projectors()) states[queue->entry().name] = queue->state();
        for (const auto& [name, entry] : entries_) {
            const auto state = states.find(name);
            announce(entry, state == states.end() ? fleet::ProjectorState{} : state->second);
        }
        for (const auto& [name, state] : states) publishState(name, state);
        for (const auto& [schedule, run] : scheduleRuns_) {
            client_->publish(scheduleResultTopic(settings_, schedule), run, true);
        }
        for (const auto& [topic, alert] : alerts_) client_->publish(topic, alert, true);
    }

    // Under mutex_. While there is no connection nothing is sent, so nothing piles up: on the
    // next connect every topic is published afresh. A value not known is an empty retained
    // message, which clears what an earlier run or another client left on its topic.
    void publishState(const std::string& name, const fleet::ProjectorState& state) {
        if (!connected_) return;
        const auto entry = entries_.find(name);
        if (entry == entries_.end()) return;
        if (const auto known = announced_.find(name);
            settings_.discovery &&
            (known == announced_.end() || known->second != state.abilities)) {
            announce(entry->second, state);
        }
        const auto send = [&](std::string topic, const std::string& payload) {
            const auto last = published_.find(topic);
            if (last != published_.end() && last->second == payload) return;
            if (client_->publish(topic, payload, true)) published_[std::move(topic)] = payload;
        };
        for (const auto& [leaf, payload] : leaves(state)) {
            send(projectorTopic(settings_, name, leaf), payload.value_or(std::string()));
        }
        send(projectorTopic(settings_, name, "state"),
             jsonText(projectorJson(entry->second, state)));
    }

    // On the network thread. Whatever a message holds it is answered or dropped here, never
    // let through to the library.
    void message(const std::string& topic, std::string_view payload, bool retained) {
        try {
            if (settings_.discovery) {
                if (topic == discoveryStatusTopic(settings_)) {
                    if (payload == "online") {
                        std::lock_guard lock(mutex_);
                        if (Clock::now() - lastRepublish_ >= kRepublishAtMost) republish();
                    }
                    return;
                }
                if (discoveredNode(settings_, topic)) {
                    std::lock_guard lock(jobsMutex_);
                    if (settleUntil_ && !payload.empty()) found_.insert(topic);
                    return;
                }
            }
            // Under 3.1.1 the empty message that cleared a retained command comes back to us,
            // and without its retain flag.
            if (payload.empty() && !retained && echoes_.erase(topic) > 0) return;
            command(topic, payload, retained);
        } catch (const std::exception& e) {
            log(Level::Error, "mqtt: a message on " + topic + " failed: " + e.what());
            try {
                CommandMessage failed;
                failed.reason = "the message could not be handled";
                if (parseCommandTopic(settings_, topic)) {
                    client_->publish(siteResultTopic(settings_), invalidAnswer(topic, failed),
                                     false);
                }
            } catch (...) {
            }
        }
    }

    void refuse(const std::string& topic, const CommandMessage& read) {
        log(Level::Info, "mqtt: command on " + topic + " not run: " + read.reason);
        client_->publish(read.resultTopic, invalidAnswer(topic, read), false);
        if (read.clearRetained) {
            if (!client_->speaksV5()) {
                if (echoes_.size() >= kEchoesKept) echoes_.clear();
                echoes_.insert(topic);
            }
            client_->publish(topic, "", true);
        }
    }

    void command(const std::string& topic, std::string_view payload, bool retained) {
        CommandMessage read;
        {
            std::lock_guard lock(mutex_);
            read = readCommandMessage(settings_, inventory_, topic, payload, retained);
        }
        if (read.kind == CommandMessage::Kind::NotOurs ||
            read.kind == CommandMessage::Kind::Ignored) {
            return;
        }
        if (read.kind == CommandMessage::Kind::Invalid) return refuse(topic, read);

        read.command->origin = {"mqtt", topic};
        auto job = std::make_shared<Job>(Job{topic, read.id, read.group, *read.command, 0, {}});
        std::vector<fleet::QueueRef> queues;
        bool stopping = false;
        {
            std::lock_guard lock(jobsMutex_);
            stopping = stopping_;
            if (!stopping) {
                for (const std::string& name : read.targets) {
                    fleet::QueueRef queue = fleet_.find(name);
                    if (queue == nullptr || (read.id && !firstTime(name, *read.id))) continue;
                    queues.push_back(queue);
                }
                job->left = queues.size();
            }
        }
        if (stopping) {
            read.kind = CommandMessage::Kind::Invalid;
            read.reason = "the service is stopping";
            return refuse(topic, read);
        }
        // Queued here, on the one network thread, so each projector runs its commands in the
        // order they came. A queue that is full answers at once, on this thread.
        for (const fleet::QueueRef& queue : queues) {
            // The queue outlives every call of its own completion.
            queue->run(job->command, [outbox = outbox_, job, name = queue->entry().name,
                                      from = queue.get()](fleet::CommandResult result) {
                std::lock_guard lock(outbox->mutex);
                if (outbox->bridge) outbox->bridge->finished(*job, name, *from, std::move(result));
            });
        }
    }

    // Under jobsMutex_: whether this id is new for the projector; when it is not, the earlier
    // result is published again (once it is known).
    bool firstTime(const std::string& projector, const std::string& id) {
        Seen& seen = seen_[projector];
        const auto known = seen.results.find(id);
        if (known != seen.results.end()) {
            if (known->second) {
                client_->publish(projectorTopic(settings_, projector, "result"), *known->second,
                                 false);
            }
            log(Level::Info, "mqtt: command " + id + " to " + projector + " already run");
            return false;
        }
        seen.order.push_back(id);
        seen.results.emplace(id, std::nullopt);
        if (seen.order.size() > kIdsKept) {
            seen.results.erase(seen.order.front());
            seen.order.pop_front();
        }
        return true;
    }

    // On the projector's queue thread, or on the network thread for a command refused at
    // once; it only publishes, so that it never holds up the queue.
    void finished(Job& job, const std::string& name, const fleet::ProjectorQueue& queue,
                  fleet::CommandResult result) noexcept {
        const fleet::Fleet::Outcome outcome{name, std::move(result)};
        std::optional<std::string> text;
        std::string brief = "not answered";
        try {
            json shown = outcomeJson(outcome, job.command, &queue);
            if (job.id) shown["id"] = *job.id;
            if (!job.group.empty()) shown["group"] = job.group;
            shown["command"] = fleet::operationInfo(job.command.operation).word;
            shown["setting"] = job.command.setting->name;
            shown["outcome"] = outcomeWord(outcome.result);
            text = jsonText(shown);
            brief = outcome.result.ok() ? "ok" : shown.value("reason", "failed");
            client_->publish(projectorTopic(settings_, name, "result"), *text, false);
        } catch (const std::exception& e) {
            log(Level::Error, "mqtt: the result for " + name + " failed: " + e.what());
        }
        try {
            std::lock_guard lock(jobsMutex_);
            if (job.id && text) {
                const auto seen = seen_.find(name);
                if (seen != seen_.end()) {
                    const auto known = seen->second.results.find(*job.id);
                    if (known != seen->second.results.end()) known->second = *text;
                }
            }
            job.summary += (job.summary.empty() ? "" : ", ") + name + " " + brief;
            if (--job.left > 0) return;
            std::string what = std::string(fleet::operationInfo(job.command.operation).word) + " " +
                               job.command.setting->name;
            if (job.command.operation == fleet::Operation::Set) {
                what += " " + std::to_string(job.command.value);
            }
            log(Level::Info, "command from mqtt " + job.topic + ": " + what + ": " + job.summary);
        } catch (...) {
        }
    }

    // Clears the discovery of projectors no longer in the inventory, once the retained
    // discovery messages have come in after a connect.
    void sweep() {
        std::unique_lock lock(jobsMutex_);
        while (!stopping_) {
            if (!settleUntil_) {
                sweepChanged_.wait(lock);
                continue;
            }
            if (sweepChanged_.wait_until(lock, *settleUntil_) != std::cv_status::timeout &&
                Clock::now() < *settleUntil_) {
                continue;
            }
            settleUntil_.reset();
            const std::set<std::string> found = std::move(found_);
            found_.clear();
            lock.unlock();
            client_->unsubscribe(discoveryFilter(settings_));
            std::set<std::string> nodes;
            {
                std::lock_guard nodesLock(mutex_);
                nodes = nodes_;
            }
            for (const std::string& topic : found) {
                const std::optional<std::string> node = discoveredNode(settings_, topic);
                if (!node || nodes.contains(*node)) continue;
                log(Level::Info, "mqtt: clearing " + topic + ": its projector left");
                client_->publish(topic, "", true);
            }
            lock.lock();
        }
    }

    fleet::Fleet& fleet_;
    const mqtt::Settings settings_;
    std::unique_ptr<Client> client_;
    std::optional<std::uint64_t> watcher_;
    const std::shared_ptr<Outbox> outbox_ = std::make_shared<Outbox>();

    std::mutex mutex_;  // the projectors, the connection's state and what was published on it
    fleet::Inventory inventory_;
    std::map<std::string, fleet::ProjectorEntry> entries_;
    std::set<std::string> nodes_;
    std::map<std::string, fleet::ProjectorEntry> gone_;  // left the inventory, not cleared yet
    bool connected_ = false;
    bool closing_ = false;
    std::string lastFailure_;
    std::unordered_map<std::string, std::string> published_;
    // The abilities each projector's discovery messages were last sent for.
    std::unordered_map<std::string, fleet::Abilities> announced_;
    std::map<std::string, std::string> scheduleRuns_;  // the last run of each, as published
    std::map<std::string, std::string> alerts_;        // each open alert's topic and message
    Clock::time_point lastRepublish_{};

    std::unordered_set<std::string> echoes_;  // on the network thread only

    std::mutex jobsMutex_;  // the ids seen, the jobs' results and the discovery sweep
    std::condition_variable sweepChanged_;
    bool stopping_ = false;
    std::unordered_map<std::string, Seen> seen_;
    std::optional<Clock::time_point> settleUntil_;
    std::set<std::string> found_;
    std::thread sweeper_;
};

Bridge::Bridge(fleet::Fleet& fleet, const fleet::Inventory& inventory, mqtt::Settings settings)
    : impl_(std::make_unique<Impl>(fleet, inventory, std::move(settings))) {}

void Bridge::publishScheduleRun(const std::string& schedule, const std::string& run) {
    impl_->publishScheduleRun(schedule, run);
}

bool Bridge::publishAlert(const nlohmann::json& notification) {
    return impl_->publishAlert(notification);
}

void Bridge::reload(const fleet::Inventory& inventory, const fleet::Changes& changes) {
    impl_->reload(inventory, changes);
}

Bridge::~Bridge() { stop(); }

bool Bridge::start(std::string* why) { return impl_->start(why); }

void Bridge::stop() { impl_->stop(); }

}  // namespace zolvane::service::mqtt
