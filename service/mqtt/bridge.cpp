#include "mqtt/bridge.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "command_request.h"
#include "log.h"
#include "mqtt/client.h"
#include "mqtt/discovery.h"
#include "mqtt/topics.h"
#include "projector_json.h"

namespace zolvane::service::mqtt {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kLargestMessage = 4096;
constexpr std::size_t kIdsKept = 256;       // per projector, for redelivered commands
constexpr std::size_t kWorkers = 4;         // threads waiting for results
constexpr std::size_t kMostWaiting = 1024;  // commands queued and not yet answered
// How long retained discovery messages are collected after subscribing to them.
constexpr std::chrono::milliseconds kSettle{1000};

// The everyday settings by their short names in set topics.
constexpr std::pair<std::string_view, std::string_view> kShortNames[] = {
    {"power", "Power"}, {"input", "InputSource"}, {"blank", "Blank"}, {"mute", "Mute"}};

std::optional<std::string> named(const std::optional<std::uint16_t>& value, const char* setting) {
    if (!value) return std::nullopt;
    if (setting != nullptr) {
        if (const char* name = zv_value_name(zv_catalogue_find(setting), *value)) return name;
    }
    return std::to_string(*value);
}

// One retained topic per value, each with its payload when known.
std::vector<std::pair<std::string_view, std::optional<std::string>>> leaves(
    const fleet::ProjectorState& state) {
    return {
        {"availability", state.reach == fleet::Reach::Online ? "online" : "offline"},
        {"reach", std::string(fleet::reachName(state.reach))},
        {"power", named(state.power, "Power")},
        {"input", named(state.input, "InputSource")},
        {"blank", named(state.blank, "Blank")},
        {"mute", named(state.mute, "Mute")},
        {"lamp_hours", named(state.lampHours, nullptr)},
        {"filter_hours", named(state.filterHours, nullptr)},
        {"error_status", named(state.errorStatus, "ErrorStatus")},
    };
}

// A set topic's payload: a whole number or a value name.
std::string setBody(std::string_view setting, std::string_view payload) {
    std::string text(payload);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    json body = {{"command", "set"}, {"setting", setting}};
    const bool number =
        !text.empty() && text.size() < 12 &&
        text.find_first_not_of("0123456789", text[0] == '-' ? 1 : 0) == std::string::npos &&
        text != "-";
    body["value"] = number ? json(std::stoll(text)) : json(text);
    return body.dump();
}

std::string outcomeWord(const fleet::CommandResult& result) {
    if (result.ok()) return "accepted";
    return resultName(result.result) == "refused" ? "refused" : "unreachable";
}

}  // namespace

class Bridge::Impl {
public:
    Impl(fleet::Fleet& fleet, const fleet::Inventory& inventory, fleet::MqttSettings settings)
        : fleet_(fleet), settings_(std::move(settings)) {
        for (const fleet::ProjectorEntry& entry : inventory.projectors) {
            entries_.emplace(entry.name, entry);
            nodes_.insert(nodeId(settings_, entry.name));
        }
    }

    bool start(std::string* why) {
        client_ = std::make_unique<Client>(
            settings_, statusTopic(settings_),
            Client::Handlers{[this] { connected(); },
                             [this](const std::string& reason) { disconnected(reason); },
                             [this](const std::string& topic, std::string_view payload,
                                    bool retained) { message(topic, payload, retained); }});
        for (std::size_t i = 0; i < kWorkers; ++i) workers_.emplace_back([this] { work(); });
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
        stopThreads();  // every result waited for is published before the status goes offline
        {
            std::lock_guard lock(mutex_);
            connected_ = false;
            closing_ = true;
        }
        client_->stop("offline");
        log(Level::Info, "mqtt: disconnected from " + where());
        client_.reset();
    }

private:
    struct Target {
        fleet::ProjectorQueue* queue;
        std::future<fleet::CommandResult> result;
    };
    struct Job {
        std::string topic;
        std::optional<std::string> id;
        std::string group;  // empty for a projector's own topic
        fleet::Command command;
        std::vector<Target> targets;
    };
    // The ids of a projector's latest commands, each with its result once published.
    struct Seen {
        std::deque<std::string> order;
        std::unordered_map<std::string, std::optional<std::string>> results;
    };

    std::string where() const { return settings_.host + ":" + std::to_string(settings_.port); }

