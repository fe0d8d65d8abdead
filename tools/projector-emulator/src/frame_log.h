// The record of received frames that tests read as the witness of what a client sent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "projector_emulator/emulator.h"

namespace zolvane::emulator {

class FrameLog {
public:
    // limit: records kept, the oldest dropped first; 0 keeps all.
    explicit FrameLog(std::size_t limit = 0) : limit_(limit) {}

    void append(FrameRecord record);
    std::vector<FrameRecord> frames() const;
    void clear();
    // Counts every frame appended since clear(), kept or already dropped.
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    std::size_t limit_;
    mutable std::mutex mutex_;
    mutable std::condition_variable grown_;
    std::deque<FrameRecord> records_;
    std::size_t appended_ = 0;
};

}  // namespace zolvane::emulator
