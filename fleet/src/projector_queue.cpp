#include "zolvane_fleet/projector_queue.h"

#include <atomic>
#include <condition_variable>
#include <coroutine>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "coroutine.h"
#include "driver.h"
#include "event_loop.h"
#include "zolvane_fleet/driver_results.h"
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

// Whether the projector took part: a refusal is an answer (ours, or PJLink's "no such command",
// "not now" and "I am failing"), a time-out, a dead line or a garbled answer is not.
bool answered(zv_result result) {
    return result == 0 || result == ZV_RESULT_BAD_REPLY || result == kUnsupported ||
           result == kUnavailable || result == kProjectorFailure;
}

}  // namespace

std::string resultReason(zv_result result) {
    if (result == 0) return {};
    if (result == ZV_RESULT_BAD_REPLY) return "refused by the projector";
    return ZV_GetResultText(result);
}

// Everything a queue does runs on the event loop's thread, as one coroutine per queue that
// waits for its socket, its next poll or its next command without holding a thread. run(),
// stop() and state() may be called from any thread: they meet the coroutine under mutex_.
class ProjectorQueue::Impl : public std::enable_shared_from_this<Impl> {
public:
    Impl(ProjectorEntry entry, Watcher watcher, Ran ran)
        : entry_(std::move(entry)),
          watcher_(std::move(watcher)),
          ran_(std::move(ran)),
          driver_(openDriver(entry_, loop_)) {
        state_.abilities = driver_->abilities();
    }

    // The last reference goes once the coroutine has ended, so no exchange is under way.
    ~Impl() = default;

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    const ProjectorEntry& entry() const { return entry_; }

    void start(bool polling, QueueExchanges exchanges) {
        std::lock_guard lock(mutex_);
        if (started_ || stopping_) return;
        started_ = true;
        polling_ = polling;
        exchanges_ = exchanges;
        loop_.post([self = shared_from_this()] { self->drive(self); });
    }

    void requestStop() {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wakeLocked(false);
    }

    void stop() {
        requestStop();
        std::unique_lock lock(mutex_);
        if (started_) {
            // Called from a watcher or a completion, on the loop itself: the coroutine ends by
            // itself once this returns, and tells nobody anything more.
            if (loop_.onLoop()) {
                silenced_ = true;
                return;
            }
            ended_.wait(lock, [this] { return finished_; });
        }
        lock.unlock();
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
                if (!silenced()) ran_(told, result);
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
                    wakeLocked(true);
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

    // How long the queue has been inside one exchange (or the asks of one cool-down); zero while
    // it waits for work.
    Milliseconds busyFor() const {
        const Clock::rep began = stepBegan_;
        if (began == 0) return Milliseconds(0);
        return std::chrono::duration_cast<Milliseconds>(Clock::now().time_since_epoch() -
                                                        Clock::duration(began));
    }

private:
    struct Pending {
        Command command;
        Completion done;
    };
    struct Reply {
        zv_result result = 0;
        std::uint16_t value = 0;
    };

    // One exchange on the link; the coroutine resumes when it is over.
    struct Exchange {
        Impl& queue;
        LinkAction action;
        Reply reply{};
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> resume) {
            queue.driver_->exchange(action, [this, resume](zv_result result, std::uint16_t value) {
                reply = {result, value};
                resume.resume();
            });
        }
        Reply await_resume() const noexcept { return reply; }
    };

