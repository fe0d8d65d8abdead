// A poll() on one descriptor, bounded by a deadline.
#pragma once

#include <poll.h>

#include <cerrno>

#include "deadline.h"

namespace zolvane {

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
