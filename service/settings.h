// The service's own table of the inventory:
//
//   [service]
//   listen = "127.0.0.1:8470"          # host:port, IPv6 in brackets
//   token_file = "/etc/zolvaned/token" # write calls need "Authorization: Bearer <token>"
//   tls_certificate = "/etc/zolvaned/tls.crt"  # PEM, the chain after the certificate
//   tls_key = "/etc/zolvaned/tls.key"  # both or neither: HTTPS, TLS 1.2 or later
//   allow_plain_http = false           # plain HTTP on an address beyond loopback
//   read_requires_token = false        # reads need a token of role read or more too
//   lamp_warning_hours = 3000          # the web page marks lamps past this
//   max_body_bytes = 65536
//   pjlink_host = "0.0.0.0"            # where the PJLink gateways listen; the listen host if not
//   database = "/var/lib/zolvaned/history.sqlite"  # "" keeps no history
//   history_days = 400                 # how long the history keeps what it recorded
//   timezone = "Europe/Berlin"         # of schedules and reports; the system's if not
//   catch_up_minutes = 15              # a schedule's run missed by less runs at start
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "zolvane_fleet/inventory.h"

namespace zolvane::fleet {
class InventorySection;
}

namespace zolvane::service {

struct Settings {
    std::string listenHost = "127.0.0.1";
    std::uint16_t listenPort = 8470;
    std::string tokenFile;       // empty: no token needed
    std::string tlsCertificate;  // empty (with tlsKey): plain HTTP
    std::string tlsKey;
    bool allowPlainHttp = false;
    bool readRequiresToken = false;
    unsigned lampWarningHours = 3000;
    std::size_t maxBodyBytes = 65536;
    std::string pjlinkHost;  // empty: listenHost
    // pjlink_idle_timeout_ms: for the tests, which cannot wait out the 30 s of PJLink.
    std::chrono::milliseconds pjlinkIdleTimeout{30000};
    std::optional<std::string> database;  // unset: the default (databaseFile)
    unsigned historyDays = 400;
    std::string timezone;  // empty: the system's
    std::chrono::minutes catchUp{15};
};

// Where the history is kept: [service] database, else history.sqlite in the state directory
// systemd gives ($STATE_DIRECTORY), else /var/lib/zolvaned/history.sqlite. Empty: none.
std::filesystem::path databaseFile(const Settings& settings);

// Reads [service] into settings.
std::unique_ptr<fleet::InventorySection> settingsReader(Settings& settings);

// The inventory checked whole as the service checks it, for a program that reads only its
// projectors (the command-line tool).
fleet::LoadResult loadCheckedInventory(const std::filesystem::path& file);
fleet::LoadResult parseCheckedInventory(std::string_view text, bool lookUpNames = true);

}  // namespace zolvane::service
