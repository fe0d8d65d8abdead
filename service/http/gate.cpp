#include "http/gate.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <system_error>
#include <thread>

#include "json_text.h"
#include "listening_socket.h"
#include "log.h"

namespace zolvane::service::http {
namespace {

constexpr std::size_t kReadBytes = 16384;
constexpr std::size_t kReadsPerTurn = 4;  // then the other connections' turn
constexpr std::size_t kDrainBytes = 1 << 20;
constexpr std::chrono::milliseconds kDrainTime{1000};
constexpr std::chrono::milliseconds kScanEvery{250};
// Workers kept however quiet the service is, and how long a further one waits for work before
// it ends.
constexpr std::size_t kKeptWorkers = 2;
constexpr std::chrono::seconds kWorkerIdle{10};

std::string statusText(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 408:
            return "Request Timeout";
        case 413:
            return "Payload Too Large";
        case 417:
            return "Expectation Failed";
        case 431:
            return "Request Header Fields Too Large";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Error";
    }
}

std::string addressText(const sockaddr_storage& address, int* port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        *port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        *port = ntohs(v6->sin6_port);
    }
    return text;
}

struct SessionCloser {
    void operator()(ssl_st* session) const { closeSession(session); }
};

}  // namespace

struct Gate::Connection {
    enum class State { Reading, Working, Draining };
    int socket = -1;
    std::unique_ptr<ssl_st, SessionCloser> tls;  // null: plain HTTP
    bool writeInterest = false;                  // the session waits for the socket to take bytes
    std::string peer;
    int peerPort = 0;
    std::string local;
    int localPort = 0;
    std::uint64_t order = 0;
    State state = State::Reading;
    RequestReader reader;
    std::string pending;  // read after a complete request: the start of the next one
    bool continued = false;
    bool begun = false;
    Clock::time_point deadline{};
    std::size_t drained = 0;
};

std::string Gate::errorAnswer(int status, const std::string& reason) {
    const std::string body = jsonText(nlohmann::json{{"error", reason}});
    return "HTTP/1.1 " + std::to_string(status) + " " + statusText(status) +
           "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

Gate::Gate(GateOptions options, Answer answer)
    : options_(std::move(options)), answer_(std::move(answer)), tls_(options_.tls) {
    maxConnections_ = options_.maxConnections;
    if (maxConnections_ == 0) {
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        maxConnections_ = std::clamp<std::size_t>(limit.rlim_cur / 2, 64, 16384);
    }
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = wake_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
}

Gate::~Gate() {
    stop();
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    queued_.notify_all();
    for (std::thread& worker : workers_) {
        if (worker.joinable()) worker.join();
    }
    // Each session's closing alert goes out before its socket closes, not to a number reused.
    for (auto& [socket, connection] : connections_) {
        connection->tls.reset();
        ::close(socket);
    }
    connections_.clear();
    if (listening_ >= 0) ::close(listening_);
    ::close(epoll_);
    ::close(wake_);
}

std::optional<std::uint16_t> Gate::bind(const std::string& host, std::uint16_t port,
                                        std::string* why) {
    listening_ = listenOn(host, port, why);
    if (listening_ < 0) return {};
    const std::uint16_t bound = boundPort(listening_);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listening_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listening_, &event);
    return bound;
}

void Gate::stop() {
    stopping_ = true;
    wake();
}

void Gate::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
}

void Gate::setTls(std::shared_ptr<const TlsServer> tls) {
    std::lock_guard lock(tlsMutex_);
    tls_ = std::move(tls);
}

bool Gate::alive() const {
    const Clock::rep turned = turned_;
    if (turned == 0 || stopping_) return true;  // not serving yet, or ending
    return Clock::now() - Clock::time_point(Clock::duration(turned)) < std::chrono::seconds(10);
}

