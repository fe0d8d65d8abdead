#include "session.h"

#include <thread>
#include <utility>

#include "result_kind.h"
#include "trace.h"
#include "zolvane.h"

namespace zolvane::cli {
namespace {

// The plain exchange of each operation; the library's exported setting functions send exactly
// these frames (a reset is an execute of the reset type code).
zv_result Invoke(zv_link* link, const Command& command, uint16_t& value) {
    const uint16_t type = FrameType(*command.row, command.operation);
    switch (command.operation) {
        case Operation::Get:
            return zv_get(link, type, &value);
        case Operation::Set:
            return zv_set(link, type, command.value);
        case Operation::Increment:
            return zv_increment(link, type);
        case Operation::Decrement:
            return zv_decrement(link, type);
        case Operation::Reset:
        case Operation::Execute:
            return zv_execute(link, type);
    }
    return ZV_RESULT_BAD_ARGUMENT;
}

}  // namespace

std::string Command::describe() const {
    std::string text = std::string(OperationWord(operation)) + " " + std::string(row->name);
    if (operation == Operation::Set) text += " " + std::to_string(value);
    return text;
}

Session::Session(LinkTarget target, SessionOptions options)
    : target_(std::move(target)), options_(options) {}

Session::~Session() { zv_link_close(link_); }

uint32_t Session::connect() {
    zv_result why = ZV_RESULT_OK;
    link_ = zv_link_open(target_.linkAddress().c_str(), &why);
    if (link_ == nullptr) return why;
    if (!target_.timing) return ZV_RESULT_OK;
    const LinkTiming& timing = *target_.timing;
    const std::pair<int32_t, int32_t> options[] = {
        {ZV_LINK_CONNECT_TIMEOUT_MS, timing.connectMs},
        {ZV_LINK_SEND_TIMEOUT_MS, timing.sendMs},
        {ZV_LINK_RECEIVE_TIMEOUT_MS, timing.receiveMs},
        {ZV_LINK_GAP_MS, timing.gapMs},
    };
    for (const auto& [option, value] : options) {
        if (const zv_result result = zv_link_set_option(link_, option, value); result != 0) {
            return result;
        }
    }
    return ZV_RESULT_OK;
}

std::string Session::resultText(uint32_t result) const {
    int32_t option = 0;
    const char* words = nullptr;
    switch (result) {
        case ZV_RESULT_NETWORK_TIMEOUT:
        case ZV_RESULT_PORT_REPLY_TIMEOUT:
            option = ZV_LINK_RECEIVE_TIMEOUT_MS;
            words = "no reply from the projector within ";
            break;
        case ZV_RESULT_CONNECT_FAILED:
            option = ZV_LINK_CONNECT_TIMEOUT_MS;
            words = "connection refused or not made within ";
            break;
        default:
            return ZV_GetResultText(result);
    }
    int32_t ms = 0;
    if (link_ == nullptr || zv_link_get_option(link_, option, &ms) != ZV_RESULT_OK) {
        return ZV_GetResultText(result);
    }
    return words + std::to_string(ms) + " ms";
}

Outcome Session::run(const Command& command) {
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
    if (exchangedBefore_ && options_.wait.count() > 0) std::this_thread::sleep_for(options_.wait);
    exchangedBefore_ = true;
    if (options_.trace != nullptr) TraceSent(*options_.trace, command);

    Outcome outcome;
    outcome.result = Invoke(link_, command, outcome.value);

    if (options_.trace != nullptr) {
        TraceReply(*options_.trace, command, outcome, resultText(outcome.result));
    }
    return outcome;
}

bool Session::mayRepeat(const Command& command, uint32_t result) const {
    if (ExitStatusFor(result) != ExitLinkFailed) return false;
    const bool harmlessTwice = command.operation == Operation::Get ||
                               command.operation == Operation::Set ||
                               command.operation == Operation::Reset;
    return harmlessTwice || FrameNeverLeft(result);
}

}  // namespace zolvane::cli
