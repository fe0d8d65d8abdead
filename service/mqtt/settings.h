// The broker side of the inventory: its [mqtt] table (see docs/mqtt.md).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace zolvane::fleet {
class InventorySection;
}

namespace zolvane::service::mqtt {

// The broker connection; present only when the file has an [mqtt] table.
struct Settings {
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

    // The same connection, wherever the table stands in the file.
    bool sameAs(const Settings& other) const;
};

// Reads [mqtt] into *settings, set when the file has the table.
std::unique_ptr<fleet::InventorySection> settingsReader(std::optional<Settings>& settings);

}  // namespace zolvane::service::mqtt
