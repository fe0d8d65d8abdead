// The record of received frames that tests read as the witness of what a client sent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "projector_emulator/emulator.h"

namespace zolvane::emulator {

class FrameLog {
  public:
    void append(FrameRecord record);
    std::vector<FrameRecord> frames() const;
    void clear();
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable grown_;
    std::vector<FrameRecord> records_;
};

}  // namespace zolvane::emulator
