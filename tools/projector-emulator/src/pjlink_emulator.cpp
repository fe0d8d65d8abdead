#include "projector_emulator/pjlink_emulator.h"

#include <thread>

#include "listeners.h"
#include "pjlink_projector.h"
#include "pjlink_server.h"

namespace zolvane::emulator {

struct PjlinkEmulator::State {
    PjlinkOptions options;
    PjlinkShared shared;
    std::vector<std::uint16_t> ports;
    std::unique_ptr<PjlinkServer> server;
    std::thread thread;

    // Null for an index past the last projector; the caller holds shared.mutex.
    PjlinkProjector* projector(std::size_t index) {
        return index < shared.projectors.size() ? &shared.projectors[index] : nullptr;
    }
};

PjlinkEmulator::PjlinkEmulator(PjlinkOptions options) : state_(std::make_unique<State>()) {
    state_->options = std::move(options);
    const PjlinkOptions& chosen = state_->options;
    const auto now = PjlinkClock::now();
    state_->shared.projectors.resize(chosen.count);
    for (std::size_t i = 0; i < chosen.count; ++i) {
        PjlinkProjector& projector = state_->shared.projectors[i];
        projector.index = i;
        projector.projectorClass = chosen.projectorClass;
        projector.warmUpTime = chosen.warmUpTime;
        projector.coolingTime = chosen.coolingTime;
        projector.fault = chosen.fault;
        projector.delay = chosen.delay;
        projector.setPower(chosen.initiallyOn ? pjlink_power::kOn : pjlink_power::kStandby, now);
    }
}

PjlinkEmulator::~PjlinkEmulator() { stop(); }

bool PjlinkEmulator::start(std::string* error) {
    std::string reason;
    const PjlinkOptions& options = state_->options;
    if (running()) {
        reason = "already running";
    } else if (options.projectorClass != 1 && options.projectorClass != 2) {
        reason = "PJLink class must be 1 or 2";
    } else if (options.count == 0) {
        reason = "no projectors to emulate";
    } else {
        std::vector<UniqueFd> listeners =
            listenOnPorts(options.host, options.port, options.count, reason);
        if (!listeners.empty()) {
            std::vector<std::uint16_t> ports;
            for (const UniqueFd& listener : listeners) {
                ports.push_back(boundPort(listener.get()));
            }
            auto server =
                std::make_unique<PjlinkServer>(options, state_->shared, std::move(listeners));
            if (server->open(reason)) {
                state_->ports = std::move(ports);
                state_->server = std::move(server);
                state_->thread = std::thread([server = state_->server.get()] { server->run(); });
                return true;
            }
        }
    }
    if (error != nullptr) {
        *error = reason;
    }
    return false;
}

void PjlinkEmulator::stop() {
    if (!state_->server) {
        return;
    }
    state_->server->stop();
    state_->thread.join();
    state_->server.reset();
    state_->ports.clear();
}

bool PjlinkEmulator::running() const { return state_->server != nullptr; }

std::size_t PjlinkEmulator::count() const { return state_->options.count; }

std::uint16_t PjlinkEmulator::tcpPort(std::size_t index) const {
    return index < state_->ports.size() ? state_->ports[index] : 0;
}

int PjlinkEmulator::power(std::size_t index) const {
    const std::lock_guard lock(state_->shared.mutex);
    PjlinkProjector* projector = state_->projector(index);
    return projector != nullptr ? projector->power(PjlinkClock::now()) : pjlink_power::kStandby;
}

void PjlinkEmulator::setPower(int power, std::size_t index) {
    const std::lock_guard lock(state_->shared.mutex);
    PjlinkProjector* projector = state_->projector(index);
    if (projector != nullptr && power >= pjlink_power::kStandby &&
        power <= pjlink_power::kWarming) {
        projector->setPower(power, PjlinkClock::now());
    }
}

std::string PjlinkEmulator::input(std::size_t index) const {
    const std::lock_guard lock(state_->shared.mutex);
    PjlinkProjector* projector = state_->projector(index);
    return projector != nullptr ? projector->input : std::string();
}

void PjlinkEmulator::setFault(PjlinkFault fault, std::size_t index) {
    const std::lock_guard lock(state_->shared.mutex);
    if (PjlinkProjector* projector = state_->projector(index)) {
        projector->fault = fault;
    }
}

void PjlinkEmulator::setDelay(std::chrono::milliseconds delay, std::size_t index) {
    const std::lock_guard lock(state_->shared.mutex);
    if (PjlinkProjector* projector = state_->projector(index)) {
        projector->delay = std::max(delay, std::chrono::milliseconds{0});
    }
}

std::vector<std::string> PjlinkEmulator::lines(std::size_t index) const {
    const std::lock_guard lock(state_->shared.mutex);
    PjlinkProjector* projector = state_->projector(index);
    if (projector == nullptr) {
        return {};
    }
    return {projector->lines.begin(), projector->lines.end()};
}

void PjlinkEmulator::clearLines(std::size_t index) {
    const std::lock_guard lock(state_->shared.mutex);
    if (PjlinkProjector* projector = state_->projector(index)) {
        projector->lines.clear();
    }
}

bool PjlinkEmulator::waitForLines(std::size_t count, std::chrono::milliseconds timeout,
                                  std::size_t index) const {
    std::unique_lock lock(state_->shared.mutex);
    return state_->shared.linesChanged.wait_for(lock, timeout, [&] {
        const PjlinkProjector* projector = state_->projector(index);
        return projector != nullptr && projector->lines.size() >= count;
    });
}

std::size_t PjlinkEmulator::connectionsAccepted(std::size_t index) const {
    const std::lock_guard lock(state_->shared.mutex);
    PjlinkProjector* projector = state_->projector(index);
    return projector != nullptr ? projector->connectionsAccepted : 0;
}

}  // namespace zolvane::emulator
