// Addresses of projectors spoken to through PJLink: "pjlink://HOST[:PORT]", port 4352 when none
// is given. HOST is a name, an IPv4 address or a bracketed IPv6 address; no path, no user, no
// query.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zolvane::fleet {

inline constexpr std::uint16_t kPjlinkPort = 4352;
inline constexpr std::string_view kPjlinkScheme = "pjlink://";
// The longest password PJLink allows.
inline constexpr std::size_t kPjlinkMaxPassword = 32;

struct PjlinkAddress {
    std::string host;  // without brackets
    std::uint16_t port = kPjlinkPort;
};

// Whether the address names PJLink at all (its scheme, any case).
bool isPjlinkAddress(std::string_view address);

// The address read; empty, with *why saying what is wrong ("no host", "a path after the port",
// "port 0 is out of range 1..65535", ...), when it cannot be used.
std::optional<PjlinkAddress> parsePjlinkAddress(std::string_view address, std::string* why);

// The password in a password file: its first line without the line end. Empty, with *why, when
// the file cannot be read, is empty, or holds more than kPjlinkMaxPassword characters or any
// control character.
std::optional<std::string> readPjlinkPassword(const std::string& file, std::string* why);

}  // namespace zolvane::fleet