    // What the projector has and says of itself, asked anew; resumes when the driver knows.
    struct Survey {
        Impl& queue;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> resume) {
            queue.driver_->survey([resume] { resume.resume(); });
        }
        void await_resume() const noexcept {}
    };

    // Waits until `until`, or until stop() (and, with forCommands, a command) comes first.
    struct Park {
        Impl& queue;
        Clock::time_point until;
        bool forCommands;
        bool await_ready() const noexcept { return false; }
        bool await_suspend(std::coroutine_handle<> resume) {
            {
                std::lock_guard lock(queue.mutex_);
                if (queue.stopping_ || (forCommands && !queue.queue_.empty())) return false;
                queue.parked_ = resume;
                queue.parkedForCommands_ = forCommands;
            }
            if (until != Clock::time_point::max()) {
                queue.timer_ = queue.loop_.at(until, [&queue = queue] {
                    queue.timer_ = 0;
                    queue.resumeParked();
                });
            }
            return true;
        }
        void await_resume() const noexcept {}
    };

    // With mutex_ held: has the parked coroutine resumed on the loop if it waits for this.
    void wakeLocked(bool forCommand) {
        if (!parked_ || wakePosted_ || (forCommand && !parkedForCommands_)) return;
        wakePosted_ = true;
        loop_.post([self = shared_from_this()] {
            {
                std::lock_guard lock(self->mutex_);
                self->wakePosted_ = false;
            }
            self->resumeParked();
        });
    }

    // On the loop's thread.
    void resumeParked() {
        std::coroutine_handle<> parked;
        {
            std::lock_guard lock(mutex_);
            parked = std::exchange(parked_, {});
        }
        if (!parked) return;
        if (timer_ != 0) loop_.cancel(std::exchange(timer_, 0));
        parked.resume();
    }

    bool silenced() const {
        std::lock_guard lock(mutex_);
        return silenced_;
    }

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

    // The queue's whole life on the loop; self keeps the queue alive until it ends.
    Detached drive([[maybe_unused]] std::shared_ptr<Impl> self) {
        Clock::time_point nextPoll = Clock::now();
        Clock::time_point nextSlow = nextPoll;
        bool first = true;
        unsigned commandsWhileDue = 0;  // commands run since the poll fell due
        for (;;) {
            std::optional<Pending> next;
            bool pollDue = false;
            bool polling = false;
            QueueExchanges exchanges = QueueExchanges::Full;
            {
                std::lock_guard lock(mutex_);
                if (stopping_) break;
                polling = polling_;
                exchanges = exchanges_;
                pollDue = polling && Clock::now() >= nextPoll;
                const bool pollFirst =
                    pollDue && commandsWhileDue >= entry_.timing.pollAfterCommands;
                if (!queue_.empty() && !pollFirst) {
                    next.emplace(std::move(queue_.front()));
                    queue_.pop_front();
                }
            }
            if (next) {
                if (pollDue) ++commandsWhileDue;
                CommandResult result;
                {
                    const Step step(*this);
                    try {
                        Async<CommandResult> work = exchanges == QueueExchanges::Plain
                                                        ? exchangeOnly(next->command)
                                                        : execute(next->command);
                        result = co_await std::move(work);
                    } catch (const std::exception& error) {
                        result = CommandResult{ZV_RESULT_BAD_ARGUMENT, {}, {}, error.what()};
                    }
                }
                next->done(std::move(result));
                continue;
            }
            if (pollDue) {
                commandsWhileDue = 0;
                const Clock::time_point began = Clock::now();
                {
                    const Step step(*this);
                    co_await poll(began >= nextSlow, nextSlow);
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
                continue;
            }
            co_await Park{*this, polling ? nextPoll : Clock::time_point::max(), true};
        }
        refuseQueued();
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        ended_.notify_all();
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
        if (std::string own = driver_->reason(result); !own.empty()) return own;
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

    // An exchange's mark on the working copy of the state.
    static zv_result mark(ProjectorState& state, zv_result result) {
        if (answered(result)) {
            state.reach = Reach::Online;
            state.failedPolls = 0;
            state.lastSeen = std::chrono::system_clock::now();
        }
        return result;
    }

    Async<zv_result> get(ProjectorState& state, std::uint16_t type, std::uint16_t& value) {
        const Reply reply = co_await Exchange{*this, {kActionGet, type, 0}};
        const zv_result result = mark(state, reply.result);
        if (result == 0) {
            value = reply.value;
            if (auto member = stateMember(type)) state.*member = value;
        }
        co_return result;
    }

    Async<zv_result> set(ProjectorState& state, std::uint16_t type, std::int32_t value) {
        const Reply reply = co_await Exchange{*this, {kActionSet, type, value}};
        co_return mark(state, reply.result);
    }

    // A command of a Plain queue: its one exchange. An input given by the projector's own name
    // is looked up among its inputs first, asked of it when not yet known.
    Async<CommandResult> exchangeOnly(const Command& given) {
        if (given.setting == nullptr) co_return CommandResult{ZV_RESULT_BAD_ARGUMENT, {}, {}, {}};
        Command command = given;
        if (!command.ownValue.empty()) {
            if (state().abilities.inputs.empty()) {
                co_await Survey{*this};
                ProjectorState surveyed = state();
                surveyed.abilities = driver_->abilities();
                publish(std::move(surveyed));
            }
            const Checked checked = checkFor(command, state(), entry_.name, Phrasing::Queued);
            if (!checked.command) {
                co_return CommandResult{ZV_RESULT_BAD_ARGUMENT, {}, {}, checked.refusal.reason};
            }
            command = *checked.command;
        }
        const Reply reply = co_await Exchange{*this, linkAction(command)};
        CommandResult out{reply.result, {}, {}, {}};
        if (out.ok() && command.operation == Operation::Get) out.value = reply.value;
        if (!out.ok()) out.reason = reason(out.result);
        co_return out;
    }

    bool stopRequested() const {
        std::lock_guard lock(mutex_);
        return stopping_;
    }

    Async<bool> poll(bool slowDue, Clock::time_point& nextSlow) {
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
            if (!has(state, row)) continue;
            if (row.cadence == Cadence::WhileOn && !on) continue;
            if (row.cadence == Cadence::Slow && !slowDue) continue;
            if (row.cadence != Cadence::EveryPoll && stopRequested()) {
                co_return false;  // the rest of this poll would only hold up the stop
            }
            const zv_result result = co_await get(state, row.type(), value);
            if (row.cadence == Cadence::EveryPoll) {
                if (result != 0) {
                    failure = result;
                    failedIn = row.cadence;
                    break;
                }
                if (row.type() == kPower) on = value == kPowerOn;
                if (slowDue) {
                    // It answers: a fresh look at what it has, before the values that depend on it.
                    co_await Survey{*this};
                    state.abilities = driver_->abilities();
                }
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
        state.abilities = driver_->abilities();  // with what its answers showed it lacks
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
        co_return true;
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
        if (changed && watcher_ && !silenced()) {
            try {
                watcher_(state);
            } catch (...) {
                // A watcher's fault is its own; the queue goes on.
            }
        }
    }

    Async<CommandResult> execute(const Command& given) {
        const Checked checked = checkFor(given, this->state(), entry_.name, Phrasing::Queued);
        if (!checked.command) {
            co_return CommandResult{ZV_RESULT_BAD_ARGUMENT, {}, {}, checked.refusal.reason};
        }
        const Command& command = *checked.command;
        const zv_setting* setting = command.setting;
        const bool isGet = command.operation == Operation::Get;
        const bool isSet = command.operation == Operation::Set;
        if (isSet && setting->type == kPower && command.value == kPowerOn) {
            co_return co_await powerOn();
        }
        ProjectorState state = this->state();
        CommandResult out;
        const Reply reply = co_await Exchange{*this, linkAction(command)};
        out.result = mark(state, reply.result);
        if (out.result == 0 && (isGet || isSet)) {
            const auto known = isGet ? reply.value : static_cast<std::uint16_t>(command.value);
            if (auto member = stateMember(setting->type)) state.*member = known;
            if (isGet) out.value = known;
            if (isSet && setting->type == kPower) {
                // Switching off starts the cool-down: say what the projector says now.
                std::uint16_t now = known;
                if (co_await get(state, kPower, now) != 0) now = known;
                out.value = now;
            }
        }
        if (out.result != 0) out.reason = reason(out.result);
        publish(std::move(state));
        co_return out;
    }

    // Switches on, first waiting out a cool-down: the power is asked every second until the
    // projector may be struck again, for at most coolingWait.
    Async<CommandResult> powerOn() {
        ProjectorState state = this->state();
        CommandResult out;
        bool cooling = state.power == kCoolingDown;
        if (!cooling) {
            out.result = co_await set(state, kPower, kPowerOn);
            if (out.result == ZV_RESULT_BAD_REPLY || out.result == kUnavailable) {
                std::uint16_t power = 0;
                cooling = co_await get(state, kPower, power) == 0 && power == kCoolingDown;
            }
        }
        if (cooling) {
            out = co_await waitForCoolDown(state);
            if (out.result == 0) out.result = co_await set(state, kPower, kPowerOn);
        }
        if (out.result == 0) {
            state.power = kPowerOn;
            out.value = kPowerOn;
        } else if (out.reason.empty()) {
            out.reason = reason(out.result);
        }
        publish(std::move(state));
        co_return out;
    }

    // Asks the power until the projector is no longer cooling down; waited is how long it was.
    // Between the asks nothing is held: the queue is parked on a timer.
    Async<CommandResult> waitForCoolDown(ProjectorState& state) {
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
            const zv_result asked = co_await get(state, kPower, power);
            if (asked == 0 && power != kCoolingDown) co_return result(0, {});
            if (asked == 0) seenCooling = true;
            if (asked != 0) lastFailure = reason(asked);
            publish(state);  // watchers see the cool-down as it goes
            stepBegan_ = Clock::now().time_since_epoch().count();  // each ask is a step of its own
            const Clock::time_point now = Clock::now();
            if (now >= deadline) {
                std::string why = "still cooling down after " + inWords(entry_.timing.coolingWait);
                if (!lastFailure.empty()) why += " (last asked: " + lastFailure + ")";
                co_return result(ZV_RESULT_BAD_REPLY, why);
            }
            co_await Park{*this, std::min(now + kCoolingAskEvery, deadline), false};
            if (stopRequested()) co_return result(ZV_RESULT_LINK_CLOSED, kStopping);
        }
    }

    // Marks the queue busy for its lifetime.
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

    EventLoop& loop_ = EventLoop::shared();
    const ProjectorEntry entry_;
    const Watcher watcher_;
    const Ran ran_;
    const std::unique_ptr<Driver> driver_;

    mutable std::mutex mutex_;  // all below up to the state
    std::condition_variable ended_;
    std::deque<Pending> queue_;
    bool started_ = false;
    bool stopping_ = false;
    bool finished_ = false;  // the coroutine has ended
    bool silenced_ = false;  // stopped from the loop: tells nobody anything more
    bool polling_ = true;
    QueueExchanges exchanges_ = QueueExchanges::Full;
    std::coroutine_handle<> parked_;  // the coroutine, while it waits in Park
    bool parkedForCommands_ = false;
    bool wakePosted_ = false;
    EventLoop::Id timer_ = 0;  // only on the loop's thread

    // Written only on the loop's thread, read by anyone.
    mutable std::mutex stateMutex_;
    ProjectorState state_;
};

ProjectorQueue::ProjectorQueue(ProjectorEntry entry, Watcher watcher, Ran ran)
    : impl_(std::make_shared<Impl>(std::move(entry), std::move(watcher), std::move(ran))) {}

ProjectorQueue::~ProjectorQueue() { impl_->stop(); }

const ProjectorEntry& ProjectorQueue::entry() const { return impl_->entry(); }
void ProjectorQueue::start(bool polling, QueueExchanges exchanges) {
    impl_->start(polling, exchanges);
}
void ProjectorQueue::requestStop() { impl_->requestStop(); }
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
