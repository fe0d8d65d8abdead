// A minimal client that does one get exchange by hand, the yardstick for the library's own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace zolvane::bench {

// get power, as worked out by hand
inline constexpr uint8_t kGetPower[13] = {0xBE, 0xEF, 0x03, 0x06, 0x00, 0x19, 0xD3,
                                          0x02, 0x00, 0x00, 0x60, 0x00, 0x00};

inline bool ReadExactly(int fd, uint8_t* to, size_t count) {
    size_t got = 0;
    while (got < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) return false;
        const ssize_t n = ::read(fd, to + got, count - got);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// Connect, send the frame, read the 3-byte reply, close: what the library does for a get.
inline bool RawTcpGet(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    uint8_t reply[3];
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                    ::send(fd, kGetPower, sizeof kGetPower, MSG_NOSIGNAL) == sizeof kGetPower &&
                    ReadExactly(fd, reply, 3) && reply[0] == 0x1D;
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    return ok;
}

}  // namespace zolvane::bench
