#include "systemd/notify.h"

namespace zolvane::service::systemd {

void ready(const std::string&) {}
void reloading() {}
void stopping() {}

class Watchdog::Impl {};

Watchdog::Watchdog(Alive) : impl_(std::make_unique<Impl>()) {}
Watchdog::~Watchdog() { stop(); }
void Watchdog::start() {}
void Watchdog::stop() {}

}  // namespace zolvane::service::systemd
