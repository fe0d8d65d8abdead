#include "projector_emulator/emulator.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <mutex>

#include "event_loop.h"
#include "frame_description.h"
#include "frame_log.h"
#include "listeners.h"
#include "projector.h"
#include "pty_device.h"
#include "reply_plan.h"

namespace zolvane::emulator {
namespace {

constexpr std::uint16_t kLampTime = 0x1090;

}  // namespace

// One projector of the fleet: its state, its misbehaviour and its witness.
struct Unit {
    using Clock = Projector::Clock;

    Unit(const Options& options, std::size_t index)
        : projector(options.initialPower, options.coolingTime, Clock::now()),
          log(options.frameLogLimit) {
        // The lamp time tells the projectors apart.
        if (const Setting* lamp = findSetting(kLampTime); lamp != nullptr) {
            projector.forceValue(kLampTime, static_cast<std::uint16_t>(lamp->initial + index),
                                 Clock::now());
        }
    }

    FaultConfig takeFault(std::uint16_t type);

    mutable std::mutex mutex;  // guards projector and fault
    Projector projector;
    FaultConfig fault;
    FrameLog log;
    std::uint16_t port = 0;
    std::unique_ptr<PtyDevice> pty;  // while serving a pseudo-terminal
};

class Emulator::Impl {
public:
    using Clock = Projector::Clock;

    explicit Impl(Options options) : options_(std::move(options)) {
        options_.count = std::max<std::size_t>(options_.count, 1);
        for (std::size_t i = 0; i < options_.count; ++i) {
            units_.push_back(std::make_unique<Unit>(options_, i));
        }
    }

    ~Impl() { stop(); }

    bool start(std::string& error);
    bool startServing(std::string& error);
    void stop();
    ReplyPlan exchange(std::size_t index, Link link, const RawFrame& raw);
    Unit* unit(std::size_t index) const {
        return index < units_.size() ? units_[index].get() : nullptr;
    }

