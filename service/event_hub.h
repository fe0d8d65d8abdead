// The state changes of every projector, for the event streams: the fleet's watcher puts each
// change here once, already in the words of the stream, and every open stream takes what it has
// not sent yet.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zolvane::service {

class EventHub {
public:
    explicit EventHub(std::size_t maxStreams = 32, std::size_t kept = 1024);

    // A change: the data line's JSON, of an event of this type ("state": a projector's state;
    // "removed": {"name": NAME} of a projector no longer in the inventory). Called on the fleet's
    // queue threads; never blocks for long.
    void publish(const std::string& data, std::string_view event = "state");

    // Ends every stream's wait for good; publish() then keeps nothing.
    void stop();
    bool stopped() const;

    // A stream's place; false when maxStreams are open (or the hub stopped).
    bool open();
    void close();
    std::size_t openStreams() const;

    // The sequence number of the newest change, for a stream that starts from a snapshot.
    std::uint64_t newest() const;

    struct Taken {
        std::vector<std::string> events;  // whole "event:/id:/data:" blocks, in order
        bool missed = false;              // older changes were dropped: start again from a snapshot
        bool stopped = false;
    };
    // The changes after `after` (which moves on), waiting up to `wait` for the first of them.
    Taken take(std::uint64_t& after, std::chrono::milliseconds wait);

    // One event block of the stream.
    static std::string block(std::uint64_t id, const std::string& data,
                             std::string_view event = "state");

private:
    struct Change {
        std::uint64_t id;
        std::string block;
    };
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Change> changes_;
    std::uint64_t newest_ = 0;
    std::size_t streams_ = 0;
    const std::size_t maxStreams_;
    const std::size_t kept_;
    bool stopped_ = false;
};

}  // namespace zolvane::service
