#include "zolvane_fleet/projector_queue.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "zolvane_fleet/watched.h"

namespace zolvane::fleet {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kPower = 0x6000;
constexpr std::uint16_t kPowerOn = 1;
constexpr std::uint16_t kCoolingDown = 2;
constexpr std::chrono::seconds kCoolingAskEvery{1};
constexpr const char* kStopping = "the service is stopping";

std::optional<std::uint16_t> ProjectorState::*stateMember(std::uint16_t type) {
    const WatchedValue* row = watchedByType(type);
    return row ? row->member : nullptr;
}

std::string inWords(Milliseconds time) {
    if (time.count() % 1000 == 0) return std::to_string(time.count() / 1000) + " s";
    return std::to_string(time.count()) + " ms";
}

// Whether the projector took part: a refusal is an answer, a time-out or a dead line is not.
bool answered(zv_result result) { return result == 0 || result == ZV_RESULT_BAD_REPLY; }

}  // namespace

std::string resultReason(zv_result result) {
    if (result == 0) return {};
    if (result == ZV_RESULT_BAD_REPLY) return "refused by the projector";
    return ZV_GetResultText(result);
}

class ProjectorQueue::Impl {
public:
    Impl(ProjectorEntry entry, Watcher watcher, Ran ran)
        : entry_(std::move(entry)), watcher_(std::move(watcher)), ran_(std::move(ran)) {
        zv_result why = 0;
        link_ = zv_link_open(entry_.address.c_str(), &why);
        if (link_ == nullptr) {
            throw std::invalid_argument("address \"" + entry_.address +
                                        "\" cannot be used: " + resultReason(why));
        }
        const Timing& t = entry_.timing;
        const struct {
            int32_t option;
            Milliseconds value;
        } options[] = {
            {ZV_LINK_CONNECT_TIMEOUT_MS, t.connectTimeout},
            {ZV_LINK_SEND_TIMEOUT_MS, t.sendTimeout},
            {ZV_LINK_RECEIVE_TIMEOUT_MS, t.receiveTimeout},
            {ZV_LINK_GAP_MS, t.gap},
        };
        for (const auto& [option, value] : options) {
            if (zv_link_set_option(link_, option, static_cast<int32_t>(value.count())) != 0) {
                zv_link_close(link_);
                throw std::invalid_argument("timing of \"" + entry_.name +
                                            "\" is out of the link's range");
            }
        }
    }

    ~Impl() {
        stop();
        zv_link_close(link_);
    }

    const ProjectorEntry& entry() const { return entry_; }

    void start(bool polling, QueueExchanges exchanges) {
        std::lock_guard lock(mutex_);
        if (thread_.joinable() || stopping_) return;
        polling_ = polling;
        exchanges_ = exchanges;
        thread_ = std::thread([this] { loop(); });
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        std::thread thread;
        {
            std::lock_guard lock(mutex_);
            thread = std::move(thread_);
            // Called from a watcher on the queue's own thread: it ends when the watcher returns
            // and is joined by the next stop() from elsewhere.
            if (thread.get_id() == std::this_thread::get_id()) {
                thread_ = std::move(thread);
                return;
            }
        }
        if (thread.joinable()) thread.join();
        refuseQueued();
    }

    std::future<CommandResult> run(Command command) {
        auto promise = std::make_shared<std::promise<CommandResult>>();
        std::future<CommandResult> future = promise->get_future();
        run(std::move(command),
            [promise](CommandResult result) { promise->set_value(std::move(result)); });
        return future;
    }

    void run(Command command, Completion done) {
        if (ran_) {
            // The record is told of the command as it was given, whatever becomes of it.
            done = [this, told = command, done = std::move(done)](CommandResult result) {
                ran_(told, result);
                done(std::move(result));
            };
        }
        bool full = false;
        {
            std::lock_guard lock(mutex_);
            if (!stopping_) {
                full = queue_.size() >= entry_.timing.maxQueued;
                if (!full) {
                    queue_.push_back(Pending{std::move(command), std::move(done)});
                    wake_.notify_all();
                    return;
                }
            }
        }
        if (full) {
            done(CommandResult{kQueueFull,
                               {},
                               {},
                               std::to_string(entry_.timing.maxQueued) +
                                   " commands are already waiting for " + entry_.name});
            return;
        }
        done(CommandResult{ZV_RESULT_LINK_CLOSED, {}, {}, kStopping});
    }

