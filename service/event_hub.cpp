#include "event_hub.h"

namespace zolvane::service {

EventHub::EventHub(std::size_t maxStreams, std::size_t kept)
    : maxStreams_(maxStreams), kept_(kept) {}

std::string EventHub::block(std::uint64_t id, const std::string& data, std::string_view event) {
    return "event: " + std::string(event) + "\nid: " + std::to_string(id) + "\ndata: " + data +
           "\n\n";
}

void EventHub::publish(const std::string& data, std::string_view event) {
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
        ++newest_;
        changes_.push_back({newest_, block(newest_, data, event)});
        while (changes_.size() > kept_) changes_.pop_front();
    }
    changed_.notify_all();
}

void EventHub::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changes_.clear();
    }
    changed_.notify_all();
}

bool EventHub::stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

bool EventHub::open() {
    std::lock_guard lock(mutex_);
    if (stopped_ || streams_ >= maxStreams_) return false;
    ++streams_;
    return true;
}

void EventHub::close() {
    std::lock_guard lock(mutex_);
    if (streams_ > 0) --streams_;
}

std::size_t EventHub::openStreams() const {
    std::lock_guard lock(mutex_);
    return streams_;
}

std::uint64_t EventHub::newest() const {
    std::lock_guard lock(mutex_);
    return newest_;
}

EventHub::Taken EventHub::take(std::uint64_t& after, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait, [&] { return stopped_ || newest_ > after; });
    Taken taken;
    taken.stopped = stopped_;
    if (stopped_ || newest_ <= after) return taken;
    if (changes_.empty() || changes_.front().id > after + 1) {
        taken.missed = true;
        after = newest_;
        return taken;
    }
    for (const Change& change : changes_) {
        if (change.id > after) taken.events.push_back(change.block);
    }
    after = newest_;
    return taken;
}

}  // namespace zolvane::service
