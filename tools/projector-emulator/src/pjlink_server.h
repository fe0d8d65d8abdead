// The thread that serves every PJLink projector of one emulator: its listeners, its clients and
// their timers, all on one epoll set. Nothing here blocks on a client.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pjlink_projector.h"
#include "projector_emulator/pjlink_emulator.h"
#include "unique_fd.h"

namespace zolvane::emulator {

// What the serving thread and the emulator's accessors share, under mutex.
struct PjlinkShared {
    mutable std::mutex mutex;
    mutable std::condition_variable linesChanged;
    std::vector<PjlinkProjector> projectors;
};

class PjlinkServer {
public:
    PjlinkServer(const PjlinkOptions& options, PjlinkShared& shared,
                 std::vector<UniqueFd> listeners);
    ~PjlinkServer();
    PjlinkServer(const PjlinkServer&) = delete;
    PjlinkServer& operator=(const PjlinkServer&) = delete;

    // False, with the reason, when the epoll set cannot be made.
    bool open(std::string& error);
    // Serves until stop() is called from another thread.
    void run();
    void stop();

private:
    struct Connection;
    using Deadline = std::pair<PjlinkClock::time_point, std::uint64_t>;

    void accept(std::size_t projector);
    void receive(Connection& connection);
    // Handles buffered lines while no answer is waiting; false when the connection was closed.
    bool serve(Connection& connection);
    bool handleLine(Connection& connection, std::string line);
    bool flush(Connection& connection);
    void watch(Connection& connection);
    void reschedule(Connection& connection);
    void expire(PjlinkClock::time_point now);
    void close(Connection& connection);
    void log(std::size_t projector, const char* direction, const std::string& bytes) const;

    const PjlinkOptions& options_;
    PjlinkShared& shared_;
    std::vector<UniqueFd> listeners_;
    UniqueFd epoll_;
    UniqueFd wake_;
    // Kept open so that a refused client can still be accepted and closed when the process is
    // out of descriptors, instead of waking the loop forever.
    UniqueFd reserve_;
    std::unordered_map<std::uint64_t, std::unique_ptr<Connection>> connections_;
    std::set<Deadline> deadlines_;
    std::uint64_t nextId_ = 1;
    std::mt19937 random_;
};

}  // namespace zolvane::emulator
