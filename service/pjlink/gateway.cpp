#include "pjlink/gateway.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "listening_socket.h"
#include "log.h"
#include "pjlink/protocol.h"
#include "zolvane_fleet/pjlink_address.h"
#include "zolvane_fleet/pjlink_hash.h"

namespace zolvane::service::pjlink {
namespace {

using Clock = std::chrono::steady_clock;

// A controller may send ahead of its answers, but what it sent is read only as fast as it reads
// the answers: past these the gateway stops reading from it, and TCP holds the controller back.
constexpr std::size_t kMaxPending = 4096;  // answers not yet taken by the socket
constexpr std::size_t kMaxWaiting = 8192;  // bytes of lines read but not yet answered

// Failed authentications slow down the address they come from, not others: its next hash is
// looked at only after a delay that doubles with each failure in a row past the first few,
// up to a bound. The connections waiting hold no thread, and the delay comes before the hash
// is checked, so how long an answer takes says nothing of whether the hash was right.
constexpr unsigned kFreeFailures = 3;
constexpr auto kFirstDelay = std::chrono::milliseconds(250);
constexpr auto kMaxDelay = std::chrono::milliseconds(5000);
constexpr auto kForgetFailures = std::chrono::minutes(10);  // without one, the count restarts
constexpr std::size_t kMaxPeers = 1024;                     // addresses remembered at once
// One failed authentication is logged as it happens; those that follow it within this time
// are counted, and the count logged when it is over, so that guessing cannot flood the log.
constexpr auto kFailureReport = std::chrono::seconds(10);

std::chrono::milliseconds delayAfter(unsigned failures) {
    if (failures <= kFreeFailures) return std::chrono::milliseconds(0);
    const unsigned doublings = std::min(failures - kFreeFailures - 1, 8u);
    return std::min<std::chrono::milliseconds>(kFirstDelay * (1u << doublings), kMaxDelay);
}

std::string randomHex() {
    static std::mutex mutex;
    static std::random_device device;
    std::lock_guard lock(mutex);
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(device()));
    return text;
}

std::string peerOf(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "?";
    unsigned port = 0;
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        port = ntohs(in->sin_port);
        return std::string(host) + ":" + std::to_string(port);
    }
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6->sin6_port));
}

// Where failed authentications are counted: the IPv4 address, or the /64 of an IPv6 one, the
// least a single host on a network of its own holds.
std::string addressOf(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, host,
                    sizeof host);
        return host;
    }
    in6_addr in6 = reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&in6)) {
        ::inet_ntop(AF_INET, &in6.s6_addr[12], host, sizeof host);
        return host;
    }
    std::fill(std::begin(in6.s6_addr) + 8, std::end(in6.s6_addr), 0);
    ::inet_ntop(AF_INET6, &in6, host, sizeof host);
    return std::string(host) + "/64";
}

// The first line of the file, at most 32 characters as PJLink allows.
std::optional<std::string> readPassword(const std::string& file, std::string* why) {
    std::ifstream in(file);
    std::string line;
    if (!in) {
        *why = "the PJLink password file " + file + " cannot be read";
        return {};
    }
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.size() > 32) {
        *why = "the PJLink password in " + file + " must be 1 to 32 characters";
        return {};
    }
    return line;
}

struct Gateway {
    Port port;
    int fd = -1;
    fleet::QueueRef queue;
    std::optional<std::string> password;
    Identity who;
    std::size_t connections = 0;
};

struct Connection {
    std::uint64_t id = 0;
    int fd = -1;
    std::size_t gateway = 0;
    std::string peer;
    std::string address;  // addressOf the peer
    Session session;
    std::string in;
    std::string out;
    bool busy = false;     // a command is running; the lines behind it wait
    bool held = false;     // its hash waits for its address to be let try again
    bool ended = false;    // the client sent all it will (it shut its side down)
    bool closing = false;  // closed once out is sent
    Clock::time_point lastLine;
};