void Gate::run() {
    while (workers_.size() < std::min(kKeptWorkers, options_.workers)) addWorker();
    bool closedAll = false;
    Clock::time_point scanned = Clock::now();
    std::vector<epoll_event> events(256);
    while (true) {
        if (stopping_ && !closedAll) {
            closedAll = true;
            if (listening_ >= 0) {
                ::epoll_ctl(epoll_, EPOLL_CTL_DEL, listening_, nullptr);
                ::close(listening_);
                listening_ = -1;
            }
            std::vector<int> idle;
            for (const auto& [socket, connection] : connections_) {
                if (connection->state != Connection::State::Working) idle.push_back(socket);
            }
            for (const int socket : idle) close(socket);
        }
        if (closedAll && working_ == 0) break;
        turned_ = Clock::now().time_since_epoch().count();
        // Turns at least every kScanEvery, idle or not, so that a turn shows the thread alive.
        const int timeout = static_cast<int>(kScanEvery.count());
        const int count =
            ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), timeout);
        for (int i = 0; i < count; ++i) {
            const int socket = events[i].data.fd;
            if (socket == wake_) {
                std::uint64_t value = 0;
                [[maybe_unused]] const ssize_t n = ::read(wake_, &value, sizeof value);
                returned();
            } else if (socket == listening_) {
                accept();
            } else if (const auto found = connections_.find(socket); found != connections_.end()) {
                readable(*found->second,
                         (events[i].events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0);
            }
        }
        const Clock::time_point now = Clock::now();
        if (now - scanned >= kScanEvery) {
            scanned = now;
            expire();
        }
    }
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    queued_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
}

void Gate::accept() {
    while (listening_ >= 0) {
        const int socket = ::accept4(listening_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket >= 0) {
            admit(socket);
            continue;
        }
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED) continue;
        if (error != EMFILE && error != ENFILE) return;
        if (!evictOldest(nullptr)) {
            // Out of descriptors with every connection being answered: wait for one to end
            // instead of being woken again at once for the same connection.
            epoll_event event{};
            event.data.fd = listening_;
            ::epoll_ctl(epoll_, EPOLL_CTL_MOD, listening_, &event);
            listenPaused_ = true;
            listenResume_ = Clock::now() + kScanEvery;
            return;
        }
    }
}

void Gate::admit(int socket) {
    auto connection = std::make_unique<Connection>();
    connection->socket = socket;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length);
    connection->peer = addressText(address, &connection->peerPort);
    length = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    connection->local = addressText(address, &connection->localPort);
    if (perPeer_[connection->peer] >= options_.perPeer && !evictOldest(&connection->peer)) {
        ::close(socket);
        return;
    }
    if (connections_.size() >= maxConnections_ && !evictOldest(nullptr)) {
        ::close(socket);
        return;
    }
    // Headers and body go out in two writes: without this the body waits for the client's
    // delayed acknowledgement of the headers, 40 ms on Linux, on every answer.
    const int yes = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::shared_ptr<const TlsServer> tls;
    {
        std::lock_guard lock(tlsMutex_);
        tls = tls_;
    }
    if (tls) {
        connection->tls.reset(openSession(*tls, socket));
        if (!connection->tls) {
            log(Level::Warning, "could not begin a TLS session with " + connection->peer);
            ::close(socket);
            return;
        }
    }
    connection->reader = RequestReader(options_.limits);
    connection->order = ++accepted_;
    // A handshake is given the time of a request; the idle time starts after it.
    connection->deadline = Clock::now() + (tls ? options_.requestTime : options_.idleTime);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.fd = socket;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, socket, &event);
    ++perPeer_[connection->peer];
    order_.emplace(connection->order, socket);
    connections_.emplace(socket, std::move(connection));
}

