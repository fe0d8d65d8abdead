// The two links that carry one command frame to the projector and collect its reply. Each
// opens its port or connection, sends, receives and closes again before returning; both are
// called with the lock of the link they serve held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "deadline.h"
#include "result.h"

namespace zolvane {

inline constexpr std::size_t kReplyBufferSize = 64;

// How long each phase of one exchange may take. The defaults are the links' own: 3000 ms for
// each network phase; a serial write gets 10 ms per frame byte plus 500 ms and the reply about
// one second.
struct LinkTimes {
    Milliseconds connect{3000};
    Milliseconds send{3000};
    Milliseconds receive{3000};
};
inline constexpr LinkTimes kNetworkTimes{};
inline constexpr LinkTimes kSerialTimes{Milliseconds(0), Milliseconds(13 * 10 + 500),
                                        Milliseconds(100 * 10)};

// Where a network exchange goes. host is a dotted IPv4 address or a name, or, with ipv6 set,
// an IPv6 address in its numeric form (without brackets).
struct NetworkTarget {
    const char* host;
    const char* port;
    bool ipv6 = false;
};

// port: the connection's first string, e.g. "/dev/ttyUSB0" or "COM3".
ResultCode SerialExchange(const char* port, const LinkTimes& times, const uint8_t* frame,
                          std::size_t frameLength, uint8_t* reply, std::size_t replySize,
                          std::size_t& received);
inline ResultCode SerialExchange(const char* port, const uint8_t* frame, std::size_t frameLength,
                                 uint8_t* reply, std::size_t replySize, std::size_t& received) {
    return SerialExchange(port, kSerialTimes, frame, frameLength, reply, replySize, received);
}

// host: dotted IPv4 address or host name; port: decimal text, low 16 bits used.
ResultCode NetworkExchange(const NetworkTarget& target, const LinkTimes& times,
                           const uint8_t* frame, std::size_t frameLength, uint8_t* reply,
                           std::size_t replySize, std::size_t& received);
inline ResultCode NetworkExchange(const char* host, const char* port, const uint8_t* frame,
                                  std::size_t frameLength, uint8_t* reply, std::size_t replySize,
                                  std::size_t& received) {
    return NetworkExchange(NetworkTarget{host, port}, kNetworkTimes, frame, frameLength, reply,
                           replySize, received);
}

// The device a serial port name opens. On Linux "COMn" names /dev/ttyS(n-1); on Windows "COMn"
// gets the \\.\ device prefix, without which COM10 and above cannot be opened. Any other name
// is used as it stands.
std::string SerialDevicePath(const char* port);

// The socket layer NetworkExchange needs: taken when the connection chooses the network, given
// back when it chooses serial (and, on Windows, when the library is unloaded). Starting again
// while started does nothing, so the library holds at most one reference. Called with the
// library lock held.
bool StartSocketLayer();
void StopSocketLayer();

// A reference of its own on the socket layer, for a link handle that lives apart from the
// connection above: taken when the handle is opened, given back when its last exchange is over.
// WinSock counts these references; elsewhere there is nothing to do. Any thread may call them.
bool AcquireSocketLayer();
void ReleaseSocketLayer();

// How many reply bytes a reply that starts with `first` has: the single acknowledge bytes
// 06 and 15 stand alone, every other reply carries two more bytes.
inline std::size_t ExpectedReplyLength(uint8_t first) {
    return (first == 0x06 || first == 0x15) ? 1 : 3;
}

// True when the bytes received make the whole reply their first byte announces.
inline bool ReplyWhole(const uint8_t* reply, std::size_t received) {
    return received > 0 && received >= ExpectedReplyLength(reply[0]);
}

// The result a reply gives its command: a get takes its value, every other command wants the
// acknowledge byte. Both the blocking and the stepwise exchanges end here.
inline ResultCode InterpretReply(bool isGet, const uint8_t* reply, std::size_t received,
                                 uint16_t* valueOut) {
    if (received == 0) return ResultNoReply;
    if (isGet) {
        // A value is taken only from bytes that were actually received.
        if (reply[0] != 0x1D || received < 3 || valueOut == nullptr) return ResultBadReply;
        *valueOut = static_cast<uint16_t>(reply[1] | reply[2] << 8);
        return ResultOk;
    }
    return reply[0] == 0x06 ? ResultOk : ResultBadReply;
}

}  // namespace zolvane
