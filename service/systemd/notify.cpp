#include "systemd/notify.h"

#include <systemd/sd-daemon.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "log.h"

namespace zolvane::service::systemd {
namespace {

// A status line for systemctl status: one line of plain text.
std::string statusLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

}  // namespace

void ready(const std::string& status) {
    const std::string message = "READY=1\nSTATUS=" + statusLine(status);
    sd_notify(0, message.c_str());
}

void reloading() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const auto usec = static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
                      static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
    const std::string message =
        "RELOADING=1\nSTATUS=reloading the inventory\nMONOTONIC_USEC=" + std::to_string(usec);
    sd_notify(0, message.c_str());
}

void stopping() { sd_notify(0, "STOPPING=1\nSTATUS=stopping"); }

class Watchdog::Impl {
public:
    explicit Impl(Alive alive) : alive_(std::move(alive)) {
        std::uint64_t usec = 0;
        if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
            every_ = std::chrono::microseconds(usec / 2);
        }
    }

    void start() {
        if (every_.count() == 0 || thread_.joinable()) return;
        log(Level::Info,
            "feeding systemd's watchdog every " + std::to_string(every_.count() / 1000) + " ms");
        thread_ = std::thread([this] { feed(); });
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    void feed() {
        bool starving = false;
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            lock.unlock();
            std::string why;
            const bool alive = alive_(&why);
            if (alive) {
                sd_notify(0, "WATCHDOG=1");
                if (starving) log(Level::Info, "the watchdog is fed again");
            } else if (!starving) {
                // systemd restarts the service once the interval passes unfed.
                log(Level::Error, "the watchdog is no longer fed: " + why);
            }
            starving = !alive;
            lock.lock();
            wake_.wait_for(lock, every_, [this] { return stopping_; });
        }
    }

    const Alive alive_;
    std::chrono::microseconds every_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

Watchdog::Watchdog(Alive alive) : impl_(std::make_unique<Impl>(std::move(alive))) {}
Watchdog::~Watchdog() { stop(); }
void Watchdog::start() { impl_->start(); }
void Watchdog::stop() { impl_->stop(); }

}  // namespace zolvane::service::systemd
