// One command over one TCP connection. Every phase has its own deadline (connect, send and
// receive, 3000 ms each), kept with non-blocking sockets and poll() instead of watchdog threads,
// so the socket belongs to this exchange alone and is closed exactly once.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "links.h"
#include "poll_one.h"
#include "port_number.h"

namespace zolvane {
namespace {

constexpr Milliseconds kConnectLimit{3000};
constexpr Milliseconds kSendLimit{3000};
constexpr Milliseconds kReceiveLimit{3000};

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

// Dotted address first (with the classic inet_addr rules); anything that is not one, including
// "255.255.255.255" whose conversion cannot be told from a failure, goes to the resolver.
bool ResolveHost(const char* host, in_addr& address) {
    const in_addr_t dotted = ::inet_addr(host);
    if (dotted != INADDR_NONE) {
        address.s_addr = dotted;
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

bool Connect(int fd, const in_addr& address, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = address;
    to.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;
    if (PollOne(fd, POLLOUT, static_cast<int>(kConnectLimit.count())) <= 0) return false;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

ResultCode Send(int fd, const uint8_t* frame, std::size_t length) {
    const Deadline deadline(kSendLimit);
    std::size_t sent = 0;
    while (sent < length) {
        const ssize_t n = ::send(fd, frame + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return ResultSendFailed;
        const int ready = PollOne(fd, POLLOUT, deadline.remainingMs());
        if (ready == 0) return ResultNetworkTimeout;
        if (ready < 0) return ResultSendFailed;
    }
    return ResultOk;
}

ResultCode Receive(int fd, uint8_t* reply, std::size_t replySize, std::size_t& received) {
    const Deadline deadline(kReceiveLimit);
    std::size_t wanted = 1;
    while (received < wanted) {
        const ssize_t n = ::recv(fd, reply + received, wanted - received, 0);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
            wanted = ExpectedReplyLength(reply[0]);
            if (wanted > replySize) wanted = replySize;
            continue;
        }
        if (n == 0) return ResultReceiveFailed;  // the projector closed before the reply was whole
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return ResultReceiveFailed;
        const int ready = PollOne(fd, POLLIN, deadline.remainingMs());
        if (ready == 0) return ResultNetworkTimeout;
        if (ready < 0) return ResultReceiveFailed;
    }
    return ResultOk;
}

}  // namespace

// Sockets here need no start-up and hold nothing between exchanges.
bool StartSocketLayer() { return true; }
void StopSocketLayer() {}

ResultCode NetworkExchange(const char* host, const char* port, const uint8_t* frame,
                           std::size_t frameLength, uint8_t* reply, std::size_t replySize,
                           std::size_t& received) {
    received = 0;
    in_addr address{};
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return ResultSocketFailed;
    Socket socket(fd);
    if (!ResolveHost(host, address)) return ResultHostNotFound;
    if (!Connect(fd, address, ParsePortNumber(port))) return ResultConnectFailed;
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    if (const ResultCode sent = Send(fd, frame, frameLength); sent != ResultOk) return sent;
    return Receive(fd, reply, replySize, received);
}

}  // namespace zolvane