    void stopThreads() {
        if (watcher_) fleet_.unsubscribe(*watcher_);
        watcher_.reset();
        {
            std::lock_guard lock(jobsMutex_);
            stopping_ = true;
        }
        jobsChanged_.notify_all();
        sweepChanged_.notify_all();
        for (std::thread& worker : workers_) worker.join();
        workers_.clear();
        if (sweeper_.joinable()) sweeper_.join();
    }

    // On the network thread: everything retained again, the subscriptions again.
    void connected() {
        log(Level::Info, "mqtt: connected to " + where());
        for (const std::string& filter : commandFilters(settings_)) client_->subscribe(filter);
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
        published_.clear();
        if (settings_.discovery) {
            for (const auto& [name, entry] : entries_) {
                for (const Message& m : discoveryMessages(settings_, entry)) {
                    client_->publish(m.topic, m.payload, m.retain);
                }
            }
        }
        for (const auto& queue : fleet_.projectors()) {
            publishState(queue->entry().name, queue->state());
        }
    }

    // Under mutex_. While there is no connection nothing is sent, so nothing piles up: on the
    // next connect every topic is published afresh.
    void publishState(const std::string& name, const fleet::ProjectorState& state) {
        if (!connected_) return;
        const auto entry = entries_.find(name);
        if (entry == entries_.end()) return;
        const auto send = [&](std::string topic, const std::string& payload) {
            std::string& last = published_[topic];
            if (last == payload) return;
            if (client_->publish(topic, payload, true)) last = payload;
        };
        for (const auto& [leaf, payload] : leaves(state)) {
            if (payload) send(projectorTopic(settings_, name, leaf), *payload);
        }
        json shown = projectorJson(entry->second, state);
        send(projectorTopic(settings_, name, "state"), shown.dump());
    }

    // On the network thread.
    void message(const std::string& topic, std::string_view payload, bool retained) {
        if (settings_.discovery) {
            if (topic == discoveryStatusTopic(settings_)) {
                if (payload == "online") {
                    std::lock_guard lock(mutex_);
                    republish();
                }
                return;
            }
            if (discoveredNode(settings_, topic)) {
                std::lock_guard lock(jobsMutex_);
                if (settleUntil_ && !payload.empty()) found_.insert(topic);
                return;
            }
        }
        const std::optional<CommandTopic> read = parseCommandTopic(settings_, topic);
        if (!read) return;
        command(topic, *read, payload, retained);
    }

    void invalid(const std::string& topic, const std::string& resultTopic,
                 const std::optional<std::string>& projector, const std::string& reason) {
        json shown = {{"topic", topic}, {"outcome", "invalid"}, {"ok", false}, {"reason", reason}};
        if (projector) shown["projector"] = *projector;
        log(Level::Info, "mqtt: command on " + topic + " not run: " + reason);
        client_->publish(resultTopic, shown.dump(), false);
    }

