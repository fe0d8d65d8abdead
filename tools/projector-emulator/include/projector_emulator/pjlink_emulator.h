// Projectors that answer PJLink (class 1 or class 2) over TCP, for tests and for trying PJLink
// clients without hardware. Misbehaviour can be switched on at run time.
//
// One emulator serves PjlinkOptions::count independent projectors from one thread. Projector i
// listens on port tcpPort(0) + i; its lamp time is 1000 + i hours and its name ends in i, so that
// a client can tell which one answered. Members that take an index address that projector; an
// index past the last projector reads as nothing and changes nothing.
//
// Threads: start(), stop() and destruction belong to the thread that owns the emulator; every
// other member may be called from any thread while it runs, and a change made through them is
// seen by the next command that arrives.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zolvane::emulator {

enum class PjlinkFault {
    None,
    Err4,    // every command is answered ERR4 (projector failure); ERST? shows an "other" error
             // (000002)
    Silent,  // connections are accepted, but nothing is ever sent (no greeting, no answer)
    CloseAfterOne,  // the connection is closed right after each answer
    CloseEarly,     // the connection is closed when a command arrives, before any answer
    Garbage,        // every answer is a line that is not PJLink: "\x55\xAA garbage\r"
    Overlong,       // every answer is 300 bytes of 'A' with no CR, then the connection stays open
    Binary,  // every answer is a 13-byte binary frame of our own protocol (any bytes with NULs)
};

struct PjlinkOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;  // 0: free ports; projector i listens on tcpPort(0)+i when count > 1
    std::size_t count = 1;
    int projectorClass = 1;    // 1 or 2
    std::string password;      // empty: no authentication ("PJLINK 0")
    bool initiallyOn = false;  // standby at start unless set
    std::chrono::milliseconds warmUpTime{2000};
    std::chrono::milliseconds coolingTime{3000};
    std::chrono::milliseconds delay{0};            // before every answer (slow answers)
    std::chrono::milliseconds idleTimeout{30000};  // an idle connection is closed; 0 never
    PjlinkFault fault = PjlinkFault::None;
    bool verbose = false;  // every line in and out on standard error
};

class PjlinkEmulator {
public:
    explicit PjlinkEmulator(PjlinkOptions options = {});
    ~PjlinkEmulator();
    PjlinkEmulator(const PjlinkEmulator&) = delete;
    PjlinkEmulator& operator=(const PjlinkEmulator&) = delete;

    // Listens on every projector's port and starts serving. On failure nothing is left open and,
    // when error is given, it receives the reason.
    bool start(std::string* error = nullptr);
    // Closes every connection and joins the thread; pending delays are cut short.
    void stop();
    bool running() const;
    std::size_t count() const;
    std::uint16_t tcpPort(std::size_t index = 0) const;

    // PJLink power: 0 standby, 1 on, 2 cooling down, 3 warming up
    int power(std::size_t index = 0) const;
    void setPower(int power, std::size_t index = 0);  // 2 and 3 start their timers from now
    std::string input(std::size_t index = 0) const;   // "31"
    void setFault(PjlinkFault fault, std::size_t index = 0);
    void setDelay(std::chrono::milliseconds delay, std::size_t index = 0);

    // Every command line received (CR stripped, authentication hash stripped), oldest first.
    std::vector<std::string> lines(std::size_t index = 0) const;
    void clearLines(std::size_t index = 0);
    bool waitForLines(std::size_t count, std::chrono::milliseconds timeout,
                      std::size_t index = 0) const;
    std::size_t connectionsAccepted(std::size_t index = 0) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zolvane::emulator
