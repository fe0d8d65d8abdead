// A select() on one socket, bounded by a time-out.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>

namespace zolvane {

enum class SocketWait { Readable, Writable };

// 1 when the socket is ready, 0 when timeoutMs passed first, -1 on error. `failed` (optional)
// reports the exception set, where Windows signals a connect that did not succeed.
inline int WaitForSocket(SOCKET socket, SocketWait what, int timeoutMs, bool* failed = nullptr) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket, &ready);
    fd_set exceptions;
    FD_ZERO(&exceptions);
    FD_SET(socket, &exceptions);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    // The first argument is ignored by WinSock; a socket is not a small integer here.
    const int n = ::select(0, what == SocketWait::Readable ? &ready : nullptr,
                           what == SocketWait::Writable ? &ready : nullptr,
                           failed != nullptr ? &exceptions : nullptr, &limit);
    if (n == SOCKET_ERROR) return -1;
    if (n == 0) return 0;
    if (failed != nullptr) *failed = FD_ISSET(socket, &exceptions) != 0;
    return 1;
}

}  // namespace zolvane
