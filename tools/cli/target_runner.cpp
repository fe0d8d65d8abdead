#include "target_runner.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <numeric>
#include <sstream>
#include <thread>

#include "exit_status.h"
#include "json_line.h"
#include "zolvane_link.h"

namespace zolvane::cli {
namespace {

// Rank of each exit status, the worst highest.
int Rank(int status) {
    switch (status) {
        case ExitOk:
            return 0;
        case ExitRefused:
            return 1;
        case ExitLinkFailed:
            return 2;
        case ExitUsage:
            return 3;
        default:
            return 4;  // ExitOutputFailed, and anything unforeseen
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

constexpr std::string_view kPrefix = "zolvane: ";

void PrintPrefixed(const std::string& name, const CapturedRun& run, std::ostream& out,
                   std::ostream& err) {
    for (const std::string& line : Lines(run.out)) out << name << ": " << line << '\n';
    out.flush();
    for (const std::string& line : Lines(run.err)) {
        if (line.starts_with(kPrefix)) {
            err << kPrefix << name << ": " << line.substr(kPrefix.size()) << '\n';
        } else {
            err << name << ": " << line << '\n';
        }
    }
    err.flush();
}

std::string Summary(const std::vector<int>& statuses) {
    const auto count = [&](int status) {
        return std::count(statuses.begin(), statuses.end(), status);
    };
    const std::size_t others = statuses.size() - count(ExitOk) - count(ExitRefused) -
                               count(ExitLinkFailed) - count(ExitUsage);
    std::string text = std::to_string(statuses.size()) +
                       (statuses.size() == 1 ? " projector: " : " projectors: ") +
                       std::to_string(count(ExitOk)) + " done, " +
                       std::to_string(count(ExitRefused)) + " refused, " +
                       std::to_string(count(ExitLinkFailed)) + " unreachable";
    if (count(ExitUsage) > 0) text += ", " + std::to_string(count(ExitUsage)) + " bad input";
    if (others > 0) text += ", " + std::to_string(others) + " output failed";
    return text;
}

}  // namespace

int WorseStatus(int a, int b) { return Rank(a) >= Rank(b) ? a : b; }

int RunGuarded(const Work& work, CommandContext& context) {
    try {
        return work(context);
    } catch (const UsageError& error) {
        context.err << "zolvane: " << error.what() << '\n';
        return ExitUsage;
    } catch (const OutputError& error) {
        context.err << "zolvane: " << error.what() << '\n';
        return ExitOutputFailed;
    } catch (const LinkSetupFailure& error) {
        context.err << "zolvane: " << error.what() << '\n';
        return ExitLinkFailed;
    } catch (const std::exception& error) {
        // Nothing here is expected to throw anything else, but a script must still see failure.
        context.err << "zolvane: " << error.what() << '\n';
        return ExitUsage;
    }
}

CapturedRun RunCaptured(const Work& work, const GlobalOptions& options,
                        const std::optional<LinkTarget>& target,
                        std::unique_ptr<Session> prepared) {
    std::ostringstream out;
    std::ostringstream err;
    CapturedRun run;
    {
        CommandContext context =
            prepared ? CommandContext(options, *target, std::move(prepared), out, err)
            : target ? CommandContext(options, *target, out, err)
                     : CommandContext(options, out, err);
        run.status = RunGuarded(work, context);
        run.address = context.linkAddress();
    }
    run.out = out.str();
    run.err = err.str();
    return run;
}

void RunEach(const std::vector<NamedTarget>& targets, unsigned jobs, const GlobalOptions& options,
             const std::function<int(std::size_t, CommandContext&)>& work,
             const std::function<void(const NamedTarget&, const CapturedRun&)>& finished,
             bool headStart) {
    std::vector<std::unique_ptr<Session>> prepared(targets.size());
    if (headStart && targets.size() > 1) {
        const Work first = [&work](CommandContext& context) { return work(0, context); };
        if (const std::optional<Command> command =
                ProbeBeforeSending(first, options, AnyPjlink(targets)).firstCommand) {
            std::ostringstream none;
            for (std::size_t i = 0; i < targets.size(); ++i) {
                auto session = std::make_unique<Session>(
                    targets[i].link, CommandContext::sessionOptions(options, none));
                // A link the library will not take is reported by the projector's own run.
                if (session->connect() != ZV_RESULT_OK) continue;
                session->headStart(*command);
                prepared[i] = std::move(session);
            }
        }
    }
    std::atomic<std::size_t> next{0};
    std::mutex printing;
    const auto worker = [&] {
        for (std::size_t index; (index = next++) < targets.size();) {
            const Work one = [&work, index](CommandContext& context) {
                return work(index, context);
            };
            const CapturedRun run =
                RunCaptured(one, options, targets[index].link, std::move(prepared[index]));
            std::lock_guard guard(printing);
            finished(targets[index], run);
        }
    };
    const std::size_t threads = std::min<std::size_t>(std::max(jobs, 1U), targets.size());
    std::vector<std::jthread> pool;
    pool.reserve(threads);
    for (std::size_t i = 1; i < threads; ++i) pool.emplace_back(worker);
    worker();  // the calling thread is one of them
}

int RunOnTargets(const std::vector<NamedTarget>& targets, unsigned jobs,
                 const GlobalOptions& options, const Work& work, bool json, std::ostream& out,
                 std::ostream& err, bool headStart) {
    std::vector<int> statuses;
    const auto each = [&work](std::size_t, CommandContext& context) { return work(context); };
    RunEach(
        targets, jobs, options, each,
        [&](const NamedTarget& target, const CapturedRun& run) {
            statuses.push_back(run.status);
            if (json) {
                out << JsonLine(target.name, target.link.linkAddress(), run.status, run.out,
                                run.err)
                    << '\n';
                out.flush();
            } else {
                PrintPrefixed(target.name, run, out, err);
            }
        },
        headStart);
    // Whatever standard output still holds goes first, so that the summary starts a line of
    // its own also where both outputs reach the same terminal or pipe.
    out.flush();
    err << Summary(statuses) << '\n';
    err.flush();
    return std::accumulate(statuses.begin(), statuses.end(), int{ExitOk}, WorseStatus);
}

bool AnyPjlink(const std::vector<NamedTarget>& targets) {
    return std::any_of(targets.begin(), targets.end(),
                       [](const NamedTarget& target) { return target.link.pjlink(); });
}

ProbeResult ProbeBeforeSending(const Work& work, const GlobalOptions& options, bool pjlinkAmong) {
    std::ostringstream ignored;
    ProbeResult probed;
    CommandContext context =
        CommandContext::Probe(options, ignored, ignored, &probed.firstCommand, pjlinkAmong);
    try {
        work(context);
    } catch (const UsageError& error) {
        probed.usageError = error.what();
    } catch (...) {
        // The first exchange was reached, or a fault that each projector's run reports itself.
    }
    return probed;
}

int RunJsonOnLink(const GlobalOptions& options, const Work& work, std::ostream& out) {
    const CapturedRun run = RunCaptured(work, options, std::nullopt);
    out << JsonLine(std::nullopt, run.address, run.status, run.out, run.err) << '\n';
    return run.status;
}

int RunWithJsonFallback(const GlobalOptions& options, const Work& work, std::ostream& out,
                        std::ostream& err) {
    const CapturedRun run = RunCaptured(work, options, std::nullopt);
    if (run.out.find_first_not_of(" \n") != std::string::npos) {
        out << run.out;
    } else {
        out << JsonLine(std::nullopt, run.address, run.status, run.out, run.err) << '\n';
    }
    out.flush();
    err << run.err;
    return run.status;
}

}  // namespace zolvane::cli
