// One projector's link: where it is, how long each phase may take, and the lock that lets one
// exchange at a time run on it. The exported command functions use one process-wide link; the
// link handles each own one.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "connection.h"
#include "links.h"

namespace zolvane {

class Link {
public:
    static constexpr std::size_t kStringSize = 256;

    Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    ~Link() {
        if (holdsSocketLayer) ReleaseSocketLayer();
    }

    // The time-out and gap options, in milliseconds.
    enum Option { OptionConnect, OptionSend, OptionReceive, OptionGap, OptionCount };

    // Runs one exchange: takes the lock, keeps the gap since the last exchange, sends the frame
    // over the link's kind, reads the reply and interprets it. A link closed by then sends
    // nothing.
    ResultCode exchange(bool isGet, const uint8_t* frame, std::size_t frameLength,
                        uint16_t* valueOut);

    // The option in force: a time-out never set is the kind's default. Reads the kind without
    // the lock, so only for a link whose kind no longer changes.
    int32_t option(Option which) const;
    void setOption(Option which, int32_t ms) { options_[which].store(ms); }
    void markClosed() { closed_.store(true); }

    // Held from before the link is opened until after it is closed, and by every change of the
    // fields below.
    std::recursive_mutex lock;
    int32_t type = ConnectionNone;
    char string1[kStringSize] = {};
    char string2[kStringSize] = {};
    bool ipv6 = false;
    // A handle's own reference on the socket layer (AcquireSocketLayer).
    bool holdsSocketLayer = false;

private:
    LinkTimes times() const;

    // 0: not set.
    std::atomic<int32_t> options_[OptionCount] = {};
    std::atomic<bool> closed_{false};
    bool exchanged_ = false;
    Clock::time_point lastEnd_{};
};

// The link of the exported command functions.
Link& DefaultLink();

// Records the calling thread's last result and returns it.
ResultCode FinishCall(ResultCode result);

}  // namespace zolvane
