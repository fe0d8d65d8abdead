// Wakes every serving thread at once when the emulator stops: a pipe whose read end becomes
// readable and stays so, polled next to each thread's own descriptor.
#pragma once

#include <poll.h>

#include <chrono>
#include <optional>
#include <string>

#include "unique_fd.h"

namespace zolvane::emulator {

enum class WaitResult { Ready, TimedOut, Stopped, Failed };

class StopSignal {
  public:
    bool open(std::string& error);
    void raise();
    bool raised() const;

    // Waits until fd reports one of events, the timeout runs out (none: no limit) or the stop
    // is raised. The stop wins when both happen.
    WaitResult waitFor(int fd, short events,
                       std::optional<std::chrono::milliseconds> timeout = std::nullopt) const;
    // False when the stop cut the pause short.
    bool pause(std::chrono::milliseconds duration) const;

  private:
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
};

}  // namespace zolvane::emulator
