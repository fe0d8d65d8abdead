#include "event_loop.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace zolvane::fleet {
namespace {

using Clock = EventLoop::Clock;

// Blocking exchanges, a few at a time, each result handed back to the loop.
class BlockingPool {
public:
    explicit BlockingPool(unsigned threads) : most_(threads) {}

    void run(std::function<void()> job) {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (idle_ == 0 && threads_ < most_) {
            ++threads_;
            std::thread([this] { work(); }).detach();  // the pool lives as long as the process
        }
        wake_.notify_one();
    }

private:
    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock, [this] { return !jobs_.empty(); });
            --idle_;
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    const unsigned most_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    unsigned threads_ = 0;
    unsigned idle_ = 0;
};

}  // namespace

class EventLoop::Impl {
public:
    Impl() {
#ifdef __linux__
        // Every projector of a campus may be mid-exchange at once, each with a socket of its own:
        // more than the usual soft limit of descriptors, well within the hard one.
        rlimit files{};
        if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
            files.rlim_cur = files.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &files);
        }
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = wakeFd_;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &event);
#endif
        thread_ = std::thread([this] { loop(); });
        threadId_ = thread_.get_id();
        thread_.detach();  // the loop is never ended; see shared()
    }

    void post(Callback callback) {
        bool signal = false;
        {
            std::lock_guard lock(mutex_);
            posted_.push_back(std::move(callback));
            signal = !signalled_;
            signalled_ = true;
        }
        if (signal) wake();
    }

    bool onLoop() const { return std::this_thread::get_id() == threadId_; }

    Id at(Clock::time_point when, Callback callback) {
        const Id id = ++lastId_;
        timers_.emplace(std::pair{when, id}, std::move(callback));
        timerTimes_.emplace(id, when);
        return id;
    }

    void cancel(Id timer) {
        const auto found = timerTimes_.find(timer);
        if (found == timerTimes_.end()) return;
        timers_.erase(std::pair{found->second, timer});
        timerTimes_.erase(found);
    }

    void exchange(zv_link* link, const LinkAction& action, Exchanged done) {
        auto step = std::make_shared<Step>(Step{link, std::move(done)});
        const zv_result begun = zv_link_begin(link, action.action, action.type, action.value);
        if (begun == ZV_RESULT_PENDING) {
            if (arm(step)) return;
            // Closed between the two calls: the exchange ended with the link.
            post([done = std::move(step->done)] { done(ZV_RESULT_LINK_CLOSED, 0); });
            return;
        }
        if (begun == ZV_RESULT_BAD_ARGUMENT) {
            // No stepwise exchange on this link (a serial port, or none on this system).
            pool_.run([this, link, action, done = std::move(step->done)]() mutable {
                std::uint16_t value = 0;
                const zv_result result = fleet::exchange(link, action, &value);
                post([done = std::move(done), result, value] { done(result, value); });
            });
            return;
        }
        // Refused at once (closed, busy): still told from the loop, never from within here.
        post([done = std::move(step->done), begun] { done(begun, 0); });
    }

    void blocking(Callback job) { pool_.run(std::move(job)); }

#ifdef __linux__
    bool watch(int fd, std::int32_t events, Callback callback) {
        epoll_event event{};
        event.events = ((events & ZV_WAIT_READ) ? EPOLLIN : 0u) |
                       ((events & ZV_WAIT_WRITE) ? EPOLLOUT : 0u) | EPOLLRDHUP;
        event.data.fd = fd;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) return false;
        watches_[fd] = std::move(callback);
        return true;
    }

    void unwatch(int fd) {
        if (fd < 0) return;
        if (watches_.erase(fd) > 0) ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    }
#else
    bool watch(int, std::int32_t, Callback) { return false; }
    void unwatch(int) {}
#endif

