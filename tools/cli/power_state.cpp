#include "power_state.h"

#include <algorithm>
#include <functional>
#include <thread>

#include "result_kind.h"
#include "zolvane.h"

namespace zolvane::cli {
namespace {

constexpr std::chrono::milliseconds kAskEvery{1000};

const SettingRow& PowerRow() { return RequireSetting("Power", Operation::Get); }

PowerWait WaitUntil(Session& session, Deadline deadline,
                    const std::function<bool(uint16_t)>& reached) {
    PowerWait wait;
    wait.command = Command{&PowerRow(), Operation::Get, 0, {}};
    for (;;) {
        wait.outcome = session.run(wait.command);
        if (ExitStatusFor(wait.outcome.result) == ExitLinkFailed) {
            wait.end = PowerWaitEnd::LinkFailed;
            return wait;
        }
        if (wait.outcome.ok()) {
            wait.power = wait.outcome.value;
            if (reached(wait.outcome.value)) {
                wait.end = PowerWaitEnd::Reached;
                return wait;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            wait.end = PowerWaitEnd::TimedOut;
            return wait;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kAskEvery, deadline - now));
    }
}

}  // namespace

std::string PowerStateWords(uint16_t power) {
    switch (power) {
        case kPowerOn:
            return {};
        case kPowerOff:
            return "the projector is in standby";
        case kPowerCooling:
            return "the projector is cooling down";
        default:
            // A state the projector has and the catalogue does not name: shown as sent.
            return "the projector reports power state " + std::to_string(power);
    }
}

std::string FailureText(Session& session, const Command& command, const Outcome& outcome) {
    const std::string generic = session.failureText(outcome);
    const bool askedForPower =
        command.row->type == PowerRow().type && command.operation == Operation::Get;
    if (ExitStatusFor(outcome.result) != ExitRefused || askedForPower) return generic;
    const Outcome power = session.run(Command{&PowerRow(), Operation::Get, 0, {}});
    if (!power.ok()) return generic;
    const std::string words = PowerStateWords(power.value);
    return words.empty() ? generic : words;
}

std::optional<int> StopUnlessOn(CommandContext& context, std::string_view commandWord,
                                bool allowStandby) {
    const Command command{&PowerRow(), Operation::Get, 0, {}};
    const Outcome outcome = context.session().run(command);
    if (ExitStatusFor(outcome.result) == ExitLinkFailed) return context.report(command, outcome);
    if (!outcome.ok() || outcome.value == kPowerOn) return std::nullopt;
    if (allowStandby && outcome.value == kPowerOff) return std::nullopt;
    context.err << "zolvane: " << commandWord << ": " << PowerStateWords(outcome.value) << '\n';
    return ExitRefused;
}

PowerWait WaitForPower(Session& session, uint16_t wanted, Deadline deadline) {
    return WaitUntil(session, deadline, [wanted](uint16_t power) { return power == wanted; });
}

PowerWait WaitUntilSettled(Session& session, Deadline deadline) {
    return WaitUntil(session, deadline,
                     [](uint16_t power) { return power == kPowerOff || power == kPowerOn; });
}

}  // namespace zolvane::cli
