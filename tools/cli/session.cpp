#include "session.h"

#include <stdexcept>
#include <thread>
#include <utility>

#include "command_context.h"
#include "result_kind.h"
#include "trace.h"
#include "zolvane.h"
#include "zolvane_fleet/driver_results.h"

namespace zolvane::cli {
namespace {

// The library's link options and the timing each one carries.
constexpr std::pair<int32_t, fleet::Milliseconds fleet::Timing::*> kLinkOptions[] = {
    {ZV_LINK_CONNECT_TIMEOUT_MS, &fleet::Timing::connectTimeout},
    {ZV_LINK_SEND_TIMEOUT_MS, &fleet::Timing::sendTimeout},
    {ZV_LINK_RECEIVE_TIMEOUT_MS, &fleet::Timing::receiveTimeout},
    {ZV_LINK_GAP_MS, &fleet::Timing::gap},
};

fleet::Command queueCommand(const Command& command) {
    return fleet::Command{
        command.operation, &command.row->described(), command.value, {}, command.inputName};
}

}  // namespace

std::string Command::describe() const {
    std::string text = std::string(OperationWord(operation)) + " " + std::string(row->name);
    if (operation == Operation::Set) {
        text += " " + (inputName.empty() ? std::to_string(value) : "\"" + inputName + "\"");
    }
    return text;
}

Session::Session(LinkTarget target, SessionOptions options)
    : target_(std::move(target)), options_(options) {}

std::unique_ptr<Session> Session::Probe(std::optional<Command>* first, bool pjlinkAmong) {
    auto session = std::make_unique<Session>(LinkTarget{}, SessionOptions{});
    session->probeFirst_ = first;
    session->probePjlink_ = pjlinkAmong;
    return session;
}

Session::~Session() = default;

uint32_t Session::connect() {
    fleet::ProjectorEntry entry;
    entry.name = target_.describe();
    entry.address = target_.linkAddress();
    entry.passwordFile = target_.passwordFile;
    if (target_.pjlink()) {
        // The library's links speak only our protocol: a PJLink projector keeps the inventory's
        // timing, or the fleet's defaults.
        entry.timing = target_.timing.value_or(fleet::Timing{});
        return startQueue(std::move(entry));
    }
    // A link of the command line keeps the library's own time-outs (they differ between serial
    // and network links), read from a link that is opened for no more than that. Only what the
    // link takes back is kept: a serial link reads 0 for the connect time-out it has no use for.
    zv_result why = ZV_RESULT_OK;
    zv_link* link = zv_link_open(entry.address.c_str(), &why);
    if (link == nullptr) return why;
    if (target_.timing) {
        entry.timing = *target_.timing;
    } else {
        for (const auto& [option, member] : kLinkOptions) {
            int32_t ms = 0;
            if (zv_link_get_option(link, option, &ms) == ZV_RESULT_OK &&
                zv_link_set_option(link, option, ms) == ZV_RESULT_OK) {
                entry.timing.*member = fleet::Milliseconds(ms);
            }
        }
    }
    zv_link_close(link);
    return startQueue(std::move(entry));
}

uint32_t Session::startQueue(fleet::ProjectorEntry entry) {
    timing_ = entry.timing;
    try {
        queue_ = std::make_unique<fleet::ProjectorQueue>(std::move(entry));
    } catch (const std::invalid_argument&) {
        return ZV_RESULT_BAD_ARGUMENT;  // a time-out out of the link's range
    }
    // The command line asks for the power and waits out a cool-down itself, each exchange in its
    // trace: the queue adds no exchange of its own.
    queue_->start(false, fleet::QueueExchanges::Plain);
    return ZV_RESULT_OK;
}

std::string Session::resultText(uint32_t result) const {
    switch (result) {
        case ZV_RESULT_NETWORK_TIMEOUT:
        case ZV_RESULT_PORT_REPLY_TIMEOUT:
            if (queue_ == nullptr) break;
            return "no reply from the projector within " +
                   std::to_string(timing_.receiveTimeout.count()) + " ms";
        case ZV_RESULT_CONNECT_FAILED:
            if (queue_ == nullptr) break;
            return "connection refused or not made within " +
                   std::to_string(timing_.connectTimeout.count()) + " ms";
        default:
            break;
    }
    return ZV_GetResultText(result);
}

std::string Session::failureText(const Outcome& outcome) const {
    if (pjlink() && !outcome.reason.empty()) return outcome.reason;
    return resultText(outcome.result);
}

void Session::headStart(const Command& command) {
    if (queue_ == nullptr || started_) return;
    started_ = Started{command, queue_->run(queueCommand(command))};
}

Outcome Session::run(const Command& command) {
    if (probeFirst_ != nullptr) {
        *probeFirst_ = command;
        throw ProbeEnd{};
    }
    Outcome outcome;
    for (unsigned tries = 1;; ++tries) {
        outcome = attempt(command);
        if (outcome.ok() || tries > options_.retries || !mayRepeat(command, outcome.result)) {
            return outcome;
        }
        if (options_.trace != nullptr) TraceRetry(*options_.trace, tries + 1, options_.retries + 1);
    }
}

Outcome Session::attempt(const Command& command) {
    std::optional<fleet::CommandResult> early;
    if (started_) {
        // Whatever was put on the queue ahead has ended before anything more goes out.
        Started started = std::move(*started_);
        started_.reset();
        fleet::CommandResult result = started.result.get();
        if (started.command == command) early = std::move(result);
    }
    if (!early && exchangedBefore_ && options_.wait.count() > 0) {
        std::this_thread::sleep_for(options_.wait);
    }
    exchangedBefore_ = true;
    if (options_.trace != nullptr) TraceSent(*options_.trace, command, pjlink());

    const fleet::CommandResult result =
        early ? std::move(*early) : queue_->run(queueCommand(command)).get();
    Outcome outcome;
    outcome.result = result.result;
    outcome.value = result.value.value_or(0);
    outcome.reason = result.reason;

    if (options_.trace != nullptr) {
        TraceReply(*options_.trace, command, outcome, failureText(outcome), pjlink());
    }
    return outcome;
}

bool Session::mayRepeat(const Command& command, uint32_t result) const {
    // A refused password stays refused however often it is given.
    if (ExitStatusFor(result) != ExitLinkFailed || result == fleet::kAuthFailed) return false;
    const bool harmlessTwice = command.operation == Operation::Get ||
                               command.operation == Operation::Set ||
                               command.operation == Operation::Reset;
    return harmlessTwice || FrameNeverLeft(result);
}

}  // namespace zolvane::cli
