// Carries commands to the projector through the projector's queue: one place for the pause
// between commands, the retries and the trace. Each session has a queue of its own, so sessions
// in different threads never wait for each other.
#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "link_target.h"
#include "setting_table.h"
#include "zolvane_fleet/projector_queue.h"

namespace zolvane::cli {

struct Command {
    const SettingRow* row = nullptr;
    Operation operation = Operation::Get;
    uint16_t value = 0;  // sent by a set; 0 for everything else
    // A set of a PJLink projector's input by the projector's own name ("HDMI 2"): its queue
    // asks the projector's inputs and sends the one of that name. Empty otherwise.
    std::string inputName;

    // "set Brightness 140", for messages and the trace.
    std::string describe() const;
    bool operator==(const Command&) const = default;
};

struct Outcome {
    uint32_t result = 0;  // the library's result code of the last attempt; 0 is success
    uint16_t value = 0;   // what a successful get read
    // The queue's words for a failure ("PJLink ERR3: ..."); empty when it gave none.
    std::string reason;

    bool ok() const { return result == 0; }
};

struct SessionOptions {
    // Further attempts after a link failure. A command that must not run twice (a step or an
    // execute) is repeated only when its frame cannot have left.
    unsigned retries = 0;
    // Pause before every exchange but the first, for projectors that need time between commands.
    std::chrono::milliseconds wait{0};
    // Each frame and reply in hex (for PJLink, each command in words), when not null.
    std::ostream* trace = nullptr;
};

class Session {
public:
    Session(LinkTarget target, SessionOptions options);
    // A session that sends nothing: its first run() stores the command in *first and raises
    // ProbeEnd, so that what a command sends first is known before any projector is asked.
    // pjlinkAmong: some of the projectors it stands for speak PJLink.
    static std::unique_ptr<Session> Probe(std::optional<Command>* first, bool pjlinkAmong = false);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens the link with its timing and starts its queue (nothing is sent); the library's
    // result code (0 on success).
    uint32_t connect();
    Outcome run(const Command& command);
    // Puts command on the queue now, without waiting: the first run() of the same command takes
    // its result as its first attempt. Many projectors are so asked at once, and the dead among
    // them time out together. After connect(), before any run().
    void headStart(const Command& command);
    const LinkTarget& target() const { return target_; }
    // Whether this session only finds out what a command sends first.
    bool probing() const { return probeFirst_ != nullptr; }
    // Whether the projector, or for a probe one of those it stands for, speaks PJLink.
    bool pjlink() const { return target_.pjlink() || probePjlink_; }
    void traceTo(std::ostream* trace) { options_.trace = trace; }
    // The library's text for a result, except that a time-out names this link's own time-out,
    // which the inventory may have changed from the one the library's text names.
    std::string resultText(uint32_t result) const;
    // The words for a failed outcome: a PJLink projector's queue knows them best ("PJLink
    // ERR3: ..."), and for our own the library's text above.
    std::string failureText(const Outcome& outcome) const;

private:
    uint32_t startQueue(fleet::ProjectorEntry entry);
    Outcome attempt(const Command& command);
    bool mayRepeat(const Command& command, uint32_t result) const;

    LinkTarget target_;
    SessionOptions options_;
    fleet::Timing timing_;
    std::unique_ptr<fleet::ProjectorQueue> queue_;
    bool exchangedBefore_ = false;
    std::optional<Command>* probeFirst_ = nullptr;
    bool probePjlink_ = false;
    struct Started {
        Command command;
        std::future<fleet::CommandResult> result;
    };
    std::optional<Started> started_;
};

}  // namespace zolvane::cli
