#include "command_context.h"

#include "power_state.h"
#include "result_kind.h"
#include "settings_location.h"
#include "zolvane.h"

namespace zolvane::cli {

unsigned ParseJobs(const std::optional<std::string>& jobs) {
    // Enough that two hundred projectors, each answering within milliseconds, take well under
    // two seconds, and that twenty dead ones cost one time-out together, not one each.
    constexpr unsigned kDefaultJobs = 32;
    constexpr unsigned kMostJobs = 256;
    if (!jobs) return kDefaultJobs;
    const std::string& text = *jobs;
    const bool digits = !text.empty() && text.size() <= 9 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    const unsigned long value = digits ? std::stoul(text) : 0;
    if (!digits || value < 1 || value > kMostJobs) {
        throw UsageError("--jobs " + text + " is not a number of projectors at once from 1 to " +
                         std::to_string(kMostJobs));
    }
    return static_cast<unsigned>(value);
}

CommandContext::CommandContext(GlobalOptions options, std::ostream& out, std::ostream& err)
    : out(out), err(err), options_(std::move(options)) {}

CommandContext::CommandContext(GlobalOptions options, LinkTarget target, std::ostream& out,
                               std::ostream& err)
    : out(out), err(err), options_(std::move(options)), target_(std::move(target)) {}

CommandContext::CommandContext(GlobalOptions options, LinkTarget target,
                               std::unique_ptr<Session> session, std::ostream& out,
                               std::ostream& err)
    : out(out),
      err(err),
      options_(std::move(options)),
      target_(std::move(target)),
      session_(std::move(session)) {
    if (session_ != nullptr) session_->traceTo(options_.trace ? &err : nullptr);
}

CommandContext CommandContext::Probe(GlobalOptions options, std::ostream& out, std::ostream& err,
                                     std::optional<Command>* first, bool pjlinkAmong) {
    CommandContext context(std::move(options), out, err);
    context.session_ = Session::Probe(first, pjlinkAmong);
    return context;
}

SessionOptions CommandContext::sessionOptions(const GlobalOptions& options, std::ostream& err) {
    SessionOptions made;
    made.retries = options.retries;
    made.wait = std::chrono::milliseconds(options.waitMs);
    made.trace = options.trace ? &err : nullptr;
    return made;
}

LinkTarget CommandContext::chooseTarget() const {
    if (target_) return *target_;
    if (options_.serialPort) return SerialTarget(*options_.serialPort);
    if (options_.tcpAddress) return NetworkTarget(*options_.tcpAddress);
    if (options_.settingsFile) return TargetFromSettingsFile(*options_.settingsFile, true);
    return TargetFromSettingsFile(DefaultSettingsFile(), false);
}

Session& CommandContext::session() {
    if (session_ == nullptr) {
        auto session = std::make_unique<Session>(chooseTarget(), sessionOptions(options_, err));
        if (const uint32_t result = session->connect(); result != ZV_RESULT_OK) {
            throw LinkSetupFailure(session->target().describe() + ": " + ZV_GetResultText(result),
                                   result);
        }
        session_ = std::move(session);
    }
    return *session_;
}

std::optional<std::string> CommandContext::linkAddress() const {
    if (session_ == nullptr) return std::nullopt;
    return session_->target().linkAddress();
}

bool CommandContext::pjlink() const {
    if (session_ != nullptr) return session_->pjlink();
    return target_ && target_->pjlink();
}

bool CommandContext::probing() const { return session_ != nullptr && session_->probing(); }

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
