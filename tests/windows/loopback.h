// Loopback helpers for the Windows tests: WinSock held for the test's own sockets, a port that
// nobody listens on, and the time a call takes.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>

#include <chrono>
#include <cstdint>

namespace windows_tests {

// The test's own WinSock reference, apart from the library's.
class WinSock {
public:
    WinSock() {
        WSADATA data{};
        started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinSock() {
        if (started_) ::WSACleanup();
    }
    WinSock(const WinSock&) = delete;
    WinSock& operator=(const WinSock&) = delete;
    bool started() const { return started_; }

private:
    bool started_ = false;
};

// A loopback port with nobody listening: bound once to find a free one, then closed again.
inline uint16_t ClosedPort() {
    WinSock winsock;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::closesocket(s);
    return ::ntohs(address.sin_port);
}

// Milliseconds taken by f().
template <typename F>
long long Elapsed(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace windows_tests
