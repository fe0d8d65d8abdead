#include "pjlink_server.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>

#include "zolvane_fleet/pjlink_hash.h"

namespace zolvane::emulator {
namespace {

// Epoll tags: listeners carry their projector's index under kListenerTag, the wake-up event
// kWakeTag, and connections their id (below both).
constexpr std::uint64_t kListenerTag = std::uint64_t{1} << 63;
constexpr std::uint64_t kWakeTag = std::uint64_t{1} << 62;

constexpr std::size_t kHashLength = 32;
// Received bytes held while an answer is waiting; reading pauses beyond it.
constexpr std::size_t kInputLimit = 2048;
// The longest run without a CR that can still become a line: a hash, a command and an LF.
constexpr std::size_t kLineLimit = kHashLength + kPjlinkMaxLine + 1;

const std::string kGarbage = "\x55\xAA garbage\r";
const std::string kOverlong(300, 'A');
// A power query in our own binary framing, which no PJLink client can read.
const std::string kBinaryFrame("\xBE\xEF\x03\x06\x00\x2B\x7F\x02\x00\x00\x60\x00\x00", 13);

bool isLowerHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

struct PjlinkServer::Connection {
    std::uint64_t id = 0;
    std::size_t projector = 0;
    UniqueFd fd;
    std::string input;
    std::string output;
    // The random of the greeting while the hash is still due; empty without a password.
    std::string challenge;
    bool authenticated = true;
    bool closeAfterOutput = false;
    // An answer held back by the delay until answerAt.
    std::optional<PjlinkClock::time_point> answerAt;
    std::string held;
    bool closeAfterHeld = false;
    PjlinkClock::time_point lastActive{};
    PjlinkClock::time_point scheduled = PjlinkClock::time_point::max();
    std::uint32_t events = 0;

    bool busy() const { return answerAt.has_value() || !output.empty(); }
};

PjlinkServer::PjlinkServer(const PjlinkOptions& options, PjlinkShared& shared,
                           std::vector<UniqueFd> listeners)
    : options_(options),
      shared_(shared),
      listeners_(std::move(listeners)),
      random_(std::random_device{}()) {}

PjlinkServer::~PjlinkServer() = default;

bool PjlinkServer::open(std::string& error) {
    epoll_.reset(::epoll_create1(EPOLL_CLOEXEC));
    wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    reserve_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!epoll_.valid() || !wake_.valid()) {
        error = std::string("epoll: ") + std::strerror(errno);
        return false;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeTag;
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &event);
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
        event.data.u64 = kListenerTag | i;
        if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, listeners_[i].get(), &event) != 0) {
            error = std::string("epoll: ") + std::strerror(errno);
            return false;
        }
    }
    return true;
}

void PjlinkServer::stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake_.get(), &one, sizeof one);
}