    ProjectorState state() const {
        std::lock_guard lock(stateMutex_);
        return state_;
    }

private:
    struct Pending {
        Command command;
        Completion done;
    };

    void refuseQueued() {
        std::deque<Pending> left;
        {
            std::lock_guard lock(mutex_);
            left.swap(queue_);
        }
        for (Pending& pending : left) {
            pending.done(CommandResult{ZV_RESULT_LINK_CLOSED, {}, {}, kStopping});
        }
    }

    void loop() {
        Clock::time_point nextPoll = Clock::now();
        Clock::time_point nextSlow = nextPoll;
        bool first = true;
        unsigned commandsWhileDue = 0;  // commands run since the poll fell due
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            const bool pollDue = polling_ && Clock::now() >= nextPoll;
            const bool pollFirst = pollDue && commandsWhileDue >= entry_.timing.pollAfterCommands;
            if (!queue_.empty() && !pollFirst) {
                Pending pending = std::move(queue_.front());
                queue_.pop_front();
                lock.unlock();
                if (pollDue) ++commandsWhileDue;
                const Step step(*this);
                CommandResult result;
                try {
                    result = exchanges_ == QueueExchanges::Plain ? exchangeOnly(pending.command)
                                                                 : execute(pending.command);
                } catch (const std::exception& error) {
                    result = CommandResult{ZV_RESULT_BAD_ARGUMENT, {}, {}, error.what()};
                }
                pending.done(std::move(result));
                lock.lock();
                continue;
            }
            if (pollDue) {
                lock.unlock();
                commandsWhileDue = 0;
                const Clock::time_point began = Clock::now();
                {
                    const Step step(*this);
                    poll(began >= nextSlow, nextSlow);
                }
                // Keep the beat; a poll held up by commands starts a new beat rather than
                // catching up on the ones missed.
                nextPoll += entry_.timing.pollInterval;
                if (nextPoll < began) nextPoll = began + entry_.timing.pollInterval;
                if (first) {
                    // Every queue starts at once; left there, a fleet's polls would all fall in
                    // the same instant of every interval and queue up behind one another. Each
                    // projector's beat moves to a place of its own in the interval instead.
                    nextPoll = began + phase();
                    first = false;
                }
                lock.lock();
                continue;
            }
            if (polling_) {
                wake_.wait_until(lock, nextPoll, [this] { return stopping_ || !queue_.empty(); });
            } else {
                wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            }
        }
    }

    // A place in the poll interval taken from the name (FNV-1a), the same at every start.
    Milliseconds phase() const {
        std::uint32_t hash = 2166136261u;
        for (const char c : entry_.name) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        }
        const auto interval = static_cast<std::uint64_t>(entry_.timing.pollInterval.count());
        return Milliseconds(static_cast<std::int64_t>(hash % interval));
    }

    // The words for a failed exchange on this link, with its own time-outs.
    std::string reason(zv_result result) const {
        const Timing& t = entry_.timing;
        switch (result) {
            case ZV_RESULT_NETWORK_TIMEOUT:
            case ZV_RESULT_PORT_REPLY_TIMEOUT:
                return "no reply within " + std::to_string(t.receiveTimeout.count()) + " ms";
            case ZV_RESULT_CONNECT_FAILED:
                return "connection refused or not made within " +
                       std::to_string(t.connectTimeout.count()) + " ms";
            default:
                return resultReason(result);
        }
    }

    // One exchange on the link and its mark on the working copy of the state.
    zv_result exchange(ProjectorState& state, zv_result result) {
        if (answered(result)) {
            state.reach = Reach::Online;
            state.failedPolls = 0;
            state.lastSeen = std::chrono::system_clock::now();
        }
        return result;
    }

    zv_result get(ProjectorState& state, std::uint16_t type, std::uint16_t& value) {
        const zv_result result = exchange(state, zv_get(link_, type, &value));
        if (result == 0) {
            if (auto member = stateMember(type)) state.*member = value;
        }
        return result;
    }

    // A command of a Plain queue: its one exchange.
    CommandResult exchangeOnly(const Command& command) {
        std::uint16_t value = 0;
        CommandResult out{fleet::exchange(link_, command, &value), {}, {}, {}};
        if (out.ok() && command.operation == Operation::Get) out.value = value;
        if (!out.ok()) out.reason = reason(out.result);
        return out;
    }

    bool stopRequested() const {
        std::lock_guard lock(mutex_);
        return stopping_;
    }

    void poll(bool slowDue, Clock::time_point& nextSlow) {
        const Clock::time_point began = Clock::now();
        ProjectorState state = this->state();
        // Coming back is worth a fresh look at the slow values too.
        slowDue = slowDue || state.reach != Reach::Online;
        // Power first: the values asked only while on wait for its answer.
        std::uint16_t value = 0;
        zv_result failure = 0;
        bool on = false;
        bool slowAsked = false;
        std::optional<Cadence> failedIn;
        for (const WatchedValue& row : watchedValues()) {
            if (row.cadence == Cadence::WhileOn && !on) continue;
            if (row.cadence == Cadence::Slow && !slowDue) continue;
            if (row.cadence != Cadence::EveryPoll && stopRequested()) {
                return;  // the rest of this poll would only hold up the stop
            }
            const zv_result result = get(state, row.type(), value);
            if (row.cadence == Cadence::EveryPoll) {
                if (result != 0) {
                    failure = result;
                    failedIn = row.cadence;
                    break;
                }
                if (row.type() == kPower) on = value == kPowerOn;
                continue;
            }
            if (!answered(result)) {
                failure = result;
                failedIn = row.cadence;
                break;
            }
            slowAsked = slowAsked || row.cadence == Cadence::Slow;
        }
        // Input, blank and mute were all read, whatever became of the slow values after them.
        if (on && (!failedIn || *failedIn == Cadence::Slow))
            state.inputReadAt = std::chrono::system_clock::now();
        if (failure == 0 && slowAsked) nextSlow = began + entry_.timing.slowPollInterval;
        if (failure != 0) {
            state.lastFailure = reason(failure);
            ++state.pollFailures;
            ++state.failedPolls;
            if (state.failedPolls >= entry_.timing.offlineAfter) state.reach = Reach::Offline;
        }
        ++state.polls;
        state.lastPollDuration = Clock::now() - began;
        state.pollDurationSum += state.lastPollDuration;
        publish(std::move(state));
    }

    // Stores the working copy; a visible change bumps the version and tells the watcher.
    void publish(ProjectorState state) {
        bool changed = false;
        {
            std::lock_guard lock(stateMutex_);
            changed = !state.sameAs(state_);
            state.version = state_.version + (changed ? 1 : 0);
            state_ = state;
        }
        if (changed && watcher_) {
            try {
                watcher_(state);
            } catch (...) {
                // A watcher's fault is its own; the queue goes on.
            }
        }
    }

    CommandResult execute(const Command& command) {
        const Checked checked = check(command, Phrasing::Queued);
        if (!checked.command) return {ZV_RESULT_BAD_ARGUMENT, {}, {}, checked.refusal.reason};
        const zv_setting* setting = command.setting;
        const bool isGet = command.operation == Operation::Get;
        const bool isSet = command.operation == Operation::Set;
        if (isSet && setting->type == kPower && command.value == kPowerOn) return powerOn();
        ProjectorState state = this->state();
        CommandResult out;
        std::uint16_t read = 0;
        out.result = exchange(state, fleet::exchange(link_, command, &read));
        if (out.result == 0 && (isGet || isSet)) {
            const auto known = isGet ? read : static_cast<std::uint16_t>(command.value);
            if (auto member = stateMember(setting->type)) state.*member = known;
            if (isGet) out.value = known;
            if (isSet && setting->type == kPower) {
                // Switching off starts the cool-down: say what the projector says now.
                std::uint16_t now = known;
                if (get(state, kPower, now) != 0) now = known;
                out.value = now;
            }
        }
        if (out.result != 0) out.reason = reason(out.result);
        publish(std::move(state));
        return out;
    }

    // Switches on, first waiting out a cool-down: the power is asked every second until the
    // projector may be struck again, for at most coolingWait.
    CommandResult powerOn() {
        ProjectorState state = this->state();
        CommandResult out;
        bool cooling = state.power == kCoolingDown;
        if (!cooling) {
            out.result = exchange(state, zv_set(link_, kPower, kPowerOn));
            if (out.result == ZV_RESULT_BAD_REPLY) {
                std::uint16_t power = 0;
                cooling = get(state, kPower, power) == 0 && power == kCoolingDown;
            }
        }
        if (cooling) {
            out = waitForCoolDown(state);
            if (out.result == 0) out.result = exchange(state, zv_set(link_, kPower, kPowerOn));
        }
        if (out.result == 0) {
            state.power = kPowerOn;
            out.value = kPowerOn;
        } else if (out.reason.empty()) {
            out.reason = reason(out.result);
        }
        publish(std::move(state));
        return out;
    }

    // Asks the power until the projector is no longer cooling down; waited is how long it was.
    CommandResult waitForCoolDown(ProjectorState& state) {
        const Clock::time_point began = Clock::now();
        const Clock::time_point deadline = began + entry_.timing.coolingWait;
        std::string lastFailure;
        bool seenCooling = false;
        const auto result = [&](zv_result code, std::string why) {
            CommandResult out{code, {}, {}, std::move(why)};
            if (seenCooling)
                out.waited = std::chrono::duration_cast<Milliseconds>(Clock::now() - began);
            return out;
        };
        for (;;) {
            std::uint16_t power = 0;
            const zv_result asked = get(state, kPower, power);
            if (asked == 0 && power != kCoolingDown) return result(0, {});
            if (asked == 0) seenCooling = true;
            if (asked != 0) lastFailure = reason(asked);
            publish(state);  // watchers see the cool-down as it goes
            stepBegan_ = Clock::now().time_since_epoch().count();  // each ask is a step of its own
            const Clock::time_point now = Clock::now();
            if (now >= deadline) {
                std::string why = "still cooling down after " + inWords(entry_.timing.coolingWait);
                if (!lastFailure.empty()) why += " (last asked: " + lastFailure + ")";
                return result(ZV_RESULT_BAD_REPLY, why);
            }
            std::unique_lock lock(mutex_);
            if (wake_.wait_until(lock, std::min(now + kCoolingAskEvery, deadline),
                                 [this] { return stopping_; })) {
                return result(ZV_RESULT_LINK_CLOSED, kStopping);
            }
        }
    }

