// What the service tells systemd (Type=notify): ready once listening, reloading around a reload,
// stopping, and the watchdog's keep-alive while every part of it still turns. Nothing is sent
// when systemd did not start it ($NOTIFY_SOCKET unset).
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace zolvane::service::systemd {

void ready(const std::string& status);
void reloading();  // RELOADING=1, with the monotonic time systemd asks for
void stopping();

// Feeds systemd's watchdog from a thread of its own, twice per interval systemd gives
// ($WATCHDOG_USEC), as long as alive() answers true; alive() says why not otherwise, and that is
// logged once. Does nothing when the unit asks for no watchdog.
class Watchdog {
public:
    using Alive = std::function<bool(std::string* why)>;
    explicit Watchdog(Alive alive);
    ~Watchdog();  // stop()
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    void start();
    void stop();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::service::systemd