// Failed authentications from one address.
struct Peer {
    unsigned failures = 0;  // in a row: a success or kForgetFailures without one restarts it
    Clock::time_point lastFailure{};
    Clock::time_point retry{};   // no hash from it is looked at before
    std::size_t unreported = 0;  // failures not in the log yet
};

// The commands of one line, run one after another on the projector's queue.
struct Job {
    std::uint64_t connection = 0;
    fleet::QueueRef queue;
    std::string header;  // "%1AVMT="
    std::vector<fleet::Command> commands;
    std::size_t next = 0;  // the command the queue runs now
    std::string who;       // "pjlink hall-a: AVMT 31 from 10.0.0.9:50212", for the log
};

// A command of a job that the queue has run, for the loop to carry on with.
struct Done {
    std::uint64_t job;
    fleet::CommandResult result;
};

// Turning clients away or closing them for newcomers is told at most this often, with counts,
// so that a crowd cannot flood the log.
constexpr auto kCrowdingReport = std::chrono::seconds(10);

}  // namespace

class Gateways::Impl {
public:
    Impl(fleet::Fleet& fleet, const fleet::Inventory& inventory, Settings settings,
         std::chrono::milliseconds idle, Limits limits)
        : fleet_(fleet), limits_(limits), next_{inventory, std::move(settings), {}, idle} {}

    bool start(const std::string& host, std::string* why) {
        next_.host = host;
        idle_ = next_.idle;
        for (const Port& port : next_.settings.ports) {
            Gateway gateway;
            if (!prepare(port, gateway, why)) return closeAll();
            gateway.fd = listenOn(host, port.number, why);
            if (gateway.fd < 0) {
                *why = "pjlink: " + *why;
                return closeAll();
            }
            listening(gateway, host);
            gateways_.push_back(std::move(gateway));
        }
        host_ = host;
        if (gateways_.empty()) return true;
        return startLoop(why) || closeAll();
    }

    // Applied on the loop's thread, between two polls, while this one waits.
    void reload(const fleet::Inventory& inventory, Settings settings, const std::string& host,
                std::chrono::milliseconds idle) {
        std::unique_lock lock(mutex_);
        next_ = {inventory, std::move(settings), host, idle};
        if (!thread_.joinable()) {
            // Not serving yet: nothing runs beside this thread.
            apply();
            std::string why;
            if (!gateways_.empty() && !startLoop(&why)) log(Level::Error, "reload: " + why);
            return;
        }
        reloading_ = true;
        wake();
        reloaded_.wait(lock, [this] { return !reloading_ || loopEnded_; });
        reloading_ = false;
    }

    void stop() {
        if (thread_.joinable()) {
            stopping_ = true;
            wake();
            thread_.join();
        }
        // Commands still on a queue call back into this object; wait for the last of them.
        {
            std::unique_lock lock(mutex_);
            settled_.wait(lock, [this] { return inFlight_ == 0; });
        }
        jobs_.clear();
        done_.clear();
        for (auto& [id, connection] : connections_) ::close(connection.fd);
        connections_.clear();
        closeAll();
    }

    std::size_t count() const { return gateways_.size(); }

private:
    // What a reload asks for; under mutex_ until the loop has taken it.
    struct Reading {
        fleet::Inventory inventory;
        Settings settings;
        std::string host;
        std::chrono::milliseconds idle;
    };