public:
    // How long the thread has been inside one exchange (or the asks of one cool-down); zero while
    // it waits for work.
    Milliseconds busyFor() const {
        const Clock::rep began = stepBegan_;
        if (began == 0) return Milliseconds(0);
        return std::chrono::duration_cast<Milliseconds>(Clock::now().time_since_epoch() -
                                                        Clock::duration(began));
    }

private:
    // Marks the thread busy for its lifetime.
    struct Step {
        explicit Step(Impl& queue) : queue(queue) {
            queue.stepBegan_ = Clock::now().time_since_epoch().count();
        }
        ~Step() { queue.stepBegan_ = 0; }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;
        Impl& queue;
    };
    std::atomic<Clock::rep> stepBegan_{0};

    const ProjectorEntry entry_;
    const Watcher watcher_;
    const Ran ran_;
    zv_link* link_ = nullptr;

    mutable std::mutex mutex_;  // the queue, stopping_, thread_
    std::condition_variable wake_;
    std::deque<Pending> queue_;
    bool stopping_ = false;
    bool polling_ = true;
    QueueExchanges exchanges_ = QueueExchanges::Full;
    std::thread thread_;

    // Written only on the queue's thread, read by anyone.
    mutable std::mutex stateMutex_;
    ProjectorState state_;
};

