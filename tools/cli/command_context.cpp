#include "command_context.h"

#include "power_state.h"
#include "result_kind.h"
#include "settings_location.h"
#include "zolvane.h"

namespace zolvane::cli {

CommandContext::CommandContext(GlobalOptions options, std::ostream& out, std::ostream& err)
    : out(out), err(err), options_(std::move(options)) {}

LinkTarget CommandContext::chooseTarget() const {
    if (options_.serialPort) return SerialTarget(*options_.serialPort);
    if (options_.tcpAddress) return NetworkTarget(*options_.tcpAddress);
    if (options_.settingsFile) return TargetFromSettingsFile(*options_.settingsFile, true);
    return TargetFromSettingsFile(DefaultSettingsFile(), false);
}

Session& CommandContext::session() {
    if (session_ == nullptr) {
        SessionOptions sessionOptions;
        sessionOptions.retries = options_.retries;
        sessionOptions.wait = std::chrono::milliseconds(options_.waitMs);
        sessionOptions.trace = options_.trace ? &err : nullptr;
        auto session = std::make_unique<Session>(chooseTarget(), sessionOptions);
        if (const uint32_t result = session->connect(); result != ZV_RESULT_OK) {
            throw LinkSetupFailure(session->target().describe() + ": " + ZV_GetResultText(result),
                                   result);
        }
        session_ = std::move(session);
    }
    return *session_;
}

void CommandContext::note(const Command& command, const Outcome& outcome) {
    err << "zolvane: " << command.describe() << ": " << FailureText(session(), command, outcome);
    if (ExitStatusFor(outcome.result) == ExitLinkFailed) {
        const LinkTarget& target = session().target();
        err << " (" << target.describe();
        if (target.origin.rfind("--", 0) != 0) err << ", from " << target.origin;
        err << ")";
    }
    err << '\n';
}

ExitStatus CommandContext::report(const Command& command, const Outcome& outcome) {
    note(command, outcome);
    return ExitStatusFor(outcome.result);
}

}  // namespace zolvane::cli
