#include "lookup_pool.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "deadline.h"
#include "host_lookup.h"
#include "network_endpoint.h"

namespace zolvane {

// One name's lookup, shared by every ticket for it and by the thread that runs it; the last of
// them to let go closes the descriptor.
struct PendingLookup {
    explicit PendingLookup(std::string host)
        : name(std::move(host)), eventFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    PendingLookup(const PendingLookup&) = delete;
    PendingLookup& operator=(const PendingLookup&) = delete;
    ~PendingLookup() {
        if (eventFd >= 0) ::close(eventFd);
    }

    const std::string name;
    const int eventFd;
    // Written under the pool's lock.
    bool done = false;
    bool found = false;
    uint32_t address = 0;
};

namespace {

constexpr std::size_t kMostThreads = 4;
constexpr Milliseconds kKeepFound{30000};
constexpr Milliseconds kKeepNotFound{5000};

struct Answer {
    bool found = false;
    uint32_t address = 0;
    Clock::time_point until;
};

struct Pool {
    std::mutex lock;
    std::condition_variable work;
    // Weak: a lookup whose every ticket was dropped before a thread took it is skipped, so
    // names nobody waits for any more hold up no other name.
    std::deque<std::pair<std::string, std::weak_ptr<PendingLookup>>> queue;
    std::map<std::string, std::weak_ptr<PendingLookup>> inFlight;
    std::map<std::string, Answer> cache;
    std::size_t threads = 0;
    std::size_t idle = 0;
};

// Never destroyed: its threads wait on it until the process ends, and a thread still in the
// resolver at exit must not find it gone.
Pool& ThePool() {
    static Pool* pool = new Pool;
    return *pool;
}

void ForgetExpired(Pool& pool, Clock::time_point now) {
    for (auto entry = pool.cache.begin(); entry != pool.cache.end();) {
        entry = entry->second.until <= now ? pool.cache.erase(entry) : std::next(entry);
    }
}

[[noreturn]] void Serve(Pool& pool) {
    std::unique_lock guard(pool.lock);
    for (;;) {
        ++pool.idle;
        pool.work.wait(guard, [&] { return !pool.queue.empty(); });
        --pool.idle;
        const std::string name = std::move(pool.queue.front().first);
        const std::shared_ptr<PendingLookup> lookup = pool.queue.front().second.lock();
        pool.queue.pop_front();
        if (!lookup) {
            if (const auto entry = pool.inFlight.find(name);
                entry != pool.inFlight.end() && entry->second.expired()) {
                pool.inFlight.erase(entry);
            }
            continue;
        }
        guard.unlock();
        uint32_t address = 0;
        const bool found = FirstIPv4Address(lookup->name, address);
        guard.lock();
        lookup->found = found;
        lookup->address = address;
        lookup->done = true;
        // A lookup dropped before it ran may have been asked for again meanwhile: that newer
        // one keeps its entry.
        if (const auto entry = pool.inFlight.find(lookup->name); entry != pool.inFlight.end()) {
            const std::shared_ptr<PendingLookup> listed = entry->second.lock();
            if (!listed || listed == lookup) pool.inFlight.erase(entry);
        }
        const Clock::time_point now = Clock::now();
        ForgetExpired(pool, now);
        pool.cache[lookup->name] = {found, address, now + (found ? kKeepFound : kKeepNotFound)};
        const uint64_t one = 1;
        if (lookup->eventFd >= 0) (void)!::write(lookup->eventFd, &one, sizeof one);
    }
}

// With the pool's lock held: one more thread when none is idle and fewer than the most run.
void StartThreadIfNeeded(Pool& pool) {
    if (pool.idle >= pool.queue.size() || pool.threads >= kMostThreads) return;
    try {
        std::thread([&pool] { Serve(pool); }).detach();
        ++pool.threads;
        // The threads outlive any unloading of the library: its code must stay mapped.
        if (pool.threads == 1) KeepLibraryLoaded();
    } catch (const std::system_error&) {
        // No thread to spare now: the threads already running take the request, or the next
        // request tries again.
    }
}

}  // namespace

int LookupTicket::fd() const {
    if (!lookup_) return -1;
    return ready() ? -1 : lookup_->eventFd;
}

bool LookupTicket::ready() const {
    if (!lookup_) return true;
    std::lock_guard guard(ThePool().lock);
    return lookup_->done;
}

bool LookupTicket::found(uint32_t& address) const {
    if (!lookup_) return false;
    std::lock_guard guard(ThePool().lock);
    if (!lookup_->done || !lookup_->found) return false;
    address = lookup_->address;
    return true;
}

LookupTicket RequestLookup(const std::string& name) {
    Pool& pool = ThePool();
    std::lock_guard guard(pool.lock);
    const auto cached = pool.cache.find(name);
    if (cached != pool.cache.end()) {
        if (cached->second.until > Clock::now()) {
            auto answered = std::make_shared<PendingLookup>(name);
            answered->done = true;
            answered->found = cached->second.found;
            answered->address = cached->second.address;
            return LookupTicket(std::move(answered));
        }
        pool.cache.erase(cached);
    }
    if (const auto running = pool.inFlight.find(name); running != pool.inFlight.end()) {
        if (std::shared_ptr<PendingLookup> shared = running->second.lock()) {
            return LookupTicket(std::move(shared));
        }
    }
    auto lookup = std::make_shared<PendingLookup>(name);
    pool.inFlight[name] = lookup;
    pool.queue.emplace_back(name, lookup);
    StartThreadIfNeeded(pool);
    pool.work.notify_one();
    return LookupTicket(std::move(lookup));
}

}  // namespace zolvane
