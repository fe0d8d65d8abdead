#include "event_loop.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace zolvane::emulator {
namespace {

constexpr std::uint64_t kWakeId = 0;
constexpr int kEventBatch = 256;
// Accepts per wake-up of a listener, so that one busy projector cannot starve the others.
constexpr int kAcceptBatch = 64;
// A pty whose reader has gone away fills up; a reply that cannot be written within this time is
// dropped rather than holding the line.
constexpr std::chrono::milliseconds kTerminalWriteTimeout{1000};
// The longest sleep of the loop, so that a wrong deadline can never stall it for good.
constexpr int kLongestWaitMs = 60'000;

std::string failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

UniqueFd openSpare() { return UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC)); }

}  // namespace

EventLoop::EventLoop(Handler handler, Limits limits)
    : handler_(std::move(handler)), limits_(limits) {}

EventLoop::~EventLoop() { stop(); }

bool EventLoop::open(std::string& error) {
    epoll_.reset(::epoll_create1(EPOLL_CLOEXEC));
    wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!epoll_.valid() || !wake_.valid()) {
        error = failure("cannot set up the event loop");
        return false;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeId;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &event) != 0) {
        error = failure("epoll_ctl");
        return false;
    }
    spare_ = openSpare();
    return true;
}

bool EventLoop::addListener(UniqueFd listener, std::size_t projector, std::string& error) {
    Entry entry;
    entry.kind = Kind::Listener;
    entry.fd = listener.get();
    entry.owned = std::move(listener);
    entry.projector = projector;
    return add(std::move(entry), &error);
}

bool EventLoop::addTerminal(int master, std::size_t projector, std::string& error) {
    Entry entry;
    entry.kind = Kind::Terminal;
    entry.fd = master;
    entry.projector = projector;
    entry.assembler = std::make_unique<FrameAssembler>();
    return add(std::move(entry), &error);
}

bool EventLoop::add(Entry entry, std::string* error) {
    const Id id = nextId_++;
    entry.id = id;
    entry.interest = EPOLLIN;
    const bool socket = entry.kind == Kind::Socket;
    if (socket) {
        entry.lastActive = Clock::now();
        entry.quietPlace = quietOrder_.insert(quietOrder_.end(), id);
    }
    epoll_event event{};
    event.events = entry.interest;
    event.data.u64 = id;
    const int fd = entry.fd;
    const auto quietPlace = entry.quietPlace;
    bool added = false;
    try {
        if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0) {
            if (error != nullptr) {
                *error = failure("epoll_ctl");
            }
        } else {
            entries_.emplace(id, std::move(entry));
            added = true;
        }
    } catch (const std::bad_alloc&) {
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
    }
    if (!added) {
        if (socket) {
            quietOrder_.erase(quietPlace);
        }
        return false;
    }
    sockets_ += socket ? 1 : 0;
    return true;
}

void EventLoop::start() {
    thread_ = std::thread([this] { run(); });
}

void EventLoop::stop() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake_.get(), &one, sizeof one);
        thread_.join();
    }
    entries_.clear();
    quietOrder_.clear();
    timers_.clear();
    sockets_ = 0;
}

void EventLoop::run() {
    epoll_event events[kEventBatch];
    for (;;) {
        const int count =
            ::epoll_wait(epoll_.get(), events, kEventBatch, waitMilliseconds(Clock::now()));
        if (count < 0 && errno != EINTR) {
            return;
        }
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u64 == kWakeId) {
                return;
            }
            dispatch(events[i].data.u64, events[i].events);
        }
        expire(Clock::now());
    }
}

// One event of one entry. Running short of memory or descriptors costs that client its
// connection, never the loop.
void EventLoop::dispatch(Id id, std::uint32_t events) {
    const auto found = entries_.find(id);
    if (found == entries_.end()) {
        return;  // closed by an earlier event of this batch
    }
    Entry& entry = found->second;
    try {
        if (entry.kind == Kind::Listener) {
            acceptClients(entry.fd, entry.projector);
            return;
        }
        if (entry.kind == Kind::Socket && (events & (EPOLLERR | EPOLLHUP)) != 0) {
            close(entry);
            return;
        }
        if ((events & EPOLLIN) != 0 && !receive(entry)) {
            return;
        }
        proceed(entry);
    } catch (const std::exception&) {
        recover(id);
    }
}

// After a failure half-way through an event: a client loses its connection, a terminal the
// frames it was answering.
void EventLoop::recover(Id id) {
    const auto found = entries_.find(id);
    if (found == entries_.end()) {
        return;
    }
    Entry& entry = found->second;
    if (entry.kind == Kind::Socket) {
        close(entry);
    } else if (entry.kind == Kind::Terminal) {
        entry.found.clear();
        entry.replying = false;
        entry.out.clear();
        entry.written = 0;
        cancelTimer(entry);
        updateInterest(entry);
    }
}

