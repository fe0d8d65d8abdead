#include "listening_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zolvane::service {

int listenOn(const std::string& host, std::uint16_t port, std::string* why) {
    const std::string service = std::to_string(port);
    const auto failed = [&](const char* what) {
        if (why) *why = "cannot listen on " + host + ":" + service + ": " + what;
        return -1;
    };
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (const int error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found)) {
        return failed(::gai_strerror(error));
    }
    int listening = -1;
    int error = 0;
    for (const addrinfo* at = found; at != nullptr && listening < 0; at = at->ai_next) {
        const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            continue;
        }
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, at->ai_addr, at->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
            listening = fd;
        } else {
            error = errno;
            ::close(fd);
        }
    }
    ::freeaddrinfo(found);
    return listening >= 0 ? listening : failed(std::strerror(error));
}

std::uint16_t boundPort(int socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return 0;
}

}  // namespace zolvane::service
