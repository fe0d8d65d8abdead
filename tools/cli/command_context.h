// What every sub-command works with: the global options, the link (made on first use, so that
// commands which send nothing never need one) and the two output streams.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "exit_status.h"
#include "session.h"

namespace zolvane::cli {

struct GlobalOptions {
    // At most one of the three is given; an empty text given is still a choice, and a bad one.
    std::optional<std::string> serialPort;
    std::optional<std::string> tcpAddress;
    std::optional<std::string> settingsFile;
    bool trace = false;
    unsigned retries = 0;
    unsigned waitMs = 0;
    // For projectors named with '@': the inventory (the default one when not given) and how
    // many run at once (checked by ParseJobs).
    std::optional<std::string> inventory;
    std::optional<std::string> jobs;
    // One JSON object per projector.
    bool json = false;
};

// The --jobs number: 1 to 256, 32 when not given; UsageError otherwise.
unsigned ParseJobs(const std::optional<std::string>& jobs);

// The library would not take the link; carries its result code.
class LinkSetupFailure : public std::runtime_error {
public:
    LinkSetupFailure(const std::string& what, uint32_t result)
        : std::runtime_error(what), result(result) {}
    uint32_t result;
};

// Raised by session() in a context made only to check a command's own arguments; on purpose no
// std::exception, so that nothing but the one who probes catches it.
struct ProbeEnd {};

class CommandContext {
public:
    CommandContext(GlobalOptions options, std::ostream& out, std::ostream& err);
    // For one projector of the inventory: the link is this one, whatever the options say.
    CommandContext(GlobalOptions options, LinkTarget target, std::ostream& out, std::ostream& err);
    // A context whose session sends nothing: the command runs up to its first exchange, which
    // raises ProbeEnd and is stored in *first.
    // pjlinkAmong: some of the projectors it stands for speak PJLink.
    static CommandContext Probe(GlobalOptions options, std::ostream& out, std::ostream& err,
                                std::optional<Command>* first, bool pjlinkAmong = false);
    // For one projector of the inventory whose session was made (and perhaps given a head
    // start) beforehand.
    CommandContext(GlobalOptions options, LinkTarget target, std::unique_ptr<Session> session,
                   std::ostream& out, std::ostream& err);

    // Chooses the link from the options or the settings file (UsageError when that choice is
    // malformed) and hands it to the library (LinkSetupFailure when it will not take it).
    Session& session();
    // The address of the link as the library reads it, once session() has made the link.
    std::optional<std::string> linkAddress() const;
    // Whether the projector speaks PJLink (for a probe: any it stands for), known without
    // making the link.
    bool pjlink() const;
    // Whether this context only finds out what the command sends first.
    bool probing() const;

    // Tells standard error why the command failed; the exit status that goes with it.
    ExitStatus report(const Command& command, const Outcome& outcome);
    // As report, for a failure that is only noted while the command goes on.
    void note(const Command& command, const Outcome& outcome);

    std::ostream& out;
    std::ostream& err;

    // The session's options from the command line's.
    static SessionOptions sessionOptions(const GlobalOptions& options, std::ostream& err);

private:
    LinkTarget chooseTarget() const;

    GlobalOptions options_;
    std::optional<LinkTarget> target_;
    std::unique_ptr<Session> session_;
};

}  // namespace zolvane::cli
