#include "frame_log.h"

namespace zolvane::emulator {

void FrameLog::append(FrameRecord record) {
    {
        std::lock_guard lock(mutex_);
        if (limit_ > 0 && records_.size() >= limit_) {
            records_.pop_front();
        }
        records_.push_back(std::move(record));
        ++appended_;
    }
    grown_.notify_all();
}

std::vector<FrameRecord> FrameLog::frames() const {
    std::lock_guard lock(mutex_);
    return {records_.begin(), records_.end()};
}

void FrameLog::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
    appended_ = 0;
}

bool FrameLog::waitFor(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return grown_.wait_for(lock, timeout, [&] { return appended_ >= count; });
}

}  // namespace zolvane::emulator