ProjectorQueue::ProjectorQueue(ProjectorEntry entry, Watcher watcher, Ran ran)
    : impl_(std::make_unique<Impl>(std::move(entry), std::move(watcher), std::move(ran))) {}

ProjectorQueue::~ProjectorQueue() = default;

const ProjectorEntry& ProjectorQueue::entry() const { return impl_->entry(); }
void ProjectorQueue::start(bool polling, QueueExchanges exchanges) {
    impl_->start(polling, exchanges);
}
void ProjectorQueue::stop() { impl_->stop(); }
std::future<CommandResult> ProjectorQueue::run(Command command) {
    return impl_->run(std::move(command));
}
void ProjectorQueue::run(Command command, Completion done) {
    impl_->run(std::move(command), std::move(done));
}
ProjectorState ProjectorQueue::state() const { return impl_->state(); }

Milliseconds ProjectorQueue::busyFor() const { return impl_->busyFor(); }

Milliseconds ProjectorQueue::stuckAfter() const {
    const Timing& t = impl_->entry().timing;
    // One exchange takes at most its connect, send and receive times and the gap before it;
    // thrice that, and half a minute beside, before the thread counts as stuck.
    return 3 * (t.connectTimeout + t.sendTimeout + t.receiveTimeout + t.gap) + Milliseconds(30000);
}

}  // namespace zolvane::fleet
