// One command over one TCP connection. Every phase has its own deadline (name lookup and
// connect together, send, receive: by default 3000 ms each), kept with non-blocking sockets and
// poll() instead of watchdog threads, so the socket belongs to this exchange alone and is closed
// exactly once.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "late_reply.h"
#include "network_endpoint.h"
#include "poll_one.h"

namespace zolvane {
namespace {

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

bool Connect(int fd, const Endpoint& to, const Deadline& deadline) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to.address), to.length) == 0) {
        return true;
    }
    if (errno != EINPROGRESS && errno != EINTR) return false;
    if (PollOne(fd, POLLOUT, deadline.remainingMs()) <= 0) return false;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

ResultCode Send(int fd, const uint8_t* frame, std::size_t length, Milliseconds limit) {
    const Deadline deadline(limit);
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

ResultCode Receive(int fd, uint8_t* reply, std::size_t replySize, std::size_t& received,
                   Milliseconds limit) {
    const Deadline deadline(limit);
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

// The projector behind an address and port; a serial-to-network bridge in front of one keeps
// forwarding a late reply to whoever connects next.
std::string LinkKey(const Endpoint& to) {
    char text[INET6_ADDRSTRLEN] = {};
    uint16_t port = 0;
    if (to.address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(to.address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
        return std::string("tcp6.") + text + "." + std::to_string(port);
    }
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(to.address);
    ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
    return std::string("tcp.") + text + "." + std::to_string(port);
}

int DiscardInput(int fd, int ms) {
    const int ready = PollOne(fd, POLLIN, ms);
    if (ready <= 0) return ready;
    uint8_t sink[kReplyBufferSize];
    const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    return -1;  // closed or failed: no reply can come on this connection
}

}  // namespace

// A shared object stays mapped once dlopen has marked it not to be deleted.
void KeepLibraryLoaded() {
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&KeepLibraryLoaded), &self) != 0 && self.dli_fname) {
        ::dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

// Sockets here need no start-up and hold nothing between exchanges.
bool StartSocketLayer() { return true; }
void StopSocketLayer() {}
bool AcquireSocketLayer() { return true; }
void ReleaseSocketLayer() {}

ResultCode NetworkExchange(const NetworkTarget& target, const LinkTimes& times,
                           const uint8_t* frame, std::size_t frameLength, uint8_t* reply,
                           std::size_t replySize, std::size_t& received) {
    received = 0;
    const int fd =
        ::socket(target.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return ResultSocketFailed;
    Socket socket(fd);
    const Deadline connectDeadline(times.connect);
    Endpoint to;
    if (!ResolveEndpoint(target, connectDeadline, FirstIPv4Address, to)) {
        return ResultHostNotFound;
    }
    if (!Connect(fd, to, connectDeadline)) return ResultConnectFailed;
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);

    const std::string key = LinkKey(to);
    if (const Milliseconds left = LateReplyWindowLeft(key); left.count() > 0) {
        if (!DrainLateReply(left, [fd](int ms) { return DiscardInput(fd, ms); })) {
            return ResultReceiveFailed;
        }
    }
    ResultCode result = Send(fd, frame, frameLength, times.send);
    if (result == ResultOk) result = Receive(fd, reply, replySize, received, times.receive);
    if (result != ResultOk) NoteUnansweredExchange(key);
    return result;
}

}  // namespace zolvane