void PjlinkServer::run() {
    std::array<epoll_event, 256> events{};
    for (;;) {
        int timeout = -1;
        if (!deadlines_.empty()) {
            const auto wait = deadlines_.begin()->first - PjlinkClock::now();
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, 60'000));
        }
        const int ready = ::epoll_wait(epoll_.get(), events.data(), events.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        for (int i = 0; i < ready; ++i) {
            const std::uint64_t tag = events[i].data.u64;
            if (tag == kWakeTag) {
                return;
            }
            if ((tag & kListenerTag) != 0) {
                accept(static_cast<std::size_t>(tag & ~kListenerTag));
                continue;
            }
            // An earlier event of this round may have closed it.
            const auto found = connections_.find(tag);
            if (found == connections_.end()) {
                continue;
            }
            Connection& connection = *found->second;
            if ((events[i].events & EPOLLOUT) != 0 && !flush(connection)) {
                continue;
            }
            if ((events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0) {
                receive(connection);
            }
        }
        expire(PjlinkClock::now());
    }
}

void PjlinkServer::accept(std::size_t projector) {
    for (;;) {
        UniqueFd fd(
            ::accept4(listeners_[projector].get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.valid()) {
            if ((errno == EMFILE || errno == ENFILE) && reserve_.valid()) {
                reserve_.reset();
                UniqueFd refused(::accept(listeners_[projector].get(), nullptr, nullptr));
                refused.reset();
                reserve_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
                continue;
            }
            return;
        }
        auto connection = std::make_unique<Connection>();
        connection->id = nextId_++;
        connection->projector = projector;
        connection->fd = std::move(fd);
        connection->lastActive = PjlinkClock::now();
        PjlinkFault fault = PjlinkFault::None;
        {
            const std::lock_guard lock(shared_.mutex);
            PjlinkProjector& state = shared_.projectors[projector];
            ++state.connectionsAccepted;
            fault = state.fault;
        }
        if (!options_.password.empty()) {
            char random[9];
            std::snprintf(random, sizeof random, "%08x", static_cast<unsigned>(random_()));
            connection->challenge = random;
            connection->authenticated = false;
        }
        if (fault != PjlinkFault::Silent) {
            connection->output = options_.password.empty()
                                     ? std::string("PJLINK 0\r")
                                     : "PJLINK 1 " + connection->challenge + "\r";
            log(projector, ">", connection->output);
        }
        Connection& added = *connection;
        connections_.emplace(added.id, std::move(connection));
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = added.id;
        added.events = EPOLLIN;
        if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, added.fd.get(), &event) != 0) {
            close(added);
            continue;
        }
        if (flush(added)) {
            reschedule(added);
        }
    }
}

void PjlinkServer::receive(Connection& connection) {
    std::array<char, 4096> buffer{};
    const std::size_t room = kInputLimit - std::min(kInputLimit, connection.input.size());
    const ssize_t got = ::recv(connection.fd.get(), buffer.data(),
                               std::max<std::size_t>(1, std::min(room, buffer.size())), 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        close(connection);
        return;
    }
    if (got < 0) {
        return;
    }
    connection.input.append(buffer.data(), static_cast<std::size_t>(got));
    connection.lastActive = PjlinkClock::now();
    if (serve(connection)) {
        reschedule(connection);
    }
}

bool PjlinkServer::serve(Connection& connection) {
    while (!connection.busy()) {
        const std::size_t end = connection.input.find('\r');
        if (end == std::string::npos) {
            if (connection.input.size() > kLineLimit) {
                close(connection);
                return false;
            }
            break;
        }
        std::string line = connection.input.substr(0, end);
        connection.input.erase(0, end + 1);
        if (!handleLine(connection, std::move(line))) {
            return false;
        }
    }
    watch(connection);
    return true;
}

bool PjlinkServer::handleLine(Connection& connection, std::string line) {
    // The LF of a CR LF ending arrives at the start of the next line.
    if (!line.empty() && line.front() == '\n') {
        line.erase(0, 1);
    }
    bool refused = false;
    if (!connection.authenticated) {
        const bool hashed = line.size() >= kHashLength && isLowerHex(line.substr(0, kHashLength));
        refused = !hashed ||
                  line.compare(0, kHashLength,
                               fleet::pjlinkHash(connection.challenge, options_.password)) != 0;
        if (hashed) {
            line.erase(0, kHashLength);
        }
        connection.authenticated = !refused;
    }
    log(connection.projector, "<", line);

    const auto now = PjlinkClock::now();
    std::string answer;
    std::chrono::milliseconds delay{0};
    bool closeAfter = false;
    {
        const std::lock_guard lock(shared_.mutex);
        PjlinkProjector& projector = shared_.projectors[connection.projector];
        projector.record(line);
        shared_.linesChanged.notify_all();
        const PjlinkFault fault = projector.fault;
        delay = projector.delay;
        if (fault == PjlinkFault::Silent) {
            return true;
        }
        if (fault == PjlinkFault::CloseEarly || line.size() > kPjlinkMaxLine) {
            close(connection);
            return false;
        }
        if (refused) {
            answer = "PJLINK ERRA\r";
            closeAfter = true;
        } else {
            const std::optional<std::string> reply = pjlinkAnswer(projector, line, now);
            if (!reply) {
                close(connection);
                return false;
            }
            closeAfter = fault == PjlinkFault::CloseAfterOne;
            answer = fault == PjlinkFault::Garbage    ? kGarbage
                     : fault == PjlinkFault::Overlong ? kOverlong
                     : fault == PjlinkFault::Binary   ? kBinaryFrame
                                                      : *reply + "\r";
        }
    }
    if (delay.count() > 0) {
        connection.answerAt = now + delay;
        connection.held = std::move(answer);
        connection.closeAfterHeld = closeAfter;
        return true;
    }
    connection.output = std::move(answer);
    connection.closeAfterOutput = closeAfter;
    log(connection.projector, ">", connection.output);
    return flush(connection);
}

bool PjlinkServer::flush(Connection& connection) {
    while (!connection.output.empty()) {
        const ssize_t sent = ::send(connection.fd.get(), connection.output.data(),
                                    connection.output.size(), MSG_NOSIGNAL);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            watch(connection);
            return true;
        }
        if (sent < 0) {
            close(connection);
            return false;
        }
        connection.output.erase(0, static_cast<std::size_t>(sent));
    }
    if (connection.closeAfterOutput) {
        close(connection);
        return false;
    }
    connection.lastActive = PjlinkClock::now();
    // Lines that came while the answer was on its way are handled now.
    return serve(connection);
}

