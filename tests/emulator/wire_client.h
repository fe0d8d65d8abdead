// A bare client for the emulator's two links, written against POSIX only, so that the tests
// witness the bytes on the wire and nothing in between.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace wire {

using Bytes = std::vector<std::uint8_t>;
using Frame = std::array<std::uint8_t, 13>;
using std::chrono::milliseconds;

constexpr std::uint16_t kSet = 1;
constexpr std::uint16_t kGet = 2;
constexpr std::uint16_t kIncrement = 4;
constexpr std::uint16_t kDecrement = 5;
constexpr std::uint16_t kExecute = 6;

const Bytes kAck{0x06};
const Bytes kNak{0x15};
Bytes valueReply(std::uint16_t value);

Frame makeFrame(std::uint16_t action, std::uint16_t type, std::uint16_t value = 0);

// Generous enough for a loaded build machine; only a missing reply ever waits this long.
constexpr milliseconds kReplyTimeout{3000};

class Connection {
public:
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Connection(Connection&& other) noexcept;
    ~Connection();

    static Connection tcp(std::uint16_t port);
    static Connection terminal(const std::string& path);

    void send(const Bytes& bytes);
    void send(const Frame& frame) { send(Bytes(frame.begin(), frame.end())); }
    // Reads until count bytes have come, the peer closed, or the timeout ran out.
    Bytes read(std::size_t count, milliseconds timeout = kReplyTimeout);
    // Reads one reply the way the library does: one byte for 06 or 15, otherwise three.
    Bytes readReply(milliseconds timeout = kReplyTimeout);
    Bytes exchange(const Frame& frame);
    bool peerClosed() const { return peerClosed_; }

private:
    explicit Connection(int fd) : fd_(fd) {}
    int fd_ = -1;
    bool peerClosed_ = false;
};

}  // namespace wire
