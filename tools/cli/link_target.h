// Where the projector is, from --serial, --tcp or the desktop program's settings file, checked
// before anything is sent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace zolvane::cli {

struct LinkTarget {
    enum Kind : int32_t { Serial = 1, Network = 2 };

    Kind kind = Serial;
    std::string address;  // the serial port, or the host name or IPv4 address
    uint16_t port = 23;   // TCP only
    std::string origin;   // where the choice came from, for messages

    // "serial port /dev/ttyUSB0" or "tcp 10.0.0.7:23".
    std::string describe() const;
};

// Each raises UsageError naming what is wrong.
LinkTarget SerialTarget(std::string_view port);
LinkTarget NetworkTarget(std::string_view hostAndPort);  // HOST or HOST:PORT, port 23 by default
// A file that was named on the command line must exist; the default one may be missing, which
// gives the desktop program's defaults (serial port COM1).
LinkTarget TargetFromSettingsFile(const std::filesystem::path& file, bool named);

}  // namespace zolvane::cli
