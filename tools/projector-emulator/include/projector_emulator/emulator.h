// Projectors that answer command frames over TCP and pseudo-terminals, for tests and for trying
// the desktop program without hardware. Misbehaviour can be switched on at run time.
//
// One emulator serves Options::count independent projectors, each with its own state, fault and
// frame log, from one thread. Projector i listens on port tcpPort(0) + i and its lamp time starts
// at the table's default plus i, so that a client can tell which one answered. Members that take
// an index address that projector; without one they address projector 0. An index past the
// last projector reads as nothing and changes nothing.
//
// Threads: start(), stop() and destruction belong to the thread that owns the emulator; every
// other member may be called from any thread while it runs, and a change made through them is
// seen by the next frame that arrives.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zolvane::emulator {

enum class PowerState : std::uint16_t { Off = 0, On = 1, CoolingDown = 2 };

struct Options {
    std::string host = "127.0.0.1";
    // 0 picks a free port (read it back with Emulator::tcpPort()); the program defaults to 2323.
    std::uint16_t port = 0;
    bool tcp = true;
    bool pty = false;
    // When not empty, a symbolic link to the pty's device path is made here (and removed on stop).
    std::string linkPath;
    // Logs every frame and reply to standard error.
    bool verbose = false;
    PowerState initialPower = PowerState::On;
    std::chrono::milliseconds coolingTime{3000};
    // Number of projectors, on consecutive TCP ports from port (port 0: a free run of ports),
    // each with its own pseudo-terminal when pty is set. With more than one, linkPath gets the
    // index appended ("PATH-0", "PATH-1", ...).
    std::size_t count = 1;
    // Client connections over all projectors. A new client beyond it, or one that arrives when
    // the process is out of descriptors, takes the place of the one silent longest (never one
    // mid-reply or with a frame waiting); only when none can make way is the new one closed.
    std::size_t maxConnections = 16384;
    // A client that sends nothing for this long is disconnected; 0 never.
    std::chrono::milliseconds idleTimeout{30000};
    // Frames kept per projector, the oldest dropped first; 0 keeps every frame.
    std::size_t frameLogLimit = 0;
};

enum class FaultKind {
    None,
    NoReply,   // the frame is handled but nothing is sent back
    Nak,       // 0x15 to everything; the frame changes nothing
    Garbage,   // FaultConfig::garbage instead of the reply
    Split,     // the first byte, a pause, then the rest
    Trickle,   // one byte at a time with a pause between bytes
    Close,     // TCP: the connection is closed instead of a reply; pty: no reply
    Overlong,  // the reply padded with zero bytes to FaultConfig::overlongLength
};

// Except for Nak, a faulty reply still carries out the command, as a projector would whose
// answer is lost or mangled on the way back.
struct FaultConfig {
    FaultKind kind = FaultKind::None;
    // Waited before the reply (or the close); adds to any kind, also to None.
    std::chrono::milliseconds delay{0};
    // Between the pieces of a Split or Trickle reply.
    std::chrono::milliseconds pause{100};
    std::vector<std::uint8_t> garbage{0x55, 0xAA, 0x55};
    std::size_t overlongLength = 70;
    // When set, frames with any other type code are answered normally.
    std::optional<std::uint16_t> onlyType;
    // When set, the fault applies to this many (matching) frames and then clears itself.
    std::optional<unsigned> frameCount;
};

enum class Link { Tcp, Pty };

// One received frame, as the witness of what a client sent.
struct FrameRecord {
    Link link = Link::Tcp;
    std::array<std::uint8_t, 13> raw{};
    std::uint16_t action = 0;
    std::uint16_t type = 0;
    std::uint16_t value = 0;
    bool headerValid = false;
    bool checksumValid = false;
    // All bytes sent back, pieces joined; empty when nothing was sent.
    std::vector<std::uint8_t> reply;
    FaultKind fault = FaultKind::None;
};

class Emulator {
public:
    explicit Emulator(Options options = {});
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Opens the TCP listener and/or the pty and starts serving. On failure nothing is left
    // open and, when error is given, it receives the reason.
    bool start(std::string* error = nullptr);
    // Closes every connection and joins all threads; pending delays and pauses are cut short.
    void stop();
    bool running() const;

    std::size_t count() const;
    std::uint16_t tcpPort(std::size_t index = 0) const;
    std::string ptyPath(std::size_t index = 0) const;

    // The stored value of a setting; for 0x6000 the power state. Empty for unknown type codes.
    std::optional<std::uint16_t> value(std::uint16_t type, std::size_t index = 0) const;
    // Forces a stored value without any range check (read-only settings included). For 0x6000
    // it is setPower(). Returns false for unknown type codes.
    bool setValue(std::uint16_t type, std::uint16_t value, std::size_t index = 0);
    PowerState power(std::size_t index = 0) const;
    // CoolingDown starts the cooling time from now.
    void setPower(PowerState state, std::size_t index = 0);

    void setFault(FaultConfig fault, std::size_t index = 0);
    void clearFault(std::size_t index = 0);
    // Refuses (0x15) every frame other than a get whose type code is this one: sets,
    // increments, decrements, and executes of a reset type code.
    void refuseSet(std::uint16_t type, bool refuse = true, std::size_t index = 0);
    // Refuses (0x15) gets of this type code.
    void failGet(std::uint16_t type, bool fail = true, std::size_t index = 0);

    // A frame is logged before the first byte of its reply is sent, so a client that has read
    // a reply always finds its frame here.
    std::vector<FrameRecord> frames(std::size_t index = 0) const;
    void clearFrames(std::size_t index = 0);
    // True once at least count frames have been logged since the last clearFrames(), also
    // when the log limit has dropped some of them since.
    bool waitForFrames(std::size_t count, std::chrono::milliseconds timeout,
                       std::size_t index = 0) const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::emulator
