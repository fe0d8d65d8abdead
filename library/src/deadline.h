// Deadlines on the monotonic clock: every wait in the links is bounded by one.
#pragma once

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

}  // namespace zolvane
