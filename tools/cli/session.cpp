#include "session.h"

#include <thread>

#include "result_kind.h"
#include "trace.h"
#include "zolvane.h"

namespace zolvane::cli {
namespace {

int32_t Invoke(const Command& command, uint16_t& value) {
    const SettingRow& row = *command.row;
    switch (command.operation) {
        case Operation::Get:
            return row.get(&value);
        case Operation::Set:
            return row.set(command.value);
        case Operation::Increment:
            return row.increment();
        case Operation::Decrement:
            return row.decrement();
        case Operation::Reset:
            return row.reset();
        case Operation::Execute:
            return row.execute();
    }
    return 0;
}

}  // namespace

std::string Command::describe() const {
    std::string text = std::string(OperationWord(operation)) + " " + std::string(row->name);
    if (operation == Operation::Set) text += " " + std::to_string(value);
    return text;
}

Session::Session(LinkTarget target, SessionOptions options)
    : target_(std::move(target)), options_(options) {}

uint32_t Session::connect() {
    const std::string port =
        target_.kind == LinkTarget::Network ? std::to_string(target_.port) : "";
    if (ZV_SetConnection(target_.kind, target_.address.c_str(), port.c_str()) == 1) return 0;
    return ZV_GetLastResult();
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
    const int32_t accepted = Invoke(command, outcome.value);
    outcome.result = ZV_GetLastResult();
    // A failure must never pass for success, whatever the library left behind.
    if (accepted != 1 && outcome.result == ZV_RESULT_OK) outcome.result = ZV_RESULT_BAD_REPLY;

    if (options_.trace != nullptr) TraceReply(*options_.trace, command, outcome);
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
