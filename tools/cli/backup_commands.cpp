#include "backup_commands.h"

#include <string>

#include "backup_file.h"
#include "power_command.h"
#include "power_state.h"
#include "result_kind.h"
#include "value_text.h"
#include "zolvane.h"

namespace zolvane::cli {
namespace {

bool LinkFailed(const Outcome& outcome) { return ExitStatusFor(outcome.result) == ExitLinkFailed; }

bool SwitchesOn(const Command& command) {
    return command.row->name == "Power" && command.value == kPowerOn;
}

// "left alone: Blank, Mute (--include-passing writes them)"; nothing when none was.
void SayLeftOut(std::ostream& out, const std::vector<std::string_view>& left,
                std::string_view heading, std::string_view verb) {
    if (left.empty()) return;
    out << heading << ": ";
    for (std::size_t i = 0; i < left.size(); ++i) out << (i == 0 ? "" : ", ") << left[i];
    out << " (--include-passing " << verb << " them)\n";
}

}  // namespace

int RunBackup(CommandContext& context, const std::filesystem::path& file) {
    BackupWriter writer(file);
    Session& session = context.session();

    Backup backup;
    std::string unreadable;
    bool powerOn = true;
    for (const SettingRow& row : SettingTable()) {
        if (!row.supports(Operation::Get)) continue;
        const Command command{&row, Operation::Get, 0, {}};
        const Outcome outcome = session.run(command);
        // A half-read projector would pass for a full backup later, so nothing is written.
        if (LinkFailed(outcome)) return context.report(command, outcome);
        if (outcome.ok()) {
            backup.push_back({&row, outcome.value, 0});
            if (row.name == "Power") powerOn = outcome.value == 1;
        } else {
            backup.push_back({&row, std::nullopt, outcome.result});
            unreadable += (unreadable.empty() ? "" : ", ") + std::string(row.name);
        }
    }
    writer.commit(backup, session.target().describe());

    context.out << "saved " << backup.size() << " settings to " << file.string() << '\n';
    if (unreadable.empty()) return ExitOk;
    context.err << "zolvane: recorded as unreadable: " << unreadable << '\n';
    if (!powerOn)
        context.err << "zolvane: the projector is not on; most settings answer only then\n";
    return ExitRefused;
}

int RunRestore(CommandContext& context, const std::filesystem::path& file, RestoreChoice choice) {
    const Backup backup = ReadBackup(file);
    const std::vector<Command> plan = RestorePlan(backup, choice);
    // A plan that begins by switching the projector on may begin in standby.
    const bool switchesOn = !plan.empty() && SwitchesOn(plan.front());
    if (const auto stop = StopUnlessOn(context, "restore", switchesOn)) return *stop;
    Session& session = context.session();

    unsigned refused = 0;
    unsigned tried = 0;
    for (const Command& command : plan) {
        const Outcome outcome = session.run(command);
        if (LinkFailed(outcome)) {
            context.err << "zolvane: restore stopped at " << command.row->name << ": "
                        << tried - refused << " of " << plan.size()
                        << " settings were written back";
            if (refused > 0) context.err << ", " << refused << " refused";
            context.err << '\n';
            return context.report(command, outcome);
        }
        ++tried;
        if (!outcome.ok()) {
            context.note(command, outcome);
            ++refused;
        } else if (SwitchesOn(command)) {
            // The rest is taken only once the projector has warmed up.
            const PowerWait warm =
                WaitForPower(session, kPowerOn,
                             std::chrono::steady_clock::now() + std::chrono::seconds(kOnTimeout));
            if (warm.end == PowerWaitEnd::LinkFailed) {
                return context.report(warm.command, warm.outcome);
            }
            if (warm.end == PowerWaitEnd::TimedOut) {
                context.err << "zolvane: restore: the projector did not report on within "
                            << kOnTimeout << " s; going on\n";
            }
        }
    }
    context.out << "restored " << plan.size() - refused << " of " << plan.size() << " settings";
    if (refused > 0) context.out << ", " << refused << " refused";
    context.out << '\n';
    SayLeftOut(context.out, PassingLeftOut(backup, choice), "left alone", "writes");
    return refused == 0 ? ExitOk : ExitRefused;
}

int RunDiff(CommandContext& context, const std::filesystem::path& file, RestoreChoice choice) {
    const Backup backup = ReadBackup(file);
    const std::vector<Command> plan = RestorePlan(backup, choice);
    if (const auto stop = StopUnlessOn(context, "diff")) return *stop;
    Session& session = context.session();

    unsigned differences = 0;
    for (const Command& planned : plan) {
        const Command command{planned.row, Operation::Get, 0, {}};
        const Outcome outcome = session.run(command);
        if (LinkFailed(outcome)) return context.report(command, outcome);
        if (outcome.ok() && outcome.value == planned.value) continue;
        ++differences;
        context.out << planned.row->name << ": backup " << NamedValue(*planned.row, planned.value)
                    << ", projector ";
        if (outcome.ok()) {
            context.out << NamedValue(*planned.row, outcome.value) << '\n';
        } else {
            context.out << "unreadable (" << FailureText(session, command, outcome) << ")\n";
        }
    }
    if (differences == 0) context.out << "no differences in " << plan.size() << " settings\n";
    SayLeftOut(context.out, PassingLeftOut(backup, choice), "left out", "compares");
    return differences == 0 ? ExitOk : ExitRefused;
}

}  // namespace zolvane::cli
