// The single steps of a network exchange on a non-blocking socket, each taken without waiting:
// the blocking exchange waits between them with poll(), the stepwise one leaves the waiting to
// its caller. Both take every step here, so each rule is written once.
#pragma once

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include "links.h"
#include "network_endpoint.h"

namespace zolvane {

// The projector behind an address and port; a serial-to-network bridge in front of one keeps
// forwarding a late reply to whoever connects next.
inline std::string LinkKey(const Endpoint& to) {
    char text[INET6_ADDRSTRLEN] = {};
    if (to.address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(to.address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return std::string("tcp6.") + text + "." + std::to_string(ntohs(v6.sin6_port));
    }
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(to.address);
    ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return std::string("tcp.") + text + "." + std::to_string(ntohs(v4.sin_port));
}

// A non-blocking stream socket of the target's family, or -1.
inline int OpenExchangeSocket(bool ipv6) {
    return ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

inline void CloseExchangeSocket(int fd) {
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

enum class Step { Done, Wait, Failed };

// Starts the connection: Done when made at once, Wait while it is being made.
inline Step StartConnect(int fd, const Endpoint& to) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to.address), to.length) == 0) {
        return Step::Done;
    }
    return errno == EINPROGRESS || errno == EINTR ? Step::Wait : Step::Failed;
}

// After the socket has reported itself writable: whether the connection was made.
inline bool ConnectMade(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

// A made connection sends the small frame at once rather than waiting to fill a segment.
inline void SendWithoutDelay(int fd) {
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
}

// Sends what the socket takes of the rest of the frame; sent counts the bytes gone out.
inline Step SendSome(int fd, const uint8_t* frame, std::size_t length, std::size_t& sent) {
    while (sent < length) {
        const ssize_t n = ::send(fd, frame + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Step::Failed;
        return Step::Wait;
    }
    return Step::Done;
}

// Reads what has come of the reply, never past the length its first byte announces; Done once
// it is whole, Failed when the projector closed before it was.
inline Step ReceiveSome(int fd, uint8_t* reply, std::size_t replySize, std::size_t& received) {
    for (;;) {
        std::size_t wanted = received == 0 ? 1 : ExpectedReplyLength(reply[0]);
        if (wanted > replySize) wanted = replySize;
        if (received >= wanted) return Step::Done;
        const ssize_t n = ::recv(fd, reply + received, wanted - received, 0);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return Step::Failed;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? Step::Wait : Step::Failed;
    }
}

// Throws away input that has already come: how many bytes, 0 when none was there, or -1 when
// the connection closed or failed (no reply can come on it then).
inline int DiscardWaitingInput(int fd) {
    uint8_t sink[kReplyBufferSize];
    const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    return -1;
}

}  // namespace zolvane
