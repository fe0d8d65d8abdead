#include "tcp_server.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "reply_sender.h"

namespace zolvane::emulator {
namespace {

std::uint16_t boundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

UniqueFd bindListener(const addrinfo& candidate, std::string& error) {
    UniqueFd fd(::socket(candidate.ai_family, candidate.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                         candidate.ai_protocol));
    if (!fd.valid()) {
        error = std::string("socket: ") + std::strerror(errno);
        return {};
    }
    // A test run that restarts the emulator on a fixed port must not wait for TIME_WAIT.
    const int yes = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd.get(), candidate.ai_addr, candidate.ai_addrlen) != 0) {
        error = std::string("bind: ") + std::strerror(errno);
        return {};
    }
    if (::listen(fd.get(), SOMAXCONN) != 0) {
        error = std::string("listen: ") + std::strerror(errno);
        return {};
    }
    return fd;
}

}  // namespace

TcpServer::TcpServer(FrameHandler handler, const StopSignal& stop)
    : handler_(std::move(handler)), stop_(stop) {}

TcpServer::~TcpServer() { join(); }

bool TcpServer::listen(const std::string& host, std::uint16_t port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int status =
        ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
    if (status != 0) {
        error = "cannot resolve " + host + ": " + ::gai_strerror(status);
        return false;
    }
    std::string reason = "no address for " + host;
    for (const addrinfo* candidate = found; candidate != nullptr; candidate = candidate->ai_next) {
        listener_ = bindListener(*candidate, reason);
        if (listener_.valid()) {
            break;
        }
    }
    ::freeaddrinfo(found);
    if (!listener_.valid()) {
        error = "cannot listen on " + host + ":" + service + ": " + reason;
        return false;
    }
    port_ = boundPort(listener_.get());
    return true;
}

void TcpServer::start() {
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

void TcpServer::join() {
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    for (auto& connection : connections_) {
        connection->thread.join();
    }
    connections_.clear();
    listener_.reset();
}

void TcpServer::acceptLoop() {
    while (stop_.waitFor(listener_.get(), POLLIN) == WaitResult::Ready) {
        joinFinishedConnections();
        UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!client.valid()) {
            // Out of descriptors or a client that gave up: try again shortly, not in a spin.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                stop_.pause(std::chrono::milliseconds{10});
            }
            continue;
        }
        const int yes = 1;
        ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        auto& connection = connections_.emplace_back(std::make_unique<Connection>());
        connection->thread = std::thread(
            [this, socket = std::move(client), finished = &connection->finished]() mutable {
                serve(std::move(socket));
                finished->store(true);
            });
    }
}

void TcpServer::serve(UniqueFd socket) {
    RawFrame frame{};
    std::size_t received = 0;
    while (stop_.waitFor(socket.get(), POLLIN) == WaitResult::Ready) {
        const ssize_t count =
            ::recv(socket.get(), frame.data() + received, frame.size() - received, 0);
        if (count == 0) {
            return;  // the client is done; an unfinished frame goes with it
        }
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            return;
        }
        received += static_cast<std::size_t>(count);
        if (received < frame.size()) {
            continue;
        }
        received = 0;
        if (!sendReply(socket.get(), LinkKind::Socket, handler_(frame), stop_)) {
            return;
        }
    }
}

void TcpServer::joinFinishedConnections() {
    for (auto it = connections_.begin(); it != connections_.end();) {
        if ((*it)->finished.load()) {
            (*it)->thread.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace zolvane::emulator
