// The front of the HTTP server: one thread that accepts every connection and reads each request
// into memory itself, bounded in size and in time, before a worker thread sees it. Slow, idle
// and half-sent requests then cost a socket and a few kilobytes each, never a worker; a peer
// that opens too many connections loses its oldest waiting one rather than anyone else theirs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "http/request_reader.h"
#include "http/tls.h"

namespace zolvane::service::http {

struct GateOptions {
    Limits limits;
    std::chrono::milliseconds requestTime{10000};  // first byte to last of one request
    std::chrono::milliseconds idleTime{5000};      // no request begun on a connection
    std::size_t perPeer = 128;       // connections of one address waiting for a request or its rest
    std::size_t maxConnections = 0;  // 0: half the process's descriptors
    // Threads that answer requests, at most; they are started as requests find none idle and
    // end after a while without work, down to a few kept.
    std::size_t workers = 88;
    std::shared_ptr<const TlsServer> tls;  // null: plain HTTP
};

// A complete request, for a worker to answer on the socket.
struct Exchange {
    int socket = -1;
    std::string peer;
    int peerPort = 0;
    std::string local;
    int localPort = 0;
    std::string request;  // as RequestReader rebuilt it
    std::string method;
    std::string target;  // as sent, not decoded
    bool close = false;  // the connection ends after the answer
    // The connection's TLS session (null: plain), the worker's alone until it gives the
    // exchange back.
    ssl_st* tls = nullptr;
};

class Gate {
public:
    // Answers one exchange on a worker thread; true keeps the connection for the next request.
    using Answer = std::function<bool(const Exchange&)>;

    Gate(GateOptions options, Answer answer);
    ~Gate();
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    std::optional<std::uint16_t> bind(const std::string& host, std::uint16_t port,
                                      std::string* why);
    // Serves on the calling thread until stop(); returns once every worker is done.
    void run();
    // From any thread: closes the listening socket and every connection not being answered;
    // those being answered close when their answer is written.
    void stop();
    bool stopping() const { return stopping_; }
    // From any thread: connections accepted from now on use this TLS set-up (a reload's new
    // certificate); those open keep theirs.
    void setTls(std::shared_ptr<const TlsServer> tls);
    // Whether the gate's thread has turned within the last few seconds (the watchdog's question).
    bool alive() const;

    // An error answer with its JSON body and "Connection: close".
    static std::string errorAnswer(int status, const std::string& reason);

private:
    struct Connection;
    using Clock = std::chrono::steady_clock;

    void accept();
    void admit(int socket);
    bool evictOldest(const std::string* peer);
    void readable(Connection& connection, bool hangUp);
    bool handshake(Connection& connection);
    std::ptrdiff_t receive(Connection& connection, char* into, std::size_t size);
    void watch(Connection& connection, bool write);
    void advance(Connection& connection, bool ended);
    void refuse(Connection& connection, int status, const std::string& reason);
    static bool writeNow(Connection& connection, const std::string& text);
    void handOff(Connection& connection, bool close);
    void returned();
    void expire();
    void close(int socket);
    void leavePeer(const std::string& peer);
    void work();
    void wake();
    void addWorker();

    const GateOptions options_;
    const Answer answer_;
    std::size_t maxConnections_ = 0;
    int listening_ = -1;
    int epoll_ = -1;
    int wake_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<Clock::rep> turned_{0};  // when run()'s loop last came round
    mutable std::mutex tlsMutex_;
    std::shared_ptr<const TlsServer> tls_;
    bool listenPaused_ = false;
    Clock::time_point listenResume_{};

    std::unordered_map<int, std::unique_ptr<Connection>> connections_;
    std::map<std::uint64_t, int> order_;  // accept order: the oldest first
    // Each peer's connections waiting here, for a request or the rest of one; those being
    // answered are bounded by the workers instead.
    std::unordered_map<std::string, std::size_t> perPeer_;
    std::uint64_t accepted_ = 0;
    std::size_t working_ = 0;

    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<Exchange> jobs_;
    std::vector<std::pair<int, bool>> done_;  // socket, kept
    bool ending_ = false;
    std::size_t idleWorkers_ = 0;           // waiting for a job
    std::size_t liveWorkers_ = 0;           // started and not yet ended
    std::vector<std::thread::id> retired_;  // ended, to be joined by the gate's thread
    std::vector<std::thread> workers_;      // only the gate's thread changes it
};

}  // namespace zolvane::service::http