// The oldest connection (of one peer, or of any) that waits for a request or for the rest of
// one, closed to make room; false when every one is being answered.
bool Gate::evictOldest(const std::string* peer) {
    for (const auto& [order, socket] : order_) {
        const Connection& connection = *connections_.at(socket);
        if (connection.state == Connection::State::Working) continue;
        if (peer && connection.peer != *peer) continue;
        if (logs(Level::Debug)) {
            log(Level::Debug, "closed a waiting connection of " + connection.peer + ":" +
                                  std::to_string(connection.peerPort) + " for a newer one");
        }
        close(socket);
        return true;
    }
    return false;
}

void Gate::close(int socket) {
    const auto found = connections_.find(socket);
    if (found == connections_.end()) return;
    Connection& connection = *found->second;
    if (connection.state != Connection::State::Working) {
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, socket, nullptr);
    }
    order_.erase(connection.order);
    if (connection.state != Connection::State::Working) leavePeer(connection.peer);
    connections_.erase(found);
    ::close(socket);
}

void Gate::leavePeer(const std::string& peer) {
    if (const auto found = perPeer_.find(peer); found != perPeer_.end()) {
        if (--found->second == 0) perPeer_.erase(found);
    }
}

// Writes what the socket takes at once: the answers written here are small, and a peer that
// does not read them is not waited for. False when not all of it went.
bool Gate::writeNow(Connection& connection, const std::string& text) {
    std::size_t at = 0;
    while (at < text.size()) {
        if (connection.tls) {
            if (!tlsHandshaken(connection.tls.get())) return false;
            const TlsStep step = tlsWrite(connection.tls.get(), text.data() + at, text.size() - at);
            if (step.outcome != TlsStep::Outcome::Done) return false;
            at += step.bytes;
            continue;
        }
        const ssize_t n = ::send(connection.socket, text.data() + at, text.size() - at,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0) return false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

// Which way the connection's session waits: for bytes to read, or for room to write them.
void Gate::watch(Connection& connection, bool write) {
    if (connection.writeInterest == write) return;
    connection.writeInterest = write;
    epoll_event event{};
    event.events = (write ? EPOLLOUT : EPOLLIN) | EPOLLRDHUP;
    event.data.fd = connection.socket;
    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, connection.socket, &event);
}

// One more step of a TLS handshake; true once it is done. A peer that fails it (a plain HTTP
// request, garbage, an old protocol) is closed without an answer: it would not read one.
bool Gate::handshake(Connection& connection) {
    const TlsStep step = tlsHandshake(connection.tls.get());
    switch (step.outcome) {
        case TlsStep::Outcome::Done:
            watch(connection, false);
            connection.deadline = Clock::now() + options_.idleTime;
            return true;
        case TlsStep::Outcome::WantRead:
            watch(connection, false);
            return false;
        case TlsStep::Outcome::WantWrite:
            watch(connection, true);
            return false;
        case TlsStep::Outcome::Ended:
        case TlsStep::Outcome::Failed:
            break;
    }
    if (logs(Level::Debug)) {
        log(Level::Debug, "closed a connection of " + connection.peer + ":" +
                              std::to_string(connection.peerPort) +
                              " that failed the TLS handshake");
    }
    close(connection.socket);
    return false;
}

// Bytes of the connection, decrypted when it is TLS: how many, 0 when none are there now, -1
// when the connection ended or failed.
std::ptrdiff_t Gate::receive(Connection& connection, char* into, std::size_t size) {
    if (connection.tls) {
        const TlsStep step = tlsRead(connection.tls.get(), into, size);
        switch (step.outcome) {
            case TlsStep::Outcome::Done:
                watch(connection, false);
                return static_cast<std::ptrdiff_t>(step.bytes);
            case TlsStep::Outcome::WantRead:
                watch(connection, false);
                return 0;
            case TlsStep::Outcome::WantWrite:
                watch(connection, true);
                return 0;
            case TlsStep::Outcome::Ended:
            case TlsStep::Outcome::Failed:
                return -1;
        }
    }
    while (true) {
        const ssize_t n = ::recv(connection.socket, into, size, 0);
        if (n > 0) return n;
        if (n == 0) return -1;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

void Gate::readable(Connection& connection, bool hangUp) {
    const int socket = connection.socket;
    if (connection.state == Connection::State::Working) return;
    if (connection.tls && !tlsHandshaken(connection.tls.get())) {
        // A peer that shut its side cannot finish the handshake: the rest of it is its to send.
        if (hangUp) return close(socket);
        if (!handshake(connection)) return;
    }
    char buffer[kReadBytes];
    bool ended = false;
    // Bytes the session decrypted already are taken now: epoll would not tell of them again.
    const auto buffered = [&connection] {
        return connection.tls && connection.state == Connection::State::Reading &&
               tlsPending(connection.tls.get());
    };
    for (std::size_t turn = 0; turn < kReadsPerTurn || buffered(); ++turn) {
        const std::ptrdiff_t n = receive(connection, buffer, sizeof buffer);
        if (n < 0) {
            ended = true;
            break;
        }
        if (n == 0) break;
        if (connection.state == Connection::State::Draining) {
            connection.drained += static_cast<std::size_t>(n);
            if (connection.drained > kDrainBytes) return close(socket);
            continue;
        }
        connection.pending.append(buffer, static_cast<std::size_t>(n));
        advance(connection, false);
        if (!connections_.contains(socket)) return;
        // Handed to a worker (what follows is the next request's, read after the answer), or
        // refused.
        if (connection.state != Connection::State::Reading) break;
    }
    if (connection.state == Connection::State::Working) return;
    if (ended || (hangUp && connection.state == Connection::State::Draining)) close(socket);
}

// Feeds what is pending to the request being read, and acts on where that leaves it.
void Gate::advance(Connection& connection, bool ended) {
    RequestReader& reader = connection.reader;
    if (reader.phase() != RequestReader::Phase::Done) {
        const std::size_t used = reader.feed(connection.pending);
        connection.pending.erase(0, used);
    }
    if (reader.started() && !connection.begun) {
        connection.begun = true;
        connection.deadline = Clock::now() + options_.requestTime;
    }
    switch (reader.phase()) {
        case RequestReader::Phase::Fault:
            return refuse(connection, reader.status(), reader.reason());
        case RequestReader::Phase::Done:
            return handOff(connection, ended);
        case RequestReader::Phase::Body:
            if (reader.wantsContinue() && !connection.continued) {
                connection.continued = true;
                if (!writeNow(connection, "HTTP/1.1 100 Continue\r\n\r\n") && connection.tls) {
                    // A session's write that stopped part way cannot be followed by other bytes.
                    close(connection.socket);
                }
            }
            return;
        case RequestReader::Phase::Head:
            return;
    }
}

// An answer from here ends the connection; what the peer still sends is read and dropped for a
// moment, so that its system does not discard the answer on a reset before it is read.
void Gate::refuse(Connection& connection, int status, const std::string& reason) {
    log(Level::Info, "refused a request from " + connection.peer + ":" +
                         std::to_string(connection.peerPort) + ": " + std::to_string(status) + " " +
                         reason);
    writeNow(connection, errorAnswer(status, reason));
    // The session ends with its closing alert here; what is drained after is dropped unread.
    connection.tls.reset();
    ::shutdown(connection.socket, SHUT_WR);
    connection.state = Connection::State::Draining;
    connection.pending.clear();
    connection.deadline = Clock::now() + kDrainTime;
}

void Gate::handOff(Connection& connection, bool close) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, connection.socket, nullptr);
    connection.state = Connection::State::Working;
    leavePeer(connection.peer);
    ++working_;
    Exchange exchange;
    exchange.socket = connection.socket;
    exchange.peer = connection.peer;
    exchange.peerPort = connection.peerPort;
    exchange.local = connection.local;
    exchange.localPort = connection.localPort;
    exchange.request = connection.reader.request();
    exchange.method = connection.reader.method();
    exchange.target = connection.reader.target();
    exchange.close = close || stopping_;
    exchange.tls = connection.tls.get();
    connection.writeInterest = false;
    bool another = false;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(exchange));
        another = jobs_.size() > idleWorkers_ && liveWorkers_ < options_.workers;
    }
    queued_.notify_one();
    if (another) addWorker();
}

