#include "pjlink/gateway.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "log.h"
#include "pjlink/protocol.h"

namespace zolvane::service::pjlink {
namespace {

using Clock = std::chrono::steady_clock;

// Replies waiting to be sent beyond this stop the reading of a client that does not read.
constexpr std::size_t kMaxPending = 4096;

std::string md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

std::string randomHex() {
    static std::mutex mutex;
    static std::random_device device;
    std::lock_guard lock(mutex);
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(device()));
    return text;
}

bool sameHex(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == y;
           });
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

int listenOn(const std::string& host, std::uint16_t port, std::string* why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int e = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); e != 0) {
        *why = "pjlink: " + host + ": " + ::gai_strerror(e);
        return -1;
    }
    int fd = -1;
    int error = 0;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
            error = errno;
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) *why = "pjlink: cannot listen on " + host + ":" + service + ": " + strerror(error);
    return fd;
}

struct Gateway {
    int fd = -1;
    fleet::ProjectorQueue* queue = nullptr;
    std::optional<std::string> password;
    Identity who;
    std::size_t connections = 0;
};

struct Connection {
    std::uint64_t id = 0;
    int fd = -1;
    std::size_t gateway = 0;
    std::string peer;
    std::string expectedHash;  // empty: no authentication (or already done)
    std::string in;
    std::string out;
    bool busy = false;     // a command is running; the lines behind it wait
    bool closing = false;  // closed once out is sent
    Clock::time_point lastLine;
};

// The commands of one line, run one after another on the projector's queue.
struct Job {
    std::uint64_t connection = 0;
    fleet::ProjectorQueue* queue = nullptr;
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
    Impl(fleet::Fleet& fleet, const fleet::Inventory& inventory, Limits limits)
        : fleet_(fleet),
          inventory_(inventory),
          limits_(limits),
          idle_(inventory.service.pjlinkIdleTimeout) {}

