#include "stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zolvane::emulator {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMilliseconds(std::optional<Clock::time_point> deadline) {
    if (!deadline) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool StopSignal::open(std::string& error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot create the stop pipe: ") + std::strerror(errno);
        return false;
    }
    readEnd_.reset(fds[0]);
    writeEnd_.reset(fds[1]);
    return true;
}

void StopSignal::raise() {
    const char byte = 1;
    // One byte is enough: nobody reads it, so the read end stays readable for every poller.
    [[maybe_unused]] auto written = ::write(writeEnd_.get(), &byte, 1);
}

bool StopSignal::raised() const {
    pollfd entry{readEnd_.get(), POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0;
}

WaitResult StopSignal::waitFor(int fd, short events,
                               std::optional<std::chrono::milliseconds> timeout) const {
    std::optional<Clock::time_point> deadline;
    if (timeout) {
        deadline = Clock::now() + *timeout;
    }
    for (;;) {
        pollfd entries[2] = {{readEnd_.get(), POLLIN, 0}, {fd, events, 0}};
        const nfds_t count = fd >= 0 ? 2 : 1;
        const int ready = ::poll(entries, count, remainingMilliseconds(deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return WaitResult::Failed;
        }
        if (entries[0].revents != 0) {
            return WaitResult::Stopped;
        }
        if (ready == 0) {
            return WaitResult::TimedOut;
        }
        return WaitResult::Ready;
    }
}

bool StopSignal::pause(std::chrono::milliseconds duration) const {
    if (duration.count() <= 0) {
        return !raised();
    }
    return waitFor(-1, 0, duration) == WaitResult::TimedOut;
}

}  // namespace zolvane::emulator