    bool startLoop(std::string* why) {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
            *why = std::string("pjlink: pipe: ") + strerror(errno);
            return false;
        }
        wakeRead_ = pipeFds[0];
        wakeWrite_ = pipeFds[1];
        thread_ = std::thread([this] { loop(); });
        return true;
    }

    // A gateway for port as next_ reads it, not yet listening; false with why when its
    // password file cannot be read.
    bool prepare(const Port& port, Gateway& gateway, std::string* why) const {
        const fleet::ProjectorEntry* entry = next_.inventory.find(port.projector);
        gateway.port = port;
        gateway.queue = fleet_.find(port.projector);
        if (entry == nullptr || gateway.queue == nullptr) {
            *why = "pjlink " + port.projector + ": not in the fleet";
            return false;
        }
        if (fleet::isPjlinkAddress(entry->address)) {
            *why = "pjlink " + port.projector + ": a PJLink projector itself, not served";
            return false;
        }
        gateway.who.name = entry->label;
        gateway.who.info = std::string("zolvaned ") + ZOLVANE_VERSION + " " + entry->name;
        if (port.passwordFile.empty()) return true;
        gateway.password = readPassword(port.passwordFile, why);
        return gateway.password.has_value();
    }

    static void listening(const Gateway& gateway, const std::string& host) {
        log(Level::Info, "pjlink " + gateway.port.projector + ": listening on " +
                             (host.find(':') == std::string::npos ? host : "[" + host + "]") + ":" +
                             std::to_string(gateway.port.number) +
                             (gateway.password ? " with a password" : ""));
    }

    // On the loop's thread (or before it runs), under mutex_: next_ in place of what is served.
    // A port kept (same number, same host) keeps its listening socket and, while it speaks for
    // the same projector, its connections, which go on with the projector's queue as the fleet
    // has it now; its identity and password apply from the next connection and line on. A port
    // no longer asked for closes with its connections; a new one that cannot be opened is
    // logged and left out.
    void apply() {
        constexpr std::size_t kNone = static_cast<std::size_t>(-1);
        std::vector<std::size_t> from(next_.settings.ports.size(), kNone);  // the old gateway
        std::vector<std::size_t> to(gateways_.size(), kNone);  // where its connections go
        for (std::size_t n = 0; n < from.size() && next_.host == host_; ++n) {
            for (std::size_t g = 0; g < gateways_.size(); ++g) {
                if (gateways_[g].port.number == next_.settings.ports[n].number) from[n] = g;
            }
        }
        std::vector<bool> kept(gateways_.size(), false);
        for (const std::size_t g : from) {
            if (g != kNone) kept[g] = true;
        }
        for (std::size_t g = 0; g < gateways_.size(); ++g) {
            if (kept[g]) continue;
            ::close(gateways_[g].fd);
            log(Level::Info, "pjlink " + gateways_[g].port.projector + ": port " +
                                 std::to_string(gateways_[g].port.number) + " closed");
        }
        std::vector<Gateway> next;
        for (std::size_t n = 0; n < from.size(); ++n) {
            const Port& port = next_.settings.ports[n];
            Gateway gateway;
            std::string why;
            const bool ready = prepare(port, gateway, &why);
            if (from[n] != kNone) {
                Gateway& old = gateways_[from[n]];
                if (gateway.queue == nullptr) {
                    log(Level::Error, "reload: " + why);
                    ::close(old.fd);
                    continue;
                }
                if (!ready) {
                    log(Level::Error, "reload: " + why + "; port " + std::to_string(port.number) +
                                          " keeps its password");
                    gateway.password = old.password;
                }
                gateway.fd = std::exchange(old.fd, -1);
                if (old.port.projector == port.projector) {
                    gateway.connections = old.connections;
                    to[from[n]] = next.size();
                }
            } else {
                if (!ready) {
                    log(Level::Error,
                        "reload: " + why + "; port " + std::to_string(port.number) + " not opened");
                    continue;
                }
                gateway.fd = listenOn(next_.host, port.number, &why);
                if (gateway.fd < 0) {
                    log(Level::Error, "reload: pjlink " + port.projector + ": " + why);
                    continue;
                }
                listening(gateway, next_.host);
            }
            next.push_back(std::move(gateway));
        }
        for (auto& [id, c] : connections_) {
            if (c.fd < 0) continue;
            if (to[c.gateway] != kNone) {
                c.gateway = to[c.gateway];
                continue;
            }
            ::close(c.fd);
            c.fd = -1;
        }
        gateways_ = std::move(next);
        host_ = next_.host;
        idle_ = next_.idle;
    }

    bool closeAll() {
        for (Gateway& gateway : gateways_) {
            if (gateway.fd >= 0) ::close(gateway.fd);
        }
        gateways_.clear();
        for (int* fd : {&wakeRead_, &wakeWrite_}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
        return false;
    }

    void wake() {
        const char byte = 1;
        [[maybe_unused]] const auto ignored = ::write(wakeWrite_, &byte, 1);
    }

    const std::string& nameOf(const Connection& c) const {
        return gateways_[c.gateway].queue->entry().name;
    }

    void loop() {
        std::vector<pollfd> fds;
        std::vector<std::uint64_t> ids;  // the connection of each entry of fds past the others
        while (!stopping_) {
            {
                std::lock_guard lock(mutex_);
                if (reloading_) {
                    try {
                        apply();
                    } catch (const std::exception& e) {
                        log(Level::Error, std::string("reload: pjlink: ") + e.what());
                    }
                    reloading_ = false;
                    reloaded_.notify_all();
                }
            }
            fds.clear();
            ids.clear();
            fds.push_back({wakeRead_, POLLIN, 0});
            // Past the caps the listeners still accept, to say no and close; out of descriptors
            // they rest a while instead of waking the loop again and again.
            const bool resting = Clock::now() < restUntil_;
            for (const Gateway& gateway : gateways_) {
                fds.push_back({gateway.fd, static_cast<short>(resting ? 0 : POLLIN), 0});
            }
            Clock::time_point wakeAt = Clock::time_point::max();
            for (auto& [id, c] : connections_) {
                if (c.fd < 0) continue;
                short events = 0;
                if (!c.closing && !c.ended && c.in.size() < kMaxWaiting &&
                    c.out.size() < kMaxPending) {
                    events |= POLLIN;
                }
                if (!c.out.empty()) events |= POLLOUT;
                fds.push_back({c.fd, events, 0});
                ids.push_back(id);
                if (c.held) {
                    wakeAt = std::min(wakeAt, retryOf(c));
                } else if (!c.busy) {
                    wakeAt = std::min(wakeAt, c.lastLine + idle_);
                }
            }
            if (resting) wakeAt = std::min(wakeAt, restUntil_);
            if (failuresUnreported_ > 0) {
                wakeAt = std::min(wakeAt, failuresReported_ + kFailureReport);
            }
            int timeout = -1;
            if (wakeAt != Clock::time_point::max()) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - Clock::now());
                timeout = static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 60000));
            }
            if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
                log(Level::Error, std::string("pjlink: poll: ") + strerror(errno));
                std::lock_guard lock(mutex_);
                loopEnded_ = true;
                reloaded_.notify_all();
                return;
            }
            if (fds[0].revents & POLLIN) {
                char sink[256];
                while (::read(wakeRead_, sink, sizeof sink) > 0) {
                }
            }
            // Nothing a client sends may end the loop: whatever goes wrong with one connection
            // closes that one.
            try {
                collect();
            } catch (const std::exception& e) {
                log(Level::Error, std::string("pjlink: ") + e.what());
            }
            for (std::size_t i = 0; i < ids.size(); ++i) {
                const short revents = fds[1 + gateways_.size() + i].revents;
                const auto it = connections_.find(ids[i]);
                if (it == connections_.end()) continue;
                Connection& c = it->second;
                if (c.fd < 0 || (revents == 0 && !c.held)) continue;
                guarded(c, [&] {
                    if (revents & POLLIN) receive(c);
                    if (c.fd >= 0 && (revents & (POLLHUP | POLLERR)) && !(revents & POLLIN)) {
                        close(c);  // reset, or both sides shut: no answer can reach it
                    }
                    if (c.fd >= 0) serve(c);
                });
            }
            // After the connections, so that clients that left make room for those arriving.
            for (std::size_t g = 0; g < gateways_.size(); ++g) {
                if (fds[1 + g].revents & POLLIN) {
                    try {
                        accept(g);
                    } catch (const std::exception& e) {
                        log(Level::Error, std::string("pjlink: ") + e.what());
                    }
                }
            }
            try {
                expire();
                reportCrowding(false);
                reportFailures(false);
            } catch (const std::exception& e) {
                log(Level::Error, std::string("pjlink: ") + e.what());
            }
        }
        reportCrowding(true);
        reportFailures(true);
    }

    template <typename Work>
    void guarded(Connection& c, Work work) {
        try {
            work();
        } catch (const std::exception& e) {
            if (c.fd >= 0) close(c, std::string("cannot be served: ") + e.what());
        }
    }

    void accept(std::size_t g) {
        Gateway& gateway = gateways_[g];
        for (;;) {
            sockaddr_storage address{};
            socklen_t size = sizeof address;
            const int fd = ::accept4(gateway.fd, reinterpret_cast<sockaddr*>(&address), &size,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    log(Level::Warning, std::string("pjlink: cannot accept: ") + strerror(errno));
                    restUntil_ = Clock::now() + std::chrono::milliseconds(200);
                }
                return;
            }
            const std::string peer = peerOf(address);
            const std::string& name = gateway.queue->entry().name;
            if (!makeRoom(g)) {
                ++refused_;
                ::close(fd);
                continue;
            }
            Connection c;
            c.fd = fd;
            c.gateway = g;
            c.peer = peer;
            c.address = addressOf(address);
            c.lastLine = Clock::now();
            if (gateway.password) {
                const std::string random = randomHex();
                c.session.expectedHash = fleet::pjlinkHash(random, *gateway.password);
                c.out = "PJLINK 1 " + random + "\r";
            } else {
                c.out = "PJLINK 0\r";
            }
            ++gateway.connections;
            log(Level::Debug,
                std::string("pjlink ").append(name).append(": connection from ").append(peer));
            c.id = nextId_++;
            const std::uint64_t id = c.id;
            Connection& added = connections_.emplace(id, std::move(c)).first->second;
            guarded(added, [&] { serve(added); });
        }
    }

    // At a cap, the newcomer takes the place of a connection silent longest, so idle clients
    // can never lock a controller out: on its own port when that port is full, else on the
    // most crowded port, so that a crowd on some ports never closes a controller on another.
    // Only when every candidate has a command running is the newcomer turned away.
    bool makeRoom(std::size_t g) {
        const bool portFull = gateways_[g].connections >= limits_.perGateway;
        if (!portFull && live() < limits_.total) return true;
        std::size_t crowded = g;
        if (!portFull) {
            for (std::size_t i = 0; i < gateways_.size(); ++i) {
                if (gateways_[i].connections > gateways_[crowded].connections) crowded = i;
            }
        }
        Connection* quietest = nullptr;
        for (auto& [id, c] : connections_) {
            if (c.fd < 0 || c.busy || c.gateway != crowded) continue;
            if (quietest == nullptr || c.lastLine < quietest->lastLine) quietest = &c;
        }
        if (quietest == nullptr) return false;
        log(Level::Debug, "pjlink " + nameOf(*quietest) + ": " + quietest->peer +
                              " closed for a newer connection");
        close(*quietest);
        ++replaced_;
        return true;
    }

    // Connections open now; closed ones wait in connections_ until expire() forgets them.
    std::size_t live() const {
        std::size_t open = 0;
        for (const Gateway& gateway : gateways_) open += gateway.connections;
        return open;
    }

    void reportCrowding(bool now) {
        if (replaced_ == 0 && refused_ == 0) return;
        const Clock::time_point time = Clock::now();
        if (!now && time - crowdingReported_ < kCrowdingReport) return;
        log(Level::Warning, "pjlink: too many connections: " + std::to_string(replaced_) +
                                " closed for newer ones, " + std::to_string(refused_) +
                                " turned away (all busy)");
        replaced_ = refused_ = 0;
        crowdingReported_ = time;
    }

    void close(Connection& c, const std::string& why = {}) {
        if (!why.empty())
            log(Level::Info, "pjlink " + nameOf(c) + ": " + c.peer + " closed: " + why);
        ::close(c.fd);
        c.fd = -1;
        --gateways_[c.gateway].connections;
    }

    void receive(Connection& c) {
        char buffer[4096];
        while (c.in.size() < kMaxWaiting) {
            const std::size_t room = std::min(sizeof buffer, kMaxWaiting - c.in.size());
            const ssize_t got = ::recv(c.fd, buffer, room, 0);
            if (got > 0) {
                c.in.append(buffer, static_cast<std::size_t>(got));
                if (static_cast<std::size_t>(got) < room) break;
                continue;
            }
            if (got == 0) {
                // Shut down on its side: what it sent is still answered, then it is closed.
                c.ended = true;
                return;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) close(c);
            return;
        }
    }

    // Answers the lines in order as far as the socket takes the answers, and closes the
    // connection once it has nothing more to say to a client that has finished.
    void serve(Connection& c) {
        while (c.fd >= 0) {
            lines(c);
            send(c);
            // Lines may still wait because the answers filled their room; go on while the
            // socket takes them.
            if (c.fd < 0 || !c.out.empty() || c.busy || c.held || c.closing ||
                c.in.find('\r') == std::string::npos) {
                break;
            }
        }
        if (c.fd >= 0 && c.out.empty() &&
            (c.closing ||
             (c.ended && !c.busy && !c.held && c.in.find('\r') == std::string::npos))) {
            close(c);
        }
    }

    Clock::time_point retryOf(const Connection& c) const {
        const auto it = peers_.find(c.address);
        return it == peers_.end() ? Clock::time_point{} : it->second.retry;
    }

    // Takes the complete lines in order, one at a time while a command runs.
    void lines(Connection& c) {
        while (c.fd >= 0 && !c.busy && !c.closing && c.out.size() < kMaxPending) {
            const bool authenticating = !c.session.expectedHash.empty();
            c.held =
                authenticating && c.in.find('\r') != std::string::npos && retryOf(c) > Clock::now();
            if (c.held) return;
            const Gateway& gateway = gateways_[c.gateway];
            Taken taken = takeLine(c.in, c.session, gateway.queue->state(), gateway.who);
            if (taken.kind == Taken::Wait) return;
            if (taken.kind == Taken::TooLong) {
                close(c, "a line longer than PJLink allows");
                return;
            }
            c.lastLine = Clock::now();
            if (taken.kind == Taken::Denied) {
                failed(c);
                c.out += "PJLINK ERRA\r";
                c.closing = true;
                return;
            }
            if (authenticating && c.session.expectedHash.empty()) {
                if (const auto it = peers_.find(c.address); it != peers_.end()) {
                    it->second.failures = 0;
                }
            }
            handle(c, std::move(taken));
        }
    }

    void failed(Connection& c) {
        const Clock::time_point now = Clock::now();
        Peer& peer = peerFor(c.address, now);
        if (now - peer.lastFailure >= kForgetFailures) peer.failures = 0;
        ++peer.failures;
        peer.lastFailure = now;
        peer.retry = now + delayAfter(peer.failures);
        if (failuresUnreported_ == 0 && now - failuresReported_ >= kFailureReport) {
            log(Level::Warning, "pjlink " + nameOf(c) + ": " + c.peer + " failed to authenticate");
            failuresReported_ = now;
        } else {
            ++failuresUnreported_;
            ++peer.unreported;
        }
    }

    Peer& peerFor(const std::string& address, Clock::time_point now) {
        if (const auto it = peers_.find(address); it != peers_.end()) return it->second;
        if (peers_.size() >= kMaxPeers) {
            // Remembering every address of a large network is not worth the memory: the one
            // failed longest ago makes way.
            auto oldest = peers_.begin();
            for (auto it = peers_.begin(); it != peers_.end(); ++it) {
                if (it->second.lastFailure < oldest->second.lastFailure) oldest = it;
            }
            peers_.erase(oldest);
        }
        Peer& peer = peers_[address];
        peer.lastFailure = now;
        return peer;
    }

    // The failures since the last line about them, with the addresses that failed most.
    void reportFailures(bool now) {
        if (failuresUnreported_ == 0) return;
        const Clock::time_point time = Clock::now();
        if (!now && time - failuresReported_ < kFailureReport) return;
        std::vector<std::pair<std::size_t, const std::string*>> most;
        for (auto& [address, peer] : peers_) {
            if (peer.unreported > 0) most.emplace_back(peer.unreported, &address);
        }
        const std::size_t shown = std::min<std::size_t>(most.size(), 3);
        std::partial_sort(most.begin(), most.begin() + static_cast<std::ptrdiff_t>(shown),
                          most.end(),
                          [](const auto& a, const auto& b) { return a.first > b.first; });
        std::string text = "pjlink: " + std::to_string(failuresUnreported_) +
                           " more failed authentication" + (failuresUnreported_ == 1 ? "" : "s") +
                           " in the last " + std::to_string(kFailureReport.count()) + " s:";
        for (std::size_t i = 0; i < shown; ++i) {
            text +=
                (i == 0 ? " " : ", ") + std::to_string(most[i].first) + " from " + *most[i].second;
        }
        if (most.size() > shown) {
            text += " and " + std::to_string(most.size() - shown) + " other addresses";
        }
        log(Level::Warning, text);
        for (auto& [address, peer] : peers_) peer.unreported = 0;
        failuresUnreported_ = 0;
        failuresReported_ = time;
    }

    void handle(Connection& c, Taken taken) {
        if (taken.kind == Taken::Ignored) {
            log(Level::Debug, "pjlink " + nameOf(c) + ": " + c.peer + ": a line ignored");
            return;
        }
        Step& step = taken.step;
        if (taken.kind == Taken::Answer) {
            c.out += step.header + step.answer + "\r";
            return;
        }
        c.busy = true;
        const std::uint64_t job = nextId_++;
        Job& j = jobs_[job];
        j.connection = c.id;
        j.queue = gateways_[c.gateway].queue;
        j.header = std::move(step.header);
        j.commands = std::move(step.commands);
        for (fleet::Command& command : j.commands) command.origin = {"pjlink", c.address};
        j.who = "pjlink " + nameOf(c) + ": " + step.words + " from " + c.peer;
        submit(job, j);
    }

    // Puts the job's next command on its projector's queue; the queue's thread hands the result
    // back through done_ and wakes the loop, so no thread waits for any projector. A queue that
    // refuses the command at once (too many waiting) hands the refusal back the same way.
    void submit(std::uint64_t job, Job& j) {
        {
            std::lock_guard lock(mutex_);
            ++inFlight_;
        }
        j.queue->run(j.commands[j.next], [this, job](fleet::CommandResult result) {
            std::lock_guard lock(mutex_);
            done_.push_back({job, std::move(result)});
            // The wake pipe is written under the lock so that stop() cannot close it between.
            wake();
            if (--inFlight_ == 0) settled_.notify_all();
        });
    }

    // Carries each job on by one command, and answers the lines whose commands have all run.
    void finish(std::uint64_t job, const fleet::CommandResult& result) {
        const auto found = jobs_.find(job);
        if (found == jobs_.end()) return;
        Job& j = found->second;
        if (result.ok() && ++j.next < j.commands.size()) {
            submit(job, j);
            return;
        }
        const std::string_view answer = answerFor(result);
        if (result.ok()) {
            log(Level::Info, j.who + ": OK");
        } else {
            log(Level::Warning, j.who + ": " + std::string(answer) + " (" + result.reason + ")");
        }
        const std::string reply = j.header + std::string(answer) + "\r";
        const std::uint64_t connection = j.connection;
        jobs_.erase(found);
        const auto it = connections_.find(connection);
        if (it == connections_.end()) return;  // the client left before its answer
        Connection& c = it->second;
        c.busy = false;
        c.lastLine = Clock::now();
        if (c.fd < 0) return;
        guarded(c, [&] {
            c.out += reply;
            serve(c);
        });
    }

    void collect() {
        std::deque<Done> ready;
        {
            std::lock_guard lock(mutex_);
            ready.swap(done_);
        }
        for (const Done& done : ready) finish(done.job, done.result);
    }

    void send(Connection& c) {
        while (c.fd >= 0 && !c.out.empty()) {
            const ssize_t sent = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
            if (sent > 0) {
                c.out.erase(0, static_cast<std::size_t>(sent));
                continue;
            }
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
            close(c);
            return;
        }
    }

    // Closes the idle, and forgets the closed once no command of theirs is running, and the
    // addresses whose failures are long past.
    void expire() {
        const Clock::time_point now = Clock::now();
        for (auto it = connections_.begin(); it != connections_.end();) {
            Connection& c = it->second;
            if (c.fd >= 0 && !c.busy && !c.held && now - c.lastLine >= idle_) {
                log(Level::Debug, "pjlink " + nameOf(c) + ": " + c.peer + " closed: idle for " +
                                      std::to_string(idle_.count()) + " ms");
                close(c);
            }
            it = c.fd < 0 && !c.busy ? connections_.erase(it) : std::next(it);
        }
        for (auto it = peers_.begin(); it != peers_.end();) {
            const Peer& peer = it->second;
            const bool past = (peer.failures == 0 || now - peer.lastFailure >= kForgetFailures) &&
                              peer.retry <= now && peer.unreported == 0;
            it = past ? peers_.erase(it) : std::next(it);
        }
    }

    fleet::Fleet& fleet_;
    Limits limits_;
    Reading next_;  // the latest reading asked for
    std::string host_;
    std::chrono::milliseconds idle_{};
    std::vector<Gateway> gateways_;
    std::map<std::uint64_t, Connection> connections_;
    std::uint64_t nextId_ = 1;
    Clock::time_point restUntil_{};
    std::map<std::uint64_t, Job> jobs_;  // the loop thread's alone
    std::size_t replaced_ = 0;           // since the last report of crowding
    std::size_t refused_ = 0;
    Clock::time_point crowdingReported_{};
    std::map<std::string, Peer> peers_;  // addresses that failed to authenticate
    std::size_t failuresUnreported_ = 0;
    Clock::time_point failuresReported_{};
    std::mutex mutex_;  // guards done_, inFlight_ and the reload handed to the loop
    std::condition_variable settled_;
    bool reloading_ = false;  // next_ waits for the loop
    bool loopEnded_ = false;
    std::condition_variable reloaded_;
    std::deque<Done> done_;
    std::size_t inFlight_ = 0;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

Gateways::Gateways(fleet::Fleet& fleet, const fleet::Inventory& inventory, Settings settings,
                   std::chrono::milliseconds idle, Limits limits)
    : impl_(std::make_unique<Impl>(fleet, inventory, std::move(settings), idle, limits)) {}
Gateways::~Gateways() { stop(); }
bool Gateways::start(const std::string& host, std::string* why) { return impl_->start(host, why); }
void Gateways::stop() { impl_->stop(); }
void Gateways::reload(const fleet::Inventory& inventory, Settings settings, const std::string& host,
                      std::chrono::milliseconds idle) {
    impl_->reload(inventory, std::move(settings), host, idle);
}
std::size_t Gateways::count() const { return impl_->count(); }

}  // namespace zolvane::service::pjlink
