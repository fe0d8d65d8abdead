#include "power_command.h"

#include <string>

#include "power_state.h"
#include "result_kind.h"
#include "value_text.h"

namespace zolvane::cli {
namespace {

// "on", "off": how a message names the state.
std::string StateName(const SettingRow& row, uint16_t power) {
    const std::string_view name = ValueName(row, power);
    return name.empty() ? std::to_string(power) : std::string(name);
}

int Report(CommandContext& context, const PowerWait& wait) {
    return context.report(wait.command, wait.outcome);
}

}  // namespace

int RunPower(CommandContext& context, std::string_view valueText, const PowerChoice& choice) {
    const SettingRow& row = RequireSetting("Power", Operation::Set);
    const uint16_t wanted = ParseValue(row, valueText, "a power state");
    RequireSettable(row, wanted);
    const unsigned seconds =
        choice.timeoutSeconds.value_or(wanted == kPowerOn ? kOnTimeout : kOffTimeout);
    const Deadline deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    const std::string limit = std::to_string(seconds) + " s";
    Session& session = context.session();

    if (wanted == kPowerOn) {
        // A lamp that is cooling down cannot be struck again: wait for the cool-down to end.
        const Command ask{&row, Operation::Get, 0, {}};
        const Outcome now = session.run(ask);
        if (ExitStatusFor(now.result) == ExitLinkFailed) return context.report(ask, now);
        if (now.ok() && now.value != kPowerOff && now.value != kPowerOn) {
            context.err << "zolvane: " << PowerStateWords(now.value) << "; waiting up to " << limit
                        << '\n';
            const PowerWait cooled = WaitUntilSettled(session, deadline);
            if (cooled.end == PowerWaitEnd::LinkFailed) return Report(context, cooled);
            if (cooled.end == PowerWaitEnd::TimedOut) {
                context.err << "zolvane: power on: gave up after " << limit << "; "
                            << PowerStateWords(cooled.power.value_or(now.value)) << '\n';
                return ExitRefused;
            }
        }
    }

    const Command set{&row, Operation::Set, wanted, {}};
    const Outcome outcome = session.run(set);
    if (!outcome.ok()) return context.report(set, outcome);
    if (!choice.wait) return ExitOk;

    const PowerWait reached = WaitForPower(session, wanted, deadline);
    if (reached.end == PowerWaitEnd::LinkFailed) return Report(context, reached);
    if (reached.end == PowerWaitEnd::TimedOut) {
        context.err << "zolvane: power " << StateName(row, wanted)
                    << ": the projector did not report " << StateName(row, wanted) << " within "
                    << limit;
        if (reached.power) context.err << " (it reports " << StateName(row, *reached.power) << ")";
        context.err << '\n';
        return ExitRefused;
    }
    return ExitOk;
}

}  // namespace zolvane::cli
