#include "frame_assembler.h"

#include <algorithm>

namespace zolvane::emulator {

FrameAssembler::FrameAssembler(std::chrono::milliseconds silenceLimit)
    : silenceLimit_(silenceLimit) {}

std::vector<RawFrame> FrameAssembler::feed(std::span<const std::uint8_t> bytes,
                                           Clock::time_point now) {
    if (!pending_.empty() && now - lastByte_ >= silenceLimit_) {
        pending_.clear();
    }
    lastByte_ = now;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());

    std::vector<RawFrame> frames;
    for (;;) {
        skipToHeader();
        if (pending_.size() < kFrameSize) {
            return frames;
        }
        RawFrame frame;
        std::copy_n(pending_.begin(), kFrameSize, frame.begin());
        pending_.erase(pending_.begin(), pending_.begin() + kFrameSize);
        frames.push_back(frame);
    }
}

// Drops bytes until pending_ starts with the header, or with as much of it as has arrived.
void FrameAssembler::skipToHeader() {
    auto start = pending_.begin();
    for (; start != pending_.end(); ++start) {
        const auto available = std::min<std::size_t>(kFrameHeader.size(), pending_.end() - start);
        if (std::equal(kFrameHeader.begin(), kFrameHeader.begin() + available, start)) {
            break;
        }
    }
    pending_.erase(pending_.begin(), start);
}

}  // namespace zolvane::emulator
