// Deadlines on the monotonic clock, and a poll() on one descriptor bounded by one.
#pragma once

#include <poll.h>

#include <cerrno>
#include <chrono>

namespace zolvane {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

class Deadline {
public:
    explicit Deadline(Milliseconds span) : end_(Clock::now() + span) {}

    // Whole milliseconds left, rounded up so that a wait never ends before the deadline.
    int remainingMs() const {
        const auto left = std::chrono::ceil<Milliseconds>(end_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }
    bool expired() const { return Clock::now() >= end_; }

private:
    Clock::time_point end_;
};

// Waits until fd reports one of `events` or timeoutMs passes; retried on EINTR.
// Returns the revents (0 on time-out) or -1 on error.
inline int PollOne(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    const Deadline deadline{Milliseconds(timeoutMs)};
    for (;;) {
        const int n = ::poll(&p, 1, deadline.remainingMs());
        if (n > 0) return p.revents;
        if (n == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

}  // namespace zolvane
