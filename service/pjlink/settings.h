// The PJLink gateways' part of the inventory: in each [[projector]]
//
//   pjlink_port = 4352                 # a PJLink gateway for it, see docs/pjlink.md
//   pjlink_password_file = "/etc/zolvaned/hall-a.pjlink"  # first line, at most 32 characters
//
// and pjlink_host, pjlink_idle_timeout_ms of [service] (settings.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zolvane::fleet {
class InventorySection;
}

namespace zolvane::service {
struct Settings;
}

namespace zolvane::service::pjlink {

// One projector's gateway.
struct Port {
    std::string projector;  // its name
    std::uint16_t number = 0;
    std::string passwordFile;  // empty: PJLink without authentication
};

struct Settings {
    std::vector<Port> ports;  // in file order
};

// Reads the pjlink_* keys of every [[projector]] into settings; service is [service] as read
// with them, whose HTTP port no gateway may take.
std::unique_ptr<fleet::InventorySection> settingsReader(Settings& settings,
                                                        const service::Settings& service);

}  // namespace zolvane::service::pjlink
