#include "frame_log.h"

namespace zolvane::emulator {

void FrameLog::append(FrameRecord record) {
    {
        std::lock_guard lock(mutex_);
        records_.push_back(std::move(record));
    }
    grown_.notify_all();
}

std::vector<FrameRecord> FrameLog::frames() const {
    std::lock_guard lock(mutex_);
    return records_;
}

void FrameLog::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

bool FrameLog::waitFor(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return grown_.wait_for(lock, timeout, [&] { return records_.size() >= count; });
}

}  // namespace zolvane::emulator
