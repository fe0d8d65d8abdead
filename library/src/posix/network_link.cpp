// One command over one TCP connection. Every phase has its own deadline (name lookup and
// connect together, send, receive: by default 3000 ms each), kept with non-blocking sockets and
// poll() instead of watchdog threads, so the socket belongs to this exchange alone and is closed
// exactly once.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host_address.h"
#include "host_lookup.h"
#include "late_reply.h"
#include "links.h"
#include "poll_one.h"
#include "port_number.h"

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

bool ResolveName(const std::string& host, uint32_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return true;
}

// The address of one projector, IPv4 or IPv6.
struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
};

// A numeric address is read here, as decimal; only a name goes to the resolver, and only for
// as long as the connect deadline allows. An IPv6 target is a numeric address only.
bool ResolveHost(const NetworkTarget& target, const Deadline& deadline, uint16_t port,
                 Endpoint& to) {
    if (target.ipv6) {
        addrinfo hints{};
        hints.ai_family = AF_INET6;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST;
        addrinfo* found = nullptr;
        if (::getaddrinfo(target.host, nullptr, &hints, &found) != 0 || found == nullptr) {
            return false;
        }
        std::memcpy(&to.address, found->ai_addr, found->ai_addrlen);
        to.length = found->ai_addrlen;
        ::freeaddrinfo(found);
        reinterpret_cast<sockaddr_in6*>(&to.address)->sin6_port = htons(port);
        return true;
    }
    auto& v4 = *reinterpret_cast<sockaddr_in*>(&to.address);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    to.length = sizeof v4;
    const HostReading numeric = ReadNumericHost(target.host);
    if (numeric.kind == NumericHost::Address) {
        v4.sin_addr.s_addr = htonl(numeric.address);
        return true;
    }
    if (numeric.kind == NumericHost::Malformed) return false;
    uint32_t found = 0;
    if (!LookUpHost(target.host, deadline, ResolveName, found)) return false;
    v4.sin_addr.s_addr = found;
    return true;
}

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

ResultCode NetworkExchange(const char* host, const char* port, const uint8_t* frame,
                           std::size_t frameLength, uint8_t* reply, std::size_t replySize,
                           std::size_t& received) {
    return NetworkExchange(NetworkTarget{host, port}, kNetworkTimes, frame, frameLength, reply,
                           replySize, received);
}

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
    if (!ResolveHost(target, connectDeadline, ParsePortNumber(target.port), to)) {
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