// On the gate's thread: one more worker, after joining those that have ended.
void Gate::addWorker() {
    std::vector<std::thread::id> retired;
    {
        std::lock_guard lock(mutex_);
        retired.swap(retired_);
        ++liveWorkers_;
    }
    std::erase_if(workers_, [&](std::thread& worker) {
        if (std::find(retired.begin(), retired.end(), worker.get_id()) == retired.end()) {
            return false;
        }
        worker.join();
        return true;
    });
    try {
        workers_.emplace_back([this] { work(); });
    } catch (const std::system_error& error) {
        // No thread to spare: the workers there are answer the queue in turn.
        std::lock_guard lock(mutex_);
        --liveWorkers_;
        log(Level::Warning, std::string("no further HTTP worker: ") + error.what());
    }
}

void Gate::work() {
    while (true) {
        Exchange exchange;
        {
            std::unique_lock lock(mutex_);
            ++idleWorkers_;
            const bool woken =
                queued_.wait_for(lock, kWorkerIdle, [this] { return ending_ || !jobs_.empty(); });
            --idleWorkers_;
            if (jobs_.empty()) {
                if (!ending_ && (woken || liveWorkers_ <= kKeptWorkers)) continue;
                --liveWorkers_;
                retired_.push_back(std::this_thread::get_id());
                return;
            }
            exchange = std::move(jobs_.front());
            jobs_.pop_front();
        }
        bool kept = false;
        try {
            kept = answer_(exchange) && !exchange.close;
        } catch (const std::exception& error) {
            log(Level::Error, std::string("a request failed inside the service: ") + error.what());
        }
        {
            std::lock_guard lock(mutex_);
            done_.emplace_back(exchange.socket, kept);
        }
        wake();
    }
}

