// The inventory: one TOML file naming every projector of a site, its address, its groups and
// its timing, and the service's own settings. Read whole and checked whole: a file with any
// fault is refused with every fault found, each with its line.
//
//   [service]
//   listen = "127.0.0.1:8470"          # host:port, IPv6 in brackets
//   token_file = "/etc/zolvaned/token" # write calls need "Authorization: Bearer <token>"
//   lamp_warning_hours = 3000          # the web page marks lamps past this
//   max_body_bytes = 65536
//   pjlink_host = "0.0.0.0"            # where the PJLink gateways listen; the listen host if not
//
//   [mqtt]                             # the broker side, see docs/mqtt.md
//   host = "broker.example.org"
//
//   [defaults]                         # any timing key, for every projector
//   poll_interval_ms = 5000
//
//   [[projector]]
//   name = "hall-a"                    # letters, digits, '-', '_', '.'; unique
//   address = "tcp://10.0.0.21:23"     # or "serial:///dev/ttyUSB0"
//   groups = ["east-wing", "halls"]
//   label = "Hall A"                   # shown on the web page; the name when left out
//   receive_timeout_ms = 2000          # any timing key, for this projector
//   pjlink_port = 4352                 # a PJLink gateway for it, see docs/pjlink.md
//   pjlink_password_file = "/etc/zolvaned/hall-a.pjlink"  # first line, at most 32 characters
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zolvane::fleet {

using Milliseconds = std::chrono::milliseconds;

// How one projector is watched and driven. Keys in the file are the member names in
// snake case with "_ms": poll_interval_ms, slow_poll_interval_ms, ...; offline_after.
struct Timing {
    Milliseconds pollInterval{5000};       // power, input, blank, mute
    Milliseconds slowPollInterval{60000};  // lamp hours, filter hours, error status
    Milliseconds connectTimeout{3000};
    Milliseconds sendTimeout{3000};     // 630 for serial links unless the file says
    Milliseconds receiveTimeout{3000};  // 1000 for serial links unless the file says
    Milliseconds gap{0};                // least time between two exchanges
    Milliseconds coolingWait{120000};   // longest a power-on waits out a cool-down
    unsigned offlineAfter = 3;          // failed polls in a row before "offline"
    unsigned maxQueued = 16;            // commands waiting; more are refused at once
    unsigned pollAfterCommands = 2;     // a due poll waits behind at most this many commands
};

struct ProjectorEntry {
    std::string name;
    std::string label;  // the name when the file gives none
    std::string address;
    std::vector<std::string> groups;
    Timing timing;
    std::uint16_t pjlinkPort = 0;    // 0: no PJLink gateway for it
    std::string pjlinkPasswordFile;  // empty: PJLink without authentication
    int line = 0;                    // where the entry starts in the file
};

struct ServiceSettings {
    std::string listenHost = "127.0.0.1";
    std::uint16_t listenPort = 8470;
    std::string tokenFile;  // empty: no token needed
    unsigned lampWarningHours = 3000;
    std::size_t maxBodyBytes = 65536;
    std::string pjlinkHost;  // empty: listenHost
    // pjlink_idle_timeout_ms: for the tests, which cannot wait out the 30 s of PJLink.
    Milliseconds pjlinkIdleTimeout{30000};
};

// The broker connection; present only when the file has an [mqtt] table (see docs/mqtt.md).
struct MqttSettings {
    std::string host;
    std::uint16_t port = 1883;
    std::string clientId;  // "zolvaned-" + site when the file gives none
    std::string username;
    std::string passwordFile;  // its first line is the password; needs username
    std::string caFile;        // TLS when set
    std::string topicPrefix = "zolvane";
    std::string site;  // the host name when the file gives none
    int qos = 1;
    bool discovery = true;
    std::string discoveryPrefix = "homeassistant";
    std::chrono::seconds keepalive{30};
    int line = 0;  // where the table starts
};

struct Inventory {
    ServiceSettings service;
    std::optional<MqttSettings> mqtt;
    std::vector<ProjectorEntry> projectors;  // in file order

    const ProjectorEntry* find(std::string_view name) const;
    // Every group named by some projector, sorted, each once.
    std::vector<std::string> groups() const;
};

struct Fault {
    int line = 0;  // 1-based; 0 when the fault has no place (the file cannot be read)
    int column = 0;
    std::string reason;
};

struct LoadResult {
    std::optional<Inventory> inventory;  // set only when faults is empty
    std::vector<Fault> faults;           // in line order
};

// Checks names (unique, and "all" is no group name), addresses (as the link API reads them),
// types and ranges of every key, and refuses unknown keys and tables.
// Host names of addresses are looked up (at most 2 s for all) to find one projector under two
// names; lookUpNames false compares them as written.
LoadResult parseInventory(std::string_view text, bool lookUpNames = true);
LoadResult loadInventory(const std::filesystem::path& file);

// "FILE:LINE:COLUMN: reason", or "FILE: reason" for a fault without a line.
std::string describe(const std::filesystem::path& file, const Fault& fault);

}  // namespace zolvane::fleet
