// Carries commands to the projector through the projector's queue: one place for the pause
// between commands, the retries and the trace. Each session has a queue of its own, so sessions
// in different threads never wait for each other.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
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

    // "set Brightness 140", for messages and the trace.
    std::string describe() const;
};

struct Outcome {
    uint32_t result = 0;  // the library's result code of the last attempt; 0 is success
    uint16_t value = 0;   // what a successful get read

    bool ok() const { return result == 0; }
};

struct SessionOptions {
    // Further attempts after a link failure. A command that must not run twice (a step or an
    // execute) is repeated only when its frame cannot have left.
    unsigned retries = 0;
    // Pause before every exchange but the first, for projectors that need time between commands.
    std::chrono::milliseconds wait{0};
    // Each frame and reply in hex, when not null.
    std::ostream* trace = nullptr;
};

class Session {
public:
    Session(LinkTarget target, SessionOptions options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens the link with its timing and starts its queue (nothing is sent); the library's
    // result code (0 on success).
    uint32_t connect();
    Outcome run(const Command& command);
    const LinkTarget& target() const { return target_; }
    // The library's text for a result, except that a time-out names this link's own time-out,
    // which the inventory may have changed from the one the library's text names.
    std::string resultText(uint32_t result) const;

private:
    Outcome attempt(const Command& command);
    bool mayRepeat(const Command& command, uint32_t result) const;

    LinkTarget target_;
    SessionOptions options_;
    fleet::Timing timing_;
    std::unique_ptr<fleet::ProjectorQueue> queue_;
    bool exchangedBefore_ = false;
};

}  // namespace zolvane::cli
