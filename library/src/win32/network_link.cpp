// One command over one TCP connection. Every phase has its own deadline (name lookup and
// connect together, send, receive: by default 3000 ms each), kept with a non-blocking socket and
// select() instead of watchdog threads, so the socket belongs to this exchange alone and is
// closed exactly once.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>

#include "late_reply.h"
#include "network_endpoint.h"
#include "socket_wait.h"

namespace zolvane {
namespace {

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

// Runs on the lookup's helper thread, which may outlive the exchange: it holds a WinSock
// reference of its own for as long as it needs the socket layer.
bool ResolveName(const std::string& host, uint32_t& address) {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    const bool ok = FirstIPv4Address(host, address);
    ::WSACleanup();
    return ok;
}

bool WouldBlock() { return ::WSAGetLastError() == WSAEWOULDBLOCK; }

bool Connect(SOCKET socket, const Endpoint& to, const Deadline& deadline) {
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&to.address), to.length) == 0) {
        return true;
    }
    if (!WouldBlock()) return false;
    bool failed = false;
    if (WaitForSocket(socket, SocketWait::Writable, deadline.remainingMs(), &failed) <= 0 ||
        failed) {
        return false;
    }
    int error = 0;
    int length = sizeof error;
    return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) ==
               0 &&
           error == 0;
}

ResultCode Send(SOCKET socket, const uint8_t* frame, std::size_t length, Milliseconds limit) {
    const Deadline deadline(limit);
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

ResultCode Receive(SOCKET socket, uint8_t* reply, std::size_t replySize, std::size_t& received,
                   Milliseconds limit) {
    const Deadline deadline(limit);
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

// The projector behind an address and port; a serial-to-network bridge in front of one keeps
// forwarding a late reply to whoever connects next.
std::string LinkKey(const Endpoint& to) {
    if (to.address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(to.address);
        std::string key = "tcp6.";
        static const char kHex[] = "0123456789abcdef";
        for (int i = 0; i < 16; ++i) {
            key += kHex[v6.sin6_addr.s6_addr[i] >> 4];
            key += kHex[v6.sin6_addr.s6_addr[i] & 0xF];
        }
        return key + "." + std::to_string(::ntohs(v6.sin6_port));
    }
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(to.address);
    const uint32_t a = ::ntohl(v4.sin_addr.s_addr);
    return "tcp." + std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 0xFF) + "." +
           std::to_string(a >> 8 & 0xFF) + "." + std::to_string(a & 0xFF) + "." +
           std::to_string(::ntohs(v4.sin_port));
}

int DiscardInput(SOCKET socket, int ms) {
    const int ready = WaitForSocket(socket, SocketWait::Readable, ms);
    if (ready <= 0) return ready;
    char sink[kReplyBufferSize];
    const int n = ::recv(socket, sink, sizeof sink, 0);
    if (n > 0) return n;
    if (n == SOCKET_ERROR && WouldBlock()) return 0;
    return -1;  // closed or failed: no reply can come on this connection
}

}  // namespace

// Pinned: the module is never unloaded, whatever FreeLibrary calls follow.
void KeepLibraryLoaded() {
    HMODULE self = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCWSTR>(&KeepLibraryLoaded), &self);
}

ResultCode NetworkExchange(const NetworkTarget& target, const LinkTimes& times,
                           const uint8_t* frame, std::size_t frameLength, uint8_t* reply,
                           std::size_t replySize, std::size_t& received) {
    received = 0;
    const SOCKET handle = ::socket(target.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle == INVALID_SOCKET) return ResultSocketFailed;
    Socket socket(handle);
    const Deadline connectDeadline(times.connect);
    Endpoint to;
    if (!ResolveEndpoint(target, connectDeadline, ResolveName, to)) {
        return ResultHostNotFound;
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(handle, FIONBIO, &nonBlocking) != 0) return ResultSocketFailed;
    if (!Connect(handle, to, connectDeadline)) return ResultConnectFailed;
    const BOOL noDelay = TRUE;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);

    const std::string key = LinkKey(to);
    if (const Milliseconds left = LateReplyWindowLeft(key); left.count() > 0) {
        if (!DrainLateReply(left, [handle](int ms) { return DiscardInput(handle, ms); })) {
            return ResultReceiveFailed;
        }
    }
    ResultCode result = Send(handle, frame, frameLength, times.send);
    if (result == ResultOk) result = Receive(handle, reply, replySize, received, times.receive);
    if (result != ResultOk) NoteUnansweredExchange(key);
    return result;
}

}  // namespace zolvane