void PjlinkServer::watch(Connection& connection) {
    std::uint32_t wanted = 0;
    if (connection.input.size() < kInputLimit) {
        wanted |= EPOLLIN;
    }
    if (!connection.output.empty()) {
        wanted |= EPOLLOUT;
    }
    if (wanted != connection.events) {
        epoll_event event{};
        event.events = wanted;
        event.data.u64 = connection.id;
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, connection.fd.get(), &event);
        connection.events = wanted;
    }
}

void PjlinkServer::reschedule(Connection& connection) {
    auto next = PjlinkClock::time_point::max();
    if (options_.idleTimeout.count() > 0) {
        next = connection.lastActive + options_.idleTimeout;
    }
    if (connection.answerAt) {
        next = std::min(next, *connection.answerAt);
    }
    if (next == connection.scheduled) {
        return;
    }
    if (connection.scheduled != PjlinkClock::time_point::max()) {
        deadlines_.erase({connection.scheduled, connection.id});
    }
    connection.scheduled = next;
    if (next != PjlinkClock::time_point::max()) {
        deadlines_.insert({next, connection.id});
    }
}

void PjlinkServer::expire(PjlinkClock::time_point now) {
    while (!deadlines_.empty() && deadlines_.begin()->first <= now) {
        const std::uint64_t id = deadlines_.begin()->second;
        deadlines_.erase(deadlines_.begin());
        Connection& connection = *connections_.at(id);
        connection.scheduled = PjlinkClock::time_point::max();
        if (connection.answerAt && *connection.answerAt <= now) {
            connection.answerAt.reset();
            connection.output = std::move(connection.held);
            connection.closeAfterOutput = connection.closeAfterHeld;
            log(connection.projector, ">", connection.output);
            if (flush(connection)) {
                reschedule(connection);
            }
            continue;
        }
        if (options_.idleTimeout.count() > 0 &&
            connection.lastActive + options_.idleTimeout <= now) {
            close(connection);
            continue;
        }
        reschedule(connection);
    }
}

void PjlinkServer::close(Connection& connection) {
    if (connection.scheduled != PjlinkClock::time_point::max()) {
        deadlines_.erase({connection.scheduled, connection.id});
    }
    // Closing the descriptor takes it out of the epoll set.
    connections_.erase(connection.id);
}

void PjlinkServer::log(std::size_t projector, const char* direction,
                       const std::string& bytes) const {
    if (!options_.verbose) {
        return;
    }
    std::string shown;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            shown += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        }
    }
    std::cerr << "pjlink " << projector << ' ' << direction << ' ' << shown << '\n';
}

}  // namespace zolvane::emulator
