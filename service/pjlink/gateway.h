// The PJLink gateways: for each projector of the inventory with a pjlink_port, a listener that
// answers PJLink class 1 on its behalf (docs/pjlink.md). One thread serves every listener and
// connection without blocking; commands go to the projector's queue, which hands each result
// back to that thread, so a slow projector holds up only the connections talking to it. A full
// port closes its quietest connection for a newcomer rather than turning the newcomer away.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "pjlink/settings.h"
#include "zolvane_fleet/fleet.h"

namespace zolvane::service::pjlink {

struct Limits {
    std::size_t perGateway = 32;  // connections at once to one projector's port
    std::size_t total = 512;      // and to all of them
};

class Gateways {
public:
    // idle: how long a connection may stay silent before it is closed. The inventory is copied.
    Gateways(fleet::Fleet& fleet, const fleet::Inventory& inventory, Settings settings,
             std::chrono::milliseconds idle, Limits limits = {});
    ~Gateways();  // stop()
    Gateways(const Gateways&) = delete;
    Gateways& operator=(const Gateways&) = delete;

    // Reads the password files and binds every port on host, then starts serving. On the
    // first failure nothing is left open and why says what failed.
    bool start(const std::string& host, std::string* why);
    // Closes every connection and waits for the commands still running; call it after the
    // fleet has stopped, so that none of them waits long.
    void stop();
    // The inventory read anew, the fleet already reconciled with it: ports kept go on with
    // their connections, ports gone close, new ones open (one that cannot is logged and left
    // out). Call it from the thread that started and will stop it.
    void reload(const fleet::Inventory& inventory, Settings settings, const std::string& host,
                std::chrono::milliseconds idle);
    std::size_t count() const;  // gateways listening

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::service::pjlink
