// Serves the listening sockets, client connections and pseudo-terminals of every projector from
// one thread with epoll. A reply's delay and pauses are timers of the loop, so a slow reply holds
// up only its own client. The number of clients is bounded and a silent one is dropped after a
// while, so that no flood of clients locks out the next one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "command_frame.h"
#include "frame_assembler.h"
#include "projector_emulator/emulator.h"
#include "reply_plan.h"
#include "unique_fd.h"

namespace zolvane::emulator {

class EventLoop {
public:
    using Clock = std::chrono::steady_clock;
    // Turns a received frame into the reply to send; runs on the loop's thread.
    using Handler = std::function<ReplyPlan(std::size_t projector, Link link, const RawFrame&)>;

    struct Limits {
        std::size_t maxConnections = 16384;
        std::chrono::milliseconds idleTimeout{30000};  // 0: never
    };

    EventLoop(Handler handler, Limits limits);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    bool open(std::string& error);
    // Before start(): clients of this listener talk to the given projector.
    bool addListener(UniqueFd listener, std::size_t projector, std::string& error);
    // Before start(): the master end stays the caller's and must outlive stop().
    bool addTerminal(int master, std::size_t projector, std::string& error);
    void start();
    // Ends the thread and closes every client; pending delays and pauses are cut short.
    void stop();

private:
    using Id = std::uint64_t;
    enum class Kind { Listener, Socket, Terminal };
    enum class Flush { Done, Blocked, Failed };

    struct Entry {
        Kind kind = Kind::Socket;
        Id id = 0;
        UniqueFd owned;  // empty for a terminal
        int fd = -1;
        std::size_t projector = 0;
        std::uint32_t interest = 0;
        // Socket: the frame being received (a socket carries whole frames, no resync).
        RawFrame frame{};
        std::size_t received = 0;
        // Terminal: frames found in the byte stream, answered in turn.
        std::unique_ptr<FrameAssembler> assembler;
        std::deque<RawFrame> found;
        // The reply under way.
        bool replying = false;
        ReplyPlan plan;
        std::size_t nextPiece = 0;
        bool paused = false;
        std::vector<std::uint8_t> out;
        std::size_t written = 0;
        std::optional<Clock::time_point> due;
        // Sockets only: place in the order of last activity.
        std::list<Id>::iterator quietPlace;
        Clock::time_point lastActive;
    };

    bool add(Entry entry, std::string* error);
    void run();
    void dispatch(Id id, std::uint32_t events);
    void acceptClients(int listener, std::size_t projector);
    void refuseOne(int listener);
    bool dropQuietest();
    bool receive(Entry& entry);
    void recover(Id id);
    bool proceed(Entry& entry);
    bool continueReply(Entry& entry);
    Flush flush(Entry& entry);
    void onTimer(Entry& entry);
    void schedule(Entry& entry, Clock::time_point when);
    void cancelTimer(Entry& entry);
    void touch(Entry& entry);
    void updateInterest(Entry& entry);
    void close(Entry& entry);
    void expire(Clock::time_point now);
    int waitMilliseconds(Clock::time_point now) const;

    Handler handler_;
    Limits limits_;
    UniqueFd epoll_;
    UniqueFd wake_;
    // Kept open so that, out of descriptors, a client can still be accepted and closed.
    UniqueFd spare_;
    std::unordered_map<Id, Entry> entries_;
    Id nextId_ = 1;
    std::size_t sockets_ = 0;
    std::list<Id> quietOrder_;  // sockets, longest silent first
    std::set<std::pair<Clock::time_point, Id>> timers_;
    std::thread thread_;
};

}  // namespace zolvane::emulator
