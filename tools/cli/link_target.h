// Where the projector is, from --serial, --tcp or the desktop program's settings file, checked
// before anything is sent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "zolvane_fleet/inventory.h"

namespace zolvane::cli {

struct LinkTarget {
    enum Kind : int32_t { Serial = 1, Network = 2 };

    Kind kind = Serial;
    std::string address;  // the serial port, or the host name or IPv4 address
    uint16_t port = 23;   // TCP only
    std::string origin;   // where the choice came from, for messages
    // An inventory's projector: its address exactly as the inventory gives it ("tcp://...",
    // "serial://..."), which then stands for kind, address and port, and its timing. Empty for
    // a link from the command line or the settings file, which keeps the library's defaults.
    std::string inventoryAddress;
    std::optional<fleet::Timing> timing;
    // The inventory's password_file of a PJLink projector; empty when none.
    std::string passwordFile;

    // Whether the inventory reaches the projector through PJLink ("pjlink://HOST[:PORT]"),
    // which the library's own links cannot open.
    bool pjlink() const;

    // "serial port /dev/ttyUSB0", "tcp 10.0.0.7:23", or the inventory's address.
    std::string describe() const;
    // The address as the library's link handles read it: "tcp://10.0.0.7:23".
    std::string linkAddress() const;
};

// Each raises UsageError naming what is wrong.
LinkTarget SerialTarget(std::string_view port);
LinkTarget NetworkTarget(std::string_view hostAndPort);  // HOST or HOST:PORT, port 23 by default
// A file that was named on the command line must exist; the default one may be missing, which
// gives the desktop program's defaults (serial port COM1).
LinkTarget TargetFromSettingsFile(const std::filesystem::path& file, bool named);

}  // namespace zolvane::cli
