// One projector's link: where it is, how long each phase may take, and the lock that lets one
// exchange at a time run on it. The exported command functions use one process-wide link; the
// link handles each own one.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "connection.h"
#include "links.h"

namespace zolvane {

class StepwiseExchange;

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
    bool closed() const { return closed_.load(); }
    LinkTimes times() const;

    // When the next exchange may start: the last one's end plus the gap, or at once before the
    // first exchange or without a gap. Both kinds of exchange keep it and note their end, so
    // the gap holds between a stepwise exchange and a blocking one too. Called with `lock`
    // held, or with `stepLock` held by the stepwise exchange that owns the link.
    Clock::time_point nextStart() const;
    void noteExchangeEnd();

    // True while a stepwise exchange is under way on the link (takes stepLock).
    bool stepwisePending();

    // Held from before the link is opened until after it is closed, and by every change of the
    // fields below.
    std::recursive_mutex lock;
    int32_t type = ConnectionNone;
    char string1[kStringSize] = {};
    char string2[kStringSize] = {};
    bool ipv6 = false;
    // A handle's own reference on the socket layer (AcquireSocketLayer).
    bool holdsSocketLayer = false;

    // The stepwise exchange under way, if any (stepwise_exchange.h). Held for every look at it;
    // taken before `lock` is tried, never while waiting for `lock`.
    std::mutex stepLock;
    std::shared_ptr<StepwiseExchange> step;

private:
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
