// The protocol carries no request number, so a reply that comes after its exchange gave up on
// it would be read as the answer to the next command on the same link. An exchange that ends
// without its whole reply therefore marks its link, and the next exchange on that link first
// waits out the time in which the late reply may still come, discarding whatever arrives, and
// goes on only once the line has been quiet for a moment.
//
// The mark lives in this process and, where the platform offers it, in a small record shared
// with other processes (a file beside the serial ports' lock files), so that a program run
// right after one that timed out waits too.
#pragma once

#include <algorithm>
#include <string>

#include "deadline.h"

namespace zolvane {

// How long after an exchange gave up its reply may still come.
inline constexpr Milliseconds kLateReplyWindow{1000};
// Quiet needed after the last discarded byte before the frame goes out.
inline constexpr Milliseconds kQuietGap{30};
// A line that keeps talking is drained at most this much past the window.
inline constexpr Milliseconds kDrainOverrun{1000};

// key names the link itself (the device, the address and port), not the text that chose it.
void NoteUnansweredExchange(const std::string& key);
// What is left of the window that the last unanswered exchange on this link opened; zero when
// there is none.
Milliseconds LateReplyWindowLeft(const std::string& key);

// The record shared between processes (posix/ and win32/ each give theirs): the end of the
// window on the steady clock, in milliseconds, or nothing.
// A record whose window has passed is removed when it is next read.
void StoreSharedWindowEnd(const std::string& key, long long endMs);
long long SharedWindowEnd(const std::string& key);
void ForgetSharedWindow(const std::string& key);

// The rules of draining a late reply: input is discarded until the window has passed and
// kQuietGap has gone by without a byte, and for no longer than kDrainOverrun past the window.
class LateReplyDrain {
public:
    explicit LateReplyDrain(Milliseconds windowLeft)
        : window_(windowLeft), limit_(windowLeft + kDrainOverrun), quiet_(kQuietGap) {}

    bool over() const { return (window_.expired() && quiet_.expired()) || limit_.expired(); }
    // How long to wait for input before looking again; at least 1 ms.
    int waitMs() const {
        const int wait =
            std::min(std::max(window_.remainingMs(), quiet_.remainingMs()), limit_.remainingMs());
        return std::max(wait, 1);
    }
    // Bytes were discarded: the quiet starts again.
    void discarded() { quiet_ = Deadline(kQuietGap); }

private:
    Deadline window_;
    Deadline limit_;
    Deadline quiet_;
};

// Discards input by the rules above. waitAndDiscard(ms) waits up to ms for input and throws
// away what came: it returns how many bytes that was, or a negative number when the link failed
// (then this returns false).
template <typename WaitAndDiscard>
bool DrainLateReply(Milliseconds windowLeft, WaitAndDiscard waitAndDiscard) {
    LateReplyDrain drain(windowLeft);
    while (!drain.over()) {
        const int discarded = waitAndDiscard(drain.waitMs());
        if (discarded < 0) return false;
        if (discarded > 0) drain.discarded();
    }
    return true;
}

}  // namespace zolvane
