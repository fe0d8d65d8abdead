// One exchange's bytes for the HTTP server: the request as the gate read it, the answer
// straight to the client's socket, or through its TLS session.
#pragma once

#include <httplib.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>

#include "http/gate.h"
#include "http/tls.h"

namespace zolvane::service::http {

// A request's bytes from the gate, which read them all already; the answer straight to the
// socket, each write given a time before the client counts as gone.
class ExchangeStream final : public httplib::Stream {
public:
    ExchangeStream(const Exchange& exchange, std::chrono::milliseconds writeTime)
        : exchange_(exchange), writeTime_(writeTime) {}

    bool is_readable() const override { return at_ < exchange_.request.size(); }
    bool is_writable() const override { return waitFor(POLLOUT, writeTime_); }
    ssize_t read(char* into, std::size_t size) override {
        const std::size_t n = std::min(size, exchange_.request.size() - at_);
        std::memcpy(into, exchange_.request.data() + at_, n);
        at_ += n;
        return static_cast<ssize_t>(n);
    }
    // Through the connection's TLS session when it has one; its write that waits for the socket
    // is offered the same bytes again once the socket is ready.
    ssize_t write(const char* from, std::size_t size) override {
        const auto deadline = std::chrono::steady_clock::now() + writeTime_;
        std::size_t done = 0;
        while (done < size) {
            short ready = POLLOUT;
            if (exchange_.tls) {
                const TlsStep step = tlsWrite(exchange_.tls, from + done, size - done);
                if (step.outcome == TlsStep::Outcome::Done) {
                    done += step.bytes;
                    continue;
                }
                if (step.outcome == TlsStep::Outcome::WantRead) {
                    ready = POLLIN;
                } else if (step.outcome != TlsStep::Outcome::WantWrite) {
                    return -1;
                }
            } else {
                const ssize_t n =
                    ::send(exchange_.socket, from + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return -1;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !waitFor(ready, left)) return -1;
        }
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = exchange_.peer;
        port = exchange_.peerPort;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = exchange_.local;
        port = exchange_.localPort;
    }
    // The server refuses a socket at or above FD_SETSIZE, for its own select(); nothing selects
    // on this one, so such a number is not given it.
    socket_t socket() const override {
        return exchange_.socket < FD_SETSIZE ? exchange_.socket : INVALID_SOCKET;
    }

private:
    bool waitFor(short events, std::chrono::milliseconds wait) const {
        pollfd ready{exchange_.socket, events, 0};
        int n = 0;
        while ((n = ::poll(&ready, 1, static_cast<int>(wait.count()))) < 0 && errno == EINTR) {
        }
        return n > 0 && (ready.revents & events) && !(ready.revents & (POLLERR | POLLHUP));
    }

    const Exchange& exchange_;
    const std::chrono::milliseconds writeTime_;
    std::size_t at_ = 0;
};

// Whether the client of a socket hung up or shut its side.
inline bool hungUp(int socket) {
    pollfd state{socket, POLLRDHUP, 0};
    return ::poll(&state, 1, 0) > 0 && (state.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

}  // namespace zolvane::service::http
