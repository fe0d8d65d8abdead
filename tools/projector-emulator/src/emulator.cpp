#include "projector_emulator/emulator.h"

#include <iostream>
#include <mutex>

#include "frame_description.h"
#include "frame_log.h"
#include "projector.h"
#include "pty_server.h"
#include "reply_plan.h"
#include "stop_signal.h"
#include "tcp_server.h"

namespace zolvane::emulator {

class Emulator::Impl {
  public:
    using Clock = Projector::Clock;

    explicit Impl(Options options)
        : options_(std::move(options)),
          projector_(options_.initialPower, options_.coolingTime, Clock::now()) {}

    ~Impl() { stop(); }

    bool start(std::string& error);
    void stop();
    ReplyPlan exchange(const RawFrame& raw, Link link);
    FaultConfig takeFault(std::uint16_t type);

    Options options_;
    mutable std::mutex stateMutex_;  // guards projector_ and fault_
    Projector projector_;
    FaultConfig fault_;
    FrameLog log_;

    std::unique_ptr<StopSignal> stop_;
    std::unique_ptr<TcpServer> tcp_;
    std::unique_ptr<PtyServer> pty_;
    std::mutex traceMutex_;
};

bool Emulator::Impl::start(std::string& error) {
    if (stop_) {
        error = "already running";
        return false;
    }
    if (!options_.tcp && !options_.pty) {
        error = "neither TCP nor the pseudo-terminal is enabled";
        return false;
    }
    stop_ = std::make_unique<StopSignal>();
    if (!stop_->open(error)) {
        stop_.reset();
        return false;
    }
    if (options_.tcp) {
        tcp_ = std::make_unique<TcpServer>(
            [this](const RawFrame& raw) { return exchange(raw, Link::Tcp); }, *stop_);
        if (!tcp_->listen(options_.host, options_.port, error)) {
            stop();
            return false;
        }
    }
    if (options_.pty) {
        pty_ = std::make_unique<PtyServer>(
            [this](const RawFrame& raw) { return exchange(raw, Link::Pty); }, *stop_);
        if (!pty_->open(options_.linkPath, error)) {
            stop();
            return false;
        }
    }
    if (tcp_) {
        tcp_->start();
    }
    if (pty_) {
        pty_->start();
    }
    return true;
}

void Emulator::Impl::stop() {
    if (!stop_) {
        return;
    }
    stop_->raise();
    if (tcp_) {
        tcp_->join();
    }
    if (pty_) {
        pty_->join();
    }
    tcp_.reset();
    pty_.reset();
    stop_.reset();
}

// Returns the fault that shapes the reply to a frame of this type and uses up one of its
// frames; a fault that does not apply comes back as the default, harmless one.
FaultConfig Emulator::Impl::takeFault(std::uint16_t type) {
    const bool active = (fault_.kind != FaultKind::None || fault_.delay.count() > 0) &&
                        fault_.frameCount.value_or(1) > 0;
    if (!active || (fault_.onlyType && *fault_.onlyType != type)) {
        return {};
    }
    FaultConfig applied = fault_;
    if (fault_.frameCount) {
        if (*fault_.frameCount <= 1) {
            fault_ = {};
        } else {
            --*fault_.frameCount;
        }
    }
    return applied;
}

ReplyPlan Emulator::Impl::exchange(const RawFrame& raw, Link link) {
    const CommandFrame frame = decodeFrame(raw);
    FaultConfig fault;
    ReplyPlan plan;
    {
        std::lock_guard lock(stateMutex_);
        fault = takeFault(frame.type);
        Reply reply =
            fault.kind == FaultKind::Nak ? nakReply() : projector_.handle(frame, Clock::now());
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
    log_.append(std::move(record));

    if (options_.verbose) {
        std::lock_guard lock(traceMutex_);
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

bool Emulator::running() const { return impl_->stop_ != nullptr; }

std::uint16_t Emulator::tcpPort() const { return impl_->tcp_ ? impl_->tcp_->port() : 0; }

std::string Emulator::ptyPath() const {
    return impl_->pty_ ? impl_->pty_->devicePath() : std::string();
}

std::optional<std::uint16_t> Emulator::value(std::uint16_t type) const {
    std::lock_guard lock(impl_->stateMutex_);
    return impl_->projector_.value(type, Impl::Clock::now());
}

bool Emulator::setValue(std::uint16_t type, std::uint16_t value) {
    std::lock_guard lock(impl_->stateMutex_);
    return impl_->projector_.forceValue(type, value, Impl::Clock::now());
}

PowerState Emulator::power() const {
    std::lock_guard lock(impl_->stateMutex_);
    return impl_->projector_.power(Impl::Clock::now());
}

void Emulator::setPower(PowerState state) {
    std::lock_guard lock(impl_->stateMutex_);
    impl_->projector_.setPower(state, Impl::Clock::now());
}

void Emulator::setFault(FaultConfig fault) {
    std::lock_guard lock(impl_->stateMutex_);
    impl_->fault_ = std::move(fault);
}

void Emulator::clearFault() { setFault({}); }

void Emulator::refuseSet(std::uint16_t type, bool refuse) {
    std::lock_guard lock(impl_->stateMutex_);
    impl_->projector_.refuseChanges(type, refuse);
}

void Emulator::failGet(std::uint16_t type, bool fail) {
    std::lock_guard lock(impl_->stateMutex_);
    impl_->projector_.failGets(type, fail);
}

std::vector<FrameRecord> Emulator::frames() const { return impl_->log_.frames(); }

void Emulator::clearFrames() { impl_->log_.clear(); }

bool Emulator::waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    return impl_->log_.waitFor(count, timeout);
}

}  // namespace zolvane::emulator
