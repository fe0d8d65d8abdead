// A service's event stream (GET /api/events), read on a thread of its own.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace service_testing {

// The event stream, read on a thread of its own until the test has what it waits for.
class EventStream {
public:
    explicit EventStream(int port) : client_("127.0.0.1", port) {
        client_.set_read_timeout(std::chrono::seconds(30));
        thread_ = std::thread([this] {
            client_.Get("/api/events", [this](const char* data, std::size_t size) {
                std::lock_guard lock(mutex_);
                text_.append(data, size);
                grown_.notify_all();
                return !done_;
            });
            std::lock_guard lock(mutex_);
            ended_ = true;
            grown_.notify_all();
        });
    }
    ~EventStream() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        client_.stop();
        thread_.join();
    }
    // Waits until the stream holds text `count` times, or has ended.
    bool waitFor(const std::string& text, std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return grown_.wait_for(lock, timeout, [&] {
            return occurrences(text) >= count || ended_;
        }) && occurrences(text) >= count;
    }
    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }
    bool waitForEnd(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return grown_.wait_for(lock, timeout, [&] { return ended_; });
    }

private:
    std::size_t occurrences(const std::string& text) const {
        std::size_t count = 0;
        for (auto at = text_.find(text); at != std::string::npos; at = text_.find(text, at + 1)) {
            ++count;
        }
        return count;
    }
    httplib::Client client_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable grown_;
    std::string text_;
    bool done_ = false;
    bool ended_ = false;
};

}  // namespace service_testing