void EventLoop::acceptClients(int listener, std::size_t projector) {
    for (int i = 0; i < kAcceptBatch; ++i) {
        UniqueFd client(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!client.valid()) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: the quietest client makes way; with none to spare, the
                // newcomer is told at once instead of waiting in the backlog.
                if (!dropQuietest()) {
                    refuseOne(listener);
                }
                continue;
            }
            return;  // EAGAIN: the backlog is empty
        }
        if (sockets_ >= limits_.maxConnections && !dropQuietest()) {
            continue;  // every client is mid-reply: this one is closed
        }
        const int yes = 1;
        ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        Entry entry;
        entry.kind = Kind::Socket;
        entry.fd = client.get();
        entry.projector = projector;
        entry.owned = std::move(client);
        try {
            add(std::move(entry), nullptr);
        } catch (const std::bad_alloc&) {
            // The entry and its descriptor are gone; the loop carries on with what it has.
        }
    }
}

void EventLoop::refuseOne(int listener) {
    spare_.reset();
    UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    spare_ = openSpare();
}

// Closes the client that has been silent longest. A client mid-reply, or whose frame has arrived
// but not yet been read, is not silent and stays.
bool EventLoop::dropQuietest() {
    for (const Id id : quietOrder_) {
        Entry& entry = entries_.at(id);
        int waiting = 0;
        if (!entry.replying && ::ioctl(entry.fd, FIONREAD, &waiting) == 0 && waiting == 0) {
            close(entry);
            return true;
        }
    }
    return false;
}

// Returns false when the entry has been closed.
bool EventLoop::receive(Entry& entry) {
    if (entry.kind == Kind::Socket) {
        const ssize_t count = ::recv(entry.fd, entry.frame.data() + entry.received,
                                     entry.frame.size() - entry.received, 0);
        if (count == 0 ||
            (count < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            close(entry);  // the client is done; an unfinished frame goes with it
            return false;
        }
        if (count > 0) {
            entry.received += static_cast<std::size_t>(count);
            touch(entry);
        }
        return true;
    }
    std::uint8_t buffer[256];
    const ssize_t count = ::read(entry.fd, buffer, sizeof buffer);
    if (count > 0) {
        for (const RawFrame& frame :
             entry.assembler->feed({buffer, static_cast<std::size_t>(count)}, Clock::now())) {
            entry.found.push_back(frame);
        }
    }
    return true;
}

// Answers the frames that have come in, one after the other, as far as timers and the link
// allow. Returns false when the entry has been closed.
bool EventLoop::proceed(Entry& entry) {
    for (;;) {
        if (entry.replying) {
            if (!continueReply(entry)) {
                return false;
            }
            if (entry.replying) {
                break;
            }
        }
        std::optional<RawFrame> frame;
        if (entry.kind == Kind::Socket && entry.received == entry.frame.size()) {
            frame = entry.frame;
            entry.received = 0;
        } else if (entry.kind == Kind::Terminal && !entry.found.empty()) {
            frame = entry.found.front();
            entry.found.pop_front();
        }
        if (!frame) {
            break;
        }
        entry.plan =
            handler_(entry.projector, entry.kind == Kind::Socket ? Link::Tcp : Link::Pty, *frame);
        entry.replying = true;
        entry.nextPiece = 0;
        entry.paused = false;
        if (entry.plan.delay.count() > 0) {
            schedule(entry, Clock::now() + entry.plan.delay);
        }
    }
    updateInterest(entry);
    return true;
}

// Sends what the plan allows now. Returns false when the entry has been closed.
bool EventLoop::continueReply(Entry& entry) {
    for (;;) {
        if (entry.written < entry.out.size()) {
            switch (flush(entry)) {
                case Flush::Failed:
                    close(entry);
                    return false;
                case Flush::Blocked: {
                    // A socket client that stops reading its replies is given the idle time.
                    const auto patience =
                        entry.kind == Kind::Terminal ? kTerminalWriteTimeout : limits_.idleTimeout;
                    if (patience.count() > 0) {
                        schedule(entry, Clock::now() + patience);
                    }
                    return true;
                }
                case Flush::Done:
                    cancelTimer(entry);
                    touch(entry);
                    break;
            }
        }
        if (entry.due) {
            return true;  // a delay or pause is running
        }
        if (entry.nextPiece == entry.plan.pieces.size()) {
            entry.replying = false;
            entry.out.clear();
            entry.written = 0;
            // A serial line cannot be closed: a close is silence there.
            if (entry.plan.closeConnection && entry.kind == Kind::Socket) {
                close(entry);
                return false;
            }
            entry.plan = {};
            return true;
        }
        const ReplyPiece& piece = entry.plan.pieces[entry.nextPiece];
        if (piece.pauseBefore.count() > 0 && !entry.paused) {
            entry.paused = true;
            schedule(entry, Clock::now() + piece.pauseBefore);
            return true;
        }
        entry.paused = false;
        entry.out = piece.bytes;
        entry.written = 0;
        ++entry.nextPiece;
    }
}

EventLoop::Flush EventLoop::flush(Entry& entry) {
    while (entry.written < entry.out.size()) {
        const std::uint8_t* data = entry.out.data() + entry.written;
        const std::size_t size = entry.out.size() - entry.written;
        const ssize_t count = entry.kind == Kind::Socket
                                  ? ::send(entry.fd, data, size, MSG_NOSIGNAL)
                                  : ::write(entry.fd, data, size);
        if (count > 0) {
            entry.written += static_cast<std::size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Flush::Blocked;
        } else {
            return entry.kind == Kind::Socket ? Flush::Failed : Flush::Blocked;
        }
    }
    return Flush::Done;
}

void EventLoop::onTimer(Entry& entry) {
    if (entry.written < entry.out.size()) {
        // The client has not taken the reply in time.
        if (entry.kind == Kind::Socket) {
            close(entry);
            return;
        }
        entry.plan.pieces.clear();
        entry.nextPiece = 0;
        entry.out.clear();
        entry.written = 0;
    }
    proceed(entry);
}

void EventLoop::schedule(Entry& entry, Clock::time_point when) {
    cancelTimer(entry);
    timers_.emplace(when, entry.id);
    entry.due = when;
}

void EventLoop::cancelTimer(Entry& entry) {
    if (entry.due) {
        timers_.erase({*entry.due, entry.id});
        entry.due.reset();
    }
}

void EventLoop::touch(Entry& entry) {
    if (entry.kind == Kind::Socket) {
        entry.lastActive = Clock::now();
        quietOrder_.splice(quietOrder_.end(), quietOrder_, entry.quietPlace);
    }
}

void EventLoop::updateInterest(Entry& entry) {
    std::uint32_t wanted = EPOLLIN;
    if (entry.replying) {
        wanted = entry.written < entry.out.size() ? std::uint32_t{EPOLLOUT} : 0U;
    }
    if (wanted == entry.interest) {
        return;
    }
    epoll_event event{};
    event.events = wanted;
    event.data.u64 = entry.id;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, entry.fd, &event) == 0) {
        entry.interest = wanted;
    }
}