void Gate::returned() {
    std::vector<std::pair<int, bool>> done;
    {
        std::lock_guard lock(mutex_);
        done.swap(done_);
    }
    for (const auto& [socket, kept] : done) {
        const auto found = connections_.find(socket);
        if (found == connections_.end()) continue;
        --working_;
        Connection& connection = *found->second;
        if (!kept || stopping_) {
            close(socket);
            continue;
        }
        connection.state = Connection::State::Reading;
        ++perPeer_[connection.peer];
        connection.reader.reset();
        connection.continued = false;
        connection.begun = false;
        connection.deadline = Clock::now() + options_.idleTime;
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.fd = socket;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, socket, &event);
        if (!connection.pending.empty()) advance(connection, false);
        if (connections_.contains(socket) && connection.state == Connection::State::Reading &&
            connection.tls && tlsPending(connection.tls.get())) {
            readable(connection, false);
        }
    }
}

void Gate::expire() {
    const Clock::time_point now = Clock::now();
    if (listenPaused_ && now >= listenResume_ && listening_ >= 0) {
        listenPaused_ = false;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = listening_;
        ::epoll_ctl(epoll_, EPOLL_CTL_MOD, listening_, &event);
    }
    std::vector<int> late;
    for (const auto& [socket, connection] : connections_) {
        if (connection->state != Connection::State::Working && connection->deadline <= now) {
            late.push_back(socket);
        }
    }
    for (const int socket : late) {
        Connection& connection = *connections_.at(socket);
        if (connection.state == Connection::State::Reading && connection.begun) {
            if (logs(Level::Debug)) {
                log(Level::Debug, "closed a request from " + connection.peer + ":" +
                                      std::to_string(connection.peerPort) +
                                      " that did not come whole in time");
            }
            writeNow(connection, errorAnswer(408, "the request did not come whole in time"));
        }
        close(socket);
    }
}

}  // namespace zolvane::service::http
