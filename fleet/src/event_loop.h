// The one thread that drives every projector queue of the process. It waits, in one epoll set,
// on the sockets of the exchanges under way and on the earliest timer (a poll falling due, a
// gap, a cool-down's next ask); everything it runs is short, so a thousand projectors cost it
// no more than their exchanges do. What cannot be waited for that way (a serial port, and
// every link where the library offers no stepwise exchange) runs on a small pool of threads
// and hands its result back to the loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "zolvane_fleet/command.h"
#include "zolvane_link.h"

namespace zolvane::fleet {

class EventLoop {
public:
    using Clock = std::chrono::steady_clock;
    using Callback = std::function<void()>;
    using Id = std::uint64_t;  // of a timer or a watch; 0 is none
    // The end of one exchange: its result and, for a get, the value read.
    using Exchanged = std::function<void(zv_result result, std::uint16_t value)>;

    // The process's loop, started when first asked for and never ended: queues come and go
    // with inventories, the loop stays.
    static EventLoop& shared();

    // Runs callback on the loop's thread soon; from any thread.
    void post(Callback callback);
    bool onLoop() const;

    // The rest only on the loop's thread.
    // Runs callback once when the time comes; cancel() before then and it never runs.
    Id at(Clock::time_point when, Callback callback);
    void cancel(Id timer);

    // One exchange on link, stepwise where the library can, on the pool where it cannot; done
    // is called on the loop's thread when it is over, never before this returns.
    void exchange(zv_link* link, const LinkAction& action, Exchanged done);

    // Runs callback once when fd is ready for what events asks (ZV_WAIT_READ, ZV_WAIT_WRITE),
    // or has failed or hung up; false when it cannot be watched. One watch per descriptor:
    // unwatch() before closing it, and the callback never runs.
    bool watch(int fd, std::int32_t events, Callback callback);
    void unwatch(int fd);

    // Runs job on the blocking pool (a name's lookup, a serial exchange); from any thread.
    void blocking(Callback job);

    // How many threads the pool for blocking exchanges may have.
    static constexpr unsigned kPoolThreads = 4;

    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

private:
    EventLoop();
    ~EventLoop();
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::fleet