    bool start(const std::string& host, std::string* why) {
        for (const fleet::ProjectorEntry& entry : inventory_.projectors) {
            if (entry.pjlinkPort == 0) continue;
            Gateway gateway;
            gateway.queue = fleet_.find(entry.name);
            gateway.who.name = entry.label;
            gateway.who.info = std::string("zolvaned ") + ZOLVANE_VERSION + " " + entry.name;
            if (!entry.pjlinkPasswordFile.empty()) {
                gateway.password = readPassword(entry.pjlinkPasswordFile, why);
                if (!gateway.password) return closeAll();
            }
            gateway.fd = listenOn(host, entry.pjlinkPort, why);
            if (gateway.fd < 0) return closeAll();
            log(Level::Info, "pjlink " + entry.name + ": listening on " +
                                 (host.find(':') == std::string::npos ? host : "[" + host + "]") +
                                 ":" + std::to_string(entry.pjlinkPort) +
                                 (gateway.password ? " with a password" : ""));
            gateways_.push_back(std::move(gateway));
        }
        if (gateways_.empty()) return true;
        int pipeFds[2];
        if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
            *why = std::string("pjlink: pipe: ") + strerror(errno);
            return closeAll();
        }
        wakeRead_ = pipeFds[0];
        wakeWrite_ = pipeFds[1];
        thread_ = std::thread([this] { loop(); });
        return true;
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
            fds.clear();
            ids.clear();
            fds.push_back({wakeRead_, POLLIN, 0});
            // Past the caps the listeners still accept, to say no and close; out of descriptors
            // they rest a while instead of waking the loop again and again.
            const bool resting = Clock::now() < restUntil_;
            for (const Gateway& gateway : gateways_) {
                fds.push_back({gateway.fd, static_cast<short>(resting ? 0 : POLLIN), 0});
            }
            Clock::time_point nextIdle = Clock::time_point::max();
            for (auto& [id, c] : connections_) {
                short events = 0;
                if (!c.closing && c.out.size() < kMaxPending) events |= POLLIN;
                if (!c.out.empty()) events |= POLLOUT;
                fds.push_back({c.fd, events, 0});
                ids.push_back(id);
                if (!c.busy) nextIdle = std::min(nextIdle, c.lastLine + idle_);
            }
            if (resting) nextIdle = std::min(nextIdle, restUntil_);
            int timeout = -1;
            if (nextIdle != Clock::time_point::max()) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(nextIdle - Clock::now());
                timeout = static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 60000));
            }
            if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
                log(Level::Error, std::string("pjlink: poll: ") + strerror(errno));
                return;
            }
            if (fds[0].revents & POLLIN) {
                char sink[256];
                while (::read(wakeRead_, sink, sizeof sink) > 0) {
                }
            }
            collect();
            for (std::size_t i = 0; i < ids.size(); ++i) {
                const short revents = fds[1 + gateways_.size() + i].revents;
                const auto it = connections_.find(ids[i]);
                if (it == connections_.end() || revents == 0) continue;
                Connection& c = it->second;
                if (revents & (POLLIN | POLLHUP | POLLERR)) receive(c);
                if (!c.out.empty() && c.fd >= 0) send(c);
            }
            // After the connections, so that clients that left make room for those arriving.
            for (std::size_t g = 0; g < gateways_.size(); ++g) {
                if (fds[1 + g].revents & POLLIN) accept(g);
            }
            expire();
            reportCrowding(false);
        }
        reportCrowding(true);
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
            c.lastLine = Clock::now();
            if (gateway.password) {
                const std::string random = randomHex();
                c.expectedHash = md5Hex(random + *gateway.password);
                c.out = "PJLINK 1 " + random + "\r";
            } else {
                c.out = "PJLINK 0\r";
            }
            ++gateway.connections;
            log(Level::Debug, "pjlink " + name + ": connection from " + peer);
            c.id = nextId_++;
            const std::uint64_t id = c.id;
            send(connections_.emplace(id, std::move(c)).first->second);
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
        for (;;) {
            const ssize_t got = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (got > 0) {
                c.in.append(buffer, static_cast<std::size_t>(got));
                // Nothing past one line's worth is kept beyond the lines that wait.
                if (c.in.size() > 64 * kMaxLine) {
                    close(c, "too much sent at once");
                    return;
                }
                if (static_cast<std::size_t>(got) < sizeof buffer) break;
                continue;
            }
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                close(c);
                return;
            }
            break;
        }
        lines(c);
    }

    // Takes the complete lines in order, one at a time while a command runs.
    void lines(Connection& c) {
        while (c.fd >= 0 && !c.busy && !c.closing && c.out.size() < kMaxPending) {
            // The first line after a greeting with a random number carries the hash before it.
            const std::size_t limit = kMaxLine + (c.expectedHash.empty() ? 0 : 32);
            const auto end = c.in.find('\r');
            if (end == std::string::npos) {
                if (c.in.size() >= limit) close(c, "a line longer than PJLink allows");
                return;
            }
            if (end + 1 > limit) {
                close(c, "a line longer than PJLink allows");
                return;
            }
            std::string line = c.in.substr(0, end);
            c.in.erase(0, end + 1);
            c.lastLine = Clock::now();
            // A controller ending its lines with CR LF: the LF starts the next one.
            while (!line.empty() && line.front() == '\n') line.erase(0, 1);
            if (line.empty()) continue;
            if (!c.expectedHash.empty()) {
                if (line.size() < 32 ||
                    !sameHex(std::string_view(line).substr(0, 32), c.expectedHash)) {
                    log(Level::Warning,
                        "pjlink " + nameOf(c) + ": " + c.peer + " failed to authenticate");
                    c.out += "PJLINK ERRA\r";
                    c.closing = true;
                    return;
                }
                c.expectedHash.clear();
                line.erase(0, 32);
            }
            handle(c, line);
        }
    }

    void handle(Connection& c, const std::string& line) {
        fleet::ProjectorQueue* queue = gateways_[c.gateway].queue;
        Step step = interpret(line, queue->state(), gateways_[c.gateway].who);
        if (!step.parsed) {
            log(Level::Debug, "pjlink " + nameOf(c) + ": " + c.peer + ": a line ignored");
            return;
        }
        if (step.commands.empty()) {
            c.out += step.header + step.answer + "\r";
            return;
        }
        c.busy = true;
        const std::uint64_t job = nextId_++;
        Job& j = jobs_[job];
        j.connection = c.id;
        j.queue = queue;
        j.header = std::move(step.header);
        j.commands = std::move(step.commands);
        j.who = "pjlink " + nameOf(c) + ": " + step.words + " from " + c.peer;
        submit(job, j);
    }

    // Puts the job's next command on its projector's queue; the queue's thread hands the result
    // back through done_ and wakes the loop, so no thread waits for any projector.
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
        c.out += reply;
        send(c);
        lines(c);
        if (c.fd >= 0 && !c.out.empty()) send(c);
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
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            close(c);
            return;
        }
        if (c.fd >= 0 && c.closing && c.out.empty()) close(c);
    }

    // Closes the idle, and forgets the closed once no command of theirs is running.
    void expire() {
        const Clock::time_point now = Clock::now();
        for (auto it = connections_.begin(); it != connections_.end();) {
            Connection& c = it->second;
            if (c.fd >= 0 && !c.busy && now - c.lastLine >= idle_) {
                log(Level::Debug, "pjlink " + nameOf(c) + ": " + c.peer + " closed: idle for " +
                                      std::to_string(idle_.count()) + " ms");
                close(c);
            }
            it = c.fd < 0 && !c.busy ? connections_.erase(it) : std::next(it);
        }
    }

    fleet::Fleet& fleet_;
    const fleet::Inventory& inventory_;
    Limits limits_;
    std::chrono::milliseconds idle_;
    std::vector<Gateway> gateways_;
    std::map<std::uint64_t, Connection> connections_;
    std::uint64_t nextId_ = 1;
    Clock::time_point restUntil_{};
    std::map<std::uint64_t, Job> jobs_;  // the loop thread's alone
    std::size_t replaced_ = 0;           // since the last report of crowding
    std::size_t refused_ = 0;
    Clock::time_point crowdingReported_{};
    std::mutex mutex_;  // guards done_ and inFlight_
    std::condition_variable settled_;
    std::deque<Done> done_;
    std::size_t inFlight_ = 0;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

Gateways::Gateways(fleet::Fleet& fleet, const fleet::Inventory& inventory, Limits limits)
    : impl_(std::make_unique<Impl>(fleet, inventory, limits)) {}
Gateways::~Gateways() { stop(); }
bool Gateways::start(const std::string& host, std::string* why) { return impl_->start(host, why); }
void Gateways::stop() { impl_->stop(); }
std::size_t Gateways::count() const { return impl_->count(); }

}  // namespace zolvane::service::pjlink
