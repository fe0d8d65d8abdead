// One command over many projectors: each runs in a thread of a bounded pool with a
// CommandContext of its own whose outputs are kept, and is printed whole when it ends. Its
// exchanges go through that projector's own fleet queue (the context's session). The first
// exchange of every projector is put on its queue before any runs, so that all of them are
// asked at once and the dead ones time out together, however few the threads.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "command_context.h"
#include "inventory_targets.h"

namespace zolvane::cli {

using Work = std::function<int(CommandContext&)>;

// Runs work and turns every error it raises into its message on context.err and its exit status.
int RunGuarded(const Work& work, CommandContext& context);

struct CapturedRun {
    int status = 0;
    std::string out;
    std::string err;
    std::optional<std::string> address;  // the link's address, once the link was made
};

// Runs work on its own context with both outputs kept: on target when given, else on the link
// the options choose.
CapturedRun RunCaptured(const Work& work, const GlobalOptions& options,
                        const std::optional<LinkTarget>& target,
                        std::unique_ptr<Session> prepared = nullptr);

// Runs work for every target (with the target's index), at most jobs at a time; finished is
// called once for each, as each ends, never two at once. With headStart, work is first run up
// to its first exchange with nothing sent (so only for work that changes nothing before it),
// and that exchange is put on every projector's queue at once.
void RunEach(const std::vector<NamedTarget>& targets, unsigned jobs, const GlobalOptions& options,
             const std::function<int(std::size_t, CommandContext&)>& work,
             const std::function<void(const NamedTarget&, const CapturedRun&)>& finished,
             bool headStart = true);

// The whole run as the user sees it: each projector's lines as it finishes, standard output
// lines as "room101: ...", messages as "zolvane: room101: ...", then a summary on err; or,
// with json, one JSON object per projector and line. The worst exit status of all.
int RunOnTargets(const std::vector<NamedTarget>& targets, unsigned jobs,
                 const GlobalOptions& options, const Work& work, bool json, std::ostream& out,
                 std::ostream& err, bool headStart = true);

// Runs work up to its first exchange, with its output thrown away: the usage error it raised
// before that, if any (a fault of the command itself, the same for every projector), and else
// the command it sends first, if it reached one.
struct ProbeResult {
    std::optional<std::string> usageError;
    std::optional<Command> firstCommand;
};
// pjlinkAmong: some of the projectors speak PJLink.
ProbeResult ProbeBeforeSending(const Work& work, const GlobalOptions& options,
                               bool pjlinkAmong = false);
// Whether any of the targets speaks PJLink.
bool AnyPjlink(const std::vector<NamedTarget>& targets);

// One link from the options, reported as RunOnTargets reports each projector with json.
int RunJsonOnLink(const GlobalOptions& options, const Work& work, std::ostream& out);

// One link from the options for a command that prints JSON of its own (status --json): its
// output as it is, or, when it printed nothing (the link failed), the object RunJsonOnLink
// gives, so that a pipeline never receives nothing. Messages go to err as they came.
int RunWithJsonFallback(const GlobalOptions& options, const Work& work, std::ostream& out,
                        std::ostream& err);

// Worst first: output failed, usage error, link failed, refused, success.
int WorseStatus(int a, int b);

}  // namespace zolvane::cli
