// One command over one TCP connection. Every phase has its own deadline (connect, send and
// receive, 3000 ms each), kept with a non-blocking socket and select() instead of watchdog
// threads, so the socket belongs to this exchange alone and is closed exactly once.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>

#include "deadline.h"
#include "links.h"
#include "port_number.h"
#include "socket_wait.h"

namespace zolvane {
namespace {

constexpr Milliseconds kConnectLimit{3000};
constexpr Milliseconds kSendLimit{3000};
constexpr Milliseconds kReceiveLimit{3000};

class Socket {
public:
    explicit Socket(SOCKET socket) : socket_(socket) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        ::shutdown(socket_, SD_BOTH);
        ::closesocket(socket_);
    }
    SOCKET get() const { return socket_; }

private:
    SOCKET socket_;
};

// Dotted address first (with the classic inet_addr rules); anything that is not one, including
// "255.255.255.255" whose conversion cannot be told from a failure, goes to the resolver.
bool ResolveHost(const char* host, in_addr& address) {
    // Windows reads an empty name as this computer itself; an empty setting names no projector.
    if (*host == '\0') return false;
    const unsigned long dotted = ::inet_addr(host);
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

bool WouldBlock() { return ::WSAGetLastError() == WSAEWOULDBLOCK; }

bool Connect(SOCKET socket, const in_addr& address, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = address;
    to.sin_port = ::htons(port);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
    if (!WouldBlock()) return false;
    bool failed = false;
    if (WaitForSocket(socket, SocketWait::Writable, static_cast<int>(kConnectLimit.count()),
                      &failed) <= 0 ||
        failed) {
        return false;
    }
    int error = 0;
    int length = sizeof error;
    return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) ==
               0 &&
           error == 0;
}

ResultCode Send(SOCKET socket, const uint8_t* frame, std::size_t length) {
    const Deadline deadline(kSendLimit);
    std::size_t sent = 0;
    while (sent < length) {
        const int n = ::send(socket, reinterpret_cast<const char*>(frame + sent),
                             static_cast<int>(length - sent), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n == SOCKET_ERROR && !WouldBlock()) return ResultSendFailed;
        const int ready = WaitForSocket(socket, SocketWait::Writable, deadline.remainingMs());
        if (ready == 0) return ResultNetworkTimeout;
        if (ready < 0) return ResultSendFailed;
    }
    return ResultOk;
}

ResultCode Receive(SOCKET socket, uint8_t* reply, std::size_t replySize, std::size_t& received) {
    const Deadline deadline(kReceiveLimit);
    std::size_t wanted = 1;
    while (received < wanted) {
        const int n = ::recv(socket, reinterpret_cast<char*>(reply + received),
                             static_cast<int>(wanted - received), 0);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
            wanted = ExpectedReplyLength(reply[0]);
            if (wanted > replySize) wanted = replySize;
            continue;
        }
        if (n == 0) return ResultReceiveFailed;  // the projector closed before the reply was whole
        if (!WouldBlock()) return ResultReceiveFailed;
        const int ready = WaitForSocket(socket, SocketWait::Readable, deadline.remainingMs());
        if (ready == 0) return ResultNetworkTimeout;
        if (ready < 0) return ResultReceiveFailed;
    }
    return ResultOk;
}

}  // namespace

ResultCode NetworkExchange(const char* host, const char* port, const uint8_t* frame,
                           std::size_t frameLength, uint8_t* reply, std::size_t replySize,
                           std::size_t& received) {
    received = 0;
    in_addr address{};
    const SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle == INVALID_SOCKET) return ResultSocketFailed;
    Socket socket(handle);
    if (!ResolveHost(host, address)) return ResultHostNotFound;
    u_long nonBlocking = 1;
    if (::ioctlsocket(handle, FIONBIO, &nonBlocking) != 0) return ResultSocketFailed;
    if (!Connect(handle, address, ParsePortNumber(port))) return ResultConnectFailed;
    const BOOL noDelay = TRUE;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    if (const ResultCode sent = Send(handle, frame, frameLength); sent != ResultOk) return sent;
    return Receive(handle, reply, replySize, received);
}

}  // namespace zolvane
