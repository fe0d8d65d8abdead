#include "listeners.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

namespace zolvane::emulator {
namespace {

// Another program may take a port of a free run between two binds; then the run starts over.
constexpr int kRunAttempts = 64;

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

UniqueFd listenOn(const std::string& host, std::uint16_t port, std::string& error) {
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
        return {};
    }
    std::string reason = "no address for " + host;
    UniqueFd listener;
    for (const addrinfo* candidate = found; candidate != nullptr; candidate = candidate->ai_next) {
        listener = bindListener(*candidate, reason);
        if (listener.valid()) {
            break;
        }
    }
    ::freeaddrinfo(found);
    if (!listener.valid()) {
        error = "cannot listen on " + host + ":" + service + ": " + reason;
    }
    return listener;
}

// The whole run from first, or none of it.
std::vector<UniqueFd> listenOnRun(const std::string& host, std::uint16_t first, std::size_t count,
                                  std::string& error) {
    std::vector<UniqueFd> listeners;
    for (std::size_t i = 0; i < count; ++i) {
        UniqueFd listener = listenOn(host, static_cast<std::uint16_t>(first + i), error);
        if (!listener.valid()) {
            return {};
        }
        listeners.push_back(std::move(listener));
    }
    return listeners;
}

}  // namespace

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

std::vector<UniqueFd> listenOnPorts(const std::string& host, std::uint16_t firstPort,
                                    std::size_t count, std::string& error) {
    if (count == 0 || firstPort + count - 1 > 0xFFFF) {
        error = "no run of " + std::to_string(count) + " ports from " + std::to_string(firstPort);
        return {};
    }
    if (firstPort != 0) {
        return listenOnRun(host, firstPort, count, error);
    }
    if (count == 1) {
        return listenOnRun(host, 0, 1, error);
    }
    // Clients take their ports from the ephemeral range, so a run of free ports is sought just
    // below it, where nobody's connections come and go.
    unsigned ephemeralLow = 32768;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> ephemeralLow;
    const unsigned lowest = ephemeralLow > 16384 + 1024 ? ephemeralLow - 16384 : 1024;
    if (ephemeralLow <= lowest + count) {
        error = "no room for " + std::to_string(count) + " ports below the ephemeral range";
        return {};
    }
    std::minstd_rand random(std::random_device{}());
    std::uniform_int_distribution<unsigned> start(lowest, ephemeralLow - 1 - count);
    for (int attempt = 0; attempt < kRunAttempts; ++attempt) {
        std::vector<UniqueFd> run =
            listenOnRun(host, static_cast<std::uint16_t>(start(random)), count, error);
        if (!run.empty()) {
            return run;
        }
    }
    error = "found no run of " + std::to_string(count) + " free ports";
    return {};
}

}  // namespace zolvane::emulator
