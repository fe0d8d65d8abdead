// Cuts a serial byte stream into command frames. A serial line has no message boundaries, so
// frames are found by their header, and a frame left unfinished by a silent sender is dropped.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "command_frame.h"

namespace zolvane::emulator {

class FrameAssembler {
public:
    using Clock = std::chrono::steady_clock;

    explicit FrameAssembler(std::chrono::milliseconds silenceLimit = std::chrono::milliseconds{
                                200});

    std::vector<RawFrame> feed(std::span<const std::uint8_t> bytes, Clock::time_point now);

private:
    void skipToHeader();

    std::chrono::milliseconds silenceLimit_;
    std::vector<std::uint8_t> pending_;
    Clock::time_point lastByte_;
};

}  // namespace zolvane::emulator