    Options options_;
    std::vector<std::unique_ptr<Unit>> units_;
    std::unique_ptr<EventLoop> loop_;
};

bool Emulator::Impl::start(std::string& error) {
    if (loop_) {
        error = "already running";
        return false;
    }
    if (!options_.tcp && !options_.pty) {
        error = "neither TCP nor the pseudo-terminal is enabled";
        return false;
    }
    bool started = false;
    try {
        started = startServing(error);
    } catch (const std::exception& failure) {
        // Short of memory, or of room for the loop's thread.
        error = failure.what();
    }
    if (!started) {
        stop();
    }
    return started;
}

bool Emulator::Impl::startServing(std::string& error) {
    loop_ = std::make_unique<EventLoop>(
        [this](std::size_t index, Link link, const RawFrame& raw) {
            return exchange(index, link, raw);
        },
        EventLoop::Limits{options_.maxConnections, options_.idleTimeout});
    if (!loop_->open(error)) {
        return false;
    }
    if (options_.tcp) {
        std::vector<UniqueFd> listeners =
            listenOnPorts(options_.host, options_.port, units_.size(), error);
        if (listeners.empty()) {
            return false;
        }
        for (std::size_t i = 0; i < units_.size(); ++i) {
            units_[i]->port = boundPort(listeners[i].get());
            if (!loop_->addListener(std::move(listeners[i]), i, error)) {
                return false;
            }
        }
    }
    if (options_.pty) {
        for (std::size_t i = 0; i < units_.size(); ++i) {
            std::string link = options_.linkPath;
            if (!link.empty() && units_.size() > 1) {
                link += "-" + std::to_string(i);
            }
            units_[i]->pty = std::make_unique<PtyDevice>();
            if (!units_[i]->pty->open(link, error) ||
                !loop_->addTerminal(units_[i]->pty->master(), i, error)) {
                return false;
            }
        }
    }
    loop_->start();
    return true;
}

void Emulator::Impl::stop() {
    if (!loop_) {
        return;
    }
    loop_->stop();
    loop_.reset();
    // Closes the terminals and removes their links.
    for (auto& unit : units_) {
        unit->pty.reset();
        unit->port = 0;
    }
}

// Returns the fault that shapes the reply to a frame of this type and uses up one of its
// frames; a fault that does not apply comes back as the default, harmless one.
FaultConfig Unit::takeFault(std::uint16_t type) {
    const bool active = (fault.kind != FaultKind::None || fault.delay.count() > 0) &&
                        fault.frameCount.value_or(1) > 0;
    if (!active || (fault.onlyType && *fault.onlyType != type)) {
        return {};
    }
    FaultConfig applied = fault;
    if (fault.frameCount) {
        if (*fault.frameCount <= 1) {
            fault = {};
        } else {
            --*fault.frameCount;
        }
    }
    return applied;
}

ReplyPlan Emulator::Impl::exchange(std::size_t index, Link link, const RawFrame& raw) {
    Unit& target = *units_.at(index);
    const CommandFrame frame = decodeFrame(raw);
    FaultConfig fault;
    ReplyPlan plan;
    {
        std::lock_guard lock(target.mutex);
        fault = target.takeFault(frame.type);
        Reply reply = fault.kind == FaultKind::Nak ? nakReply()
                                                   : target.projector.handle(frame, Clock::now());
        plan = planReply(fault, std::move(reply));
    }

    FrameRecord record;
    record.link = link;
    record.raw = raw;
    record.action = frame.action;
    record.type = frame.type;
    record.value = frame.value;
    record.headerValid = frame.headerValid;
    record.checksumValid = frame.checksumValid;
    record.reply = plan.allBytes();
    record.fault = fault.kind;
    target.log.append(std::move(record));

    if (options_.verbose) {
        // One thread serves every projector, so the lines of two frames never mix.
        if (units_.size() > 1) {
            std::cerr << '#' << index << ' ';
        }
        std::cerr << describeReceived(frame) << '\n' << describeSent(plan, fault.kind) << std::endl;
    }
    return plan;
}

Emulator::Emulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Emulator::~Emulator() = default;

bool Emulator::start(std::string* error) {
    std::string reason;
    const bool started = impl_->start(reason);
    if (!started && error != nullptr) {
        *error = reason;
    }
    return started;
}

void Emulator::stop() { impl_->stop(); }

bool Emulator::running() const { return impl_->loop_ != nullptr; }

std::size_t Emulator::count() const { return impl_->units_.size(); }

std::uint16_t Emulator::tcpPort(std::size_t index) const {
    const Unit* unit = impl_->unit(index);
    return unit != nullptr ? unit->port : 0;
}

std::string Emulator::ptyPath(std::size_t index) const {
    const Unit* unit = impl_->unit(index);
    return unit != nullptr && unit->pty ? unit->pty->devicePath() : std::string();
}

std::optional<std::uint16_t> Emulator::value(std::uint16_t type, std::size_t index) const {
    const Unit* unit = impl_->unit(index);
    if (unit == nullptr) {
        return std::nullopt;
    }
    std::lock_guard lock(unit->mutex);
    return unit->projector.value(type, Impl::Clock::now());
}

bool Emulator::setValue(std::uint16_t type, std::uint16_t value, std::size_t index) {
    Unit* unit = impl_->unit(index);
    if (unit == nullptr) {
        return false;
    }
    std::lock_guard lock(unit->mutex);
    return unit->projector.forceValue(type, value, Impl::Clock::now());
}

PowerState Emulator::power(std::size_t index) const {
    const Unit* unit = impl_->unit(index);
    if (unit == nullptr) {
        return PowerState::Off;
    }
    std::lock_guard lock(unit->mutex);
    return unit->projector.power(Impl::Clock::now());
}

void Emulator::setPower(PowerState state, std::size_t index) {
    if (Unit* unit = impl_->unit(index)) {
        std::lock_guard lock(unit->mutex);
        unit->projector.setPower(state, Impl::Clock::now());
    }
}

void Emulator::setFault(FaultConfig fault, std::size_t index) {
    if (Unit* unit = impl_->unit(index)) {
        std::lock_guard lock(unit->mutex);
        unit->fault = std::move(fault);
    }
}

void Emulator::clearFault(std::size_t index) { setFault({}, index); }

void Emulator::refuseSet(std::uint16_t type, bool refuse, std::size_t index) {
    if (Unit* unit = impl_->unit(index)) {
        std::lock_guard lock(unit->mutex);
        unit->projector.refuseChanges(type, refuse);
    }
}

void Emulator::failGet(std::uint16_t type, bool fail, std::size_t index) {
    if (Unit* unit = impl_->unit(index)) {
        std::lock_guard lock(unit->mutex);
        unit->projector.failGets(type, fail);
    }
}

std::vector<FrameRecord> Emulator::frames(std::size_t index) const {
    const Unit* unit = impl_->unit(index);
    return unit != nullptr ? unit->log.frames() : std::vector<FrameRecord>{};
}

void Emulator::clearFrames(std::size_t index) {
    if (Unit* unit = impl_->unit(index)) {
        unit->log.clear();
    }
}

bool Emulator::waitForFrames(std::size_t count, std::chrono::milliseconds timeout,
                             std::size_t index) const {
    const Unit* unit = impl_->unit(index);
    return unit != nullptr && unit->log.waitFor(count, timeout);
}

}  // namespace zolvane::emulator