void EventLoop::close(Entry& entry) {
    cancelTimer(entry);
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, entry.fd, nullptr);
    if (entry.kind == Kind::Socket) {
        quietOrder_.erase(entry.quietPlace);
        --sockets_;
    }
    entries_.erase(entry.id);
}

// Runs the timers that are due and disconnects clients silent for longer than the idle time.
void EventLoop::expire(Clock::time_point now) {
    while (!timers_.empty() && timers_.begin()->first <= now) {
        const Id id = timers_.begin()->second;
        timers_.erase(timers_.begin());
        const auto found = entries_.find(id);
        if (found == entries_.end()) {
            continue;
        }
        found->second.due.reset();
        try {
            onTimer(found->second);
        } catch (const std::exception&) {
            recover(id);
        }
    }
    if (limits_.idleTimeout.count() <= 0) {
        return;
    }
    while (!quietOrder_.empty()) {
        Entry& quietest = entries_.at(quietOrder_.front());
        if (now - quietest.lastActive < limits_.idleTimeout) {
            break;
        }
        if (quietest.replying) {
            // Waiting on its own timers, which govern it; not silent.
            quietest.lastActive = now;
            quietOrder_.splice(quietOrder_.end(), quietOrder_, quietest.quietPlace);
        } else {
            close(quietest);
        }
    }
}

int EventLoop::waitMilliseconds(Clock::time_point now) const {
    std::optional<Clock::time_point> next;
    if (!timers_.empty()) {
        next = timers_.begin()->first;
    }
    if (limits_.idleTimeout.count() > 0 && !quietOrder_.empty()) {
        const auto idleEnd = entries_.at(quietOrder_.front()).lastActive + limits_.idleTimeout;
        next = next ? std::min(*next, idleEnd) : idleEnd;
    }
    if (!next) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kLongestWaitMs));
}

}  // namespace zolvane::emulator