private:
    struct Step {
        zv_link* link;
        Exchanged done;
        Id timer = 0;
        int fd = -1;
    };

    // Waits for what the exchange waits for; false when the link cannot say (it was closed).
    bool arm(const std::shared_ptr<Step>& step) {
        std::int32_t fd = -1;
        std::int32_t events = 0;
        std::int32_t timeoutMs = 0;
        if (zv_link_wait_for(step->link, &fd, &events, &timeoutMs) != 0) return false;
        auto resume = [this, step] {
            if (step->timer != 0) cancel(step->timer);
            unwatch(step->fd);
            step->timer = 0;
            step->fd = -1;
            advance(step);
        };
        step->timer = at(Clock::now() + std::chrono::milliseconds(timeoutMs), resume);
        if (fd >= 0 && watch(fd, events, resume)) step->fd = fd;
        return true;
    }

    void advance(const std::shared_ptr<Step>& step) {
        std::uint16_t value = 0;
        const zv_result result = zv_link_continue(step->link, &value);
        if (result == ZV_RESULT_PENDING) {
            if (arm(step)) return;
            step->done(ZV_RESULT_LINK_CLOSED, 0);
            return;
        }
        step->done(result, value);
    }

#ifdef __linux__
    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }

    // Waits for a socket, a post or the time; runs the sockets' callbacks.
    void wait(int timeoutMs) {
        epoll_event events[64];
        const int n = ::epoll_wait(epoll_, events, 64, timeoutMs);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == wakeFd_) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t r = ::read(wakeFd_, &count, sizeof count);
                continue;
            }
            const auto found = watches_.find(fd);
            if (found == watches_.end()) continue;  // ended by an earlier callback of this round
            Callback callback = std::move(found->second);
            callback();  // unwatches the descriptor first thing
        }
    }
#else
    void wake() { woken_.notify_one(); }
    void wait(int timeoutMs) {
        std::unique_lock lock(mutex_);
        woken_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; });
    }
    std::condition_variable woken_;
#endif

    void runPosted() {
        std::vector<Callback> posted;
        {
            std::lock_guard lock(mutex_);
            posted.swap(posted_);
            signalled_ = false;
        }
        for (Callback& callback : posted) callback();
    }

    // Runs the timers that are due; returns the wait until the next one, in milliseconds.
    int runTimers() {
        for (;;) {
            if (timers_.empty()) return 60000;
            const auto first = timers_.begin();
            const Clock::time_point now = Clock::now();
            if (first->first.first > now) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(first->first.first - now);
                return static_cast<int>(
                    std::min<std::chrono::milliseconds::rep>(left.count(), 60000));
            }
            Callback callback = std::move(first->second);
            timerTimes_.erase(first->first.second);
            timers_.erase(first);
            callback();
        }
    }

    void loop() {
        for (;;) {
            runPosted();
            const int timeoutMs = runTimers();
            bool idle = false;
            {
                std::lock_guard lock(mutex_);
                idle = posted_.empty();
            }
            wait(idle ? timeoutMs : 0);
        }
    }

    std::mutex mutex_;  // posted_, signalled_
    std::vector<Callback> posted_;
    bool signalled_ = false;

    // Only on the loop's thread.
    Id lastId_ = 0;
    std::map<std::pair<Clock::time_point, Id>, Callback> timers_;
    std::map<Id, Clock::time_point> timerTimes_;
#ifdef __linux__
    std::map<int, Callback> watches_;
    int epoll_ = -1;
    int wakeFd_ = -1;
#endif
    BlockingPool pool_{kPoolThreads};
    std::thread thread_;
    std::thread::id threadId_;
};

EventLoop& EventLoop::shared() {
    // Never destroyed: a queue ended at exit must not find the loop gone under it.
    static EventLoop* loop = new EventLoop;
    return *loop;
}

EventLoop::EventLoop() : impl_(std::make_unique<Impl>()) {}
EventLoop::~EventLoop() = default;

void EventLoop::post(Callback callback) { impl_->post(std::move(callback)); }
bool EventLoop::onLoop() const { return impl_->onLoop(); }
EventLoop::Id EventLoop::at(Clock::time_point when, Callback callback) {
    return impl_->at(when, std::move(callback));
}
void EventLoop::cancel(Id timer) { impl_->cancel(timer); }
void EventLoop::exchange(zv_link* link, const LinkAction& action, Exchanged done) {
    impl_->exchange(link, action, std::move(done));
}
bool EventLoop::watch(int fd, std::int32_t events, Callback callback) {
    return impl_->watch(fd, events, std::move(callback));
}
void EventLoop::unwatch(int fd) { impl_->unwatch(fd); }
void EventLoop::blocking(Callback job) { impl_->blocking(std::move(job)); }

}  // namespace zolvane::fleet