    void command(const std::string& topic, const CommandTopic& read, std::string_view payload,
                 bool retained) {
        std::vector<fleet::ProjectorQueue*> targets;
        std::optional<std::string> projector;
        std::string resultTopic = siteResultTopic(settings_);
        if (read.group) {
            targets = fleet_.group(read.target);
            if (targets.empty() && read.target != "all") {
                return invalid(topic, resultTopic, {}, "unknown group \"" + read.target + "\"");
            }
        } else if (fleet::ProjectorQueue* queue = fleet_.find(read.target)) {
            targets.push_back(queue);
            projector = read.target;
            resultTopic = projectorTopic(settings_, read.target, "result");
        } else {
            return invalid(topic, resultTopic, {}, "unknown projector \"" + read.target + "\"");
        }
        if (payload.size() > kLargestMessage) {
            return invalid(topic, resultTopic, projector,
                           "message of " + std::to_string(payload.size()) + " bytes, over " +
                               std::to_string(kLargestMessage));
        }
        if (retained) {
            return invalid(topic, resultTopic, projector,
                           "a retained command is not run (it would run at every connect)");
        }
        std::optional<std::string> id;
        CheckedCommand checked;
        if (read.setting.empty()) {
            checked = commandFromBody(payload);
            const json body = json::parse(payload, nullptr, false);
            if (checked.command && body.is_object() && body.contains("id")) {
                const json& given = body["id"];
                if (!given.is_string() && !given.is_number_integer()) {
                    return invalid(topic, resultTopic, projector,
                                   "\"id\" must be a string or a whole number");
                }
                id = given.is_string() ? given.get<std::string>() : given.dump();
            }
        } else {
            std::string setting = read.setting;
            for (const auto& [word, name] : kShortNames) {
                if (word == setting) setting = name;
            }
            RequestFault unknown;
            if (findSetting(setting, &unknown) == nullptr) {
                return invalid(topic, resultTopic, projector, unknown.reason);
            }
            checked = commandFromBody(setBody(setting, payload));
        }
        if (!checked.command) return invalid(topic, resultTopic, projector, checked.fault.reason);

        Job job{topic, id, read.group ? read.target : std::string(), *checked.command, {}};
        std::unique_lock lock(jobsMutex_);
        if (stopping_) {
            lock.unlock();
            return invalid(topic, resultTopic, projector, "the service is stopping");
        }
        if (waiting_ >= kMostWaiting) {
            lock.unlock();
            return invalid(topic, resultTopic, projector, "too many commands waiting");
        }
        for (fleet::ProjectorQueue* queue : targets) {
            if (id && !firstTime(queue->entry().name, *id)) continue;
            // Queued here, on the one network thread, so each projector runs its commands in
            // the order they came.
            job.targets.push_back(Target{queue, queue->run(job.command)});
        }
        if (job.targets.empty()) return;
        waiting_ += job.targets.size();
        jobs_.push_back(std::move(job));
        lock.unlock();
        jobsChanged_.notify_one();
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

    void work() {
        while (true) {
            std::unique_lock lock(jobsMutex_);
            jobsChanged_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            answer(job);
        }
    }

    void answer(Job& job) {
        std::string summary;
        for (Target& target : job.targets) {
            const std::string& name = target.queue->entry().name;
            const fleet::Fleet::Outcome outcome{name, target.result.get()};
            json shown = outcomeJson(outcome, job.command);
            if (job.id) shown["id"] = *job.id;
            if (!job.group.empty()) shown["group"] = job.group;
            shown["command"] = operationName(job.command.operation);
            shown["setting"] = job.command.setting->name;
            shown["outcome"] = outcomeWord(outcome.result);
            const std::string text = shown.dump();
            client_->publish(projectorTopic(settings_, name, "result"), text, false);
            summary += (summary.empty() ? "" : ", ") + name + " " +
                       (outcome.result.ok() ? "ok" : shown.value("reason", "failed"));
            std::lock_guard lock(jobsMutex_);
            --waiting_;
            if (job.id) {
                const auto seen = seen_.find(name);
                if (seen != seen_.end()) {
                    const auto known = seen->second.results.find(*job.id);
                    if (known != seen->second.results.end()) known->second = text;
                }
            }
        }
        std::string what =
            std::string(operationName(job.command.operation)) + " " + job.command.setting->name;
        if (job.command.operation == fleet::Operation::Set) {
            what += " " + std::to_string(job.command.value);
        }
        log(Level::Info, "command from mqtt " + job.topic + ": " + what + ": " + summary);
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
            for (const std::string& topic : found) {
                const std::optional<std::string> node = discoveredNode(settings_, topic);
                if (!node || nodes_.contains(*node)) continue;
                log(Level::Info, "mqtt: clearing " + topic + ": its projector left");
                client_->publish(topic, "", true);
            }
            lock.lock();
        }
    }

    fleet::Fleet& fleet_;
    const fleet::MqttSettings settings_;
    std::map<std::string, fleet::ProjectorEntry> entries_;
    std::set<std::string> nodes_;
    std::unique_ptr<Client> client_;
    std::optional<std::uint64_t> watcher_;

    std::mutex mutex_;  // the connection's state and what was published on it
    bool connected_ = false;
    bool closing_ = false;
    std::string lastFailure_;
    std::unordered_map<std::string, std::string> published_;

    std::mutex jobsMutex_;  // the commands, the ids seen and the discovery sweep
    std::condition_variable jobsChanged_;
    std::condition_variable sweepChanged_;
    bool stopping_ = false;
    std::deque<Job> jobs_;
    std::size_t waiting_ = 0;
    std::unordered_map<std::string, Seen> seen_;
    std::optional<Clock::time_point> settleUntil_;
    std::set<std::string> found_;
    std::vector<std::thread> workers_;
    std::thread sweeper_;
};

Bridge::Bridge(fleet::Fleet& fleet, const fleet::Inventory& inventory, fleet::MqttSettings settings)
    : impl_(std::make_unique<Impl>(fleet, inventory, std::move(settings))) {}

Bridge::~Bridge() { stop(); }

bool Bridge::start(std::string* why) { return impl_->start(why); }

void Bridge::stop() { impl_->stop(); }

}  // namespace zolvane::service::mqtt
