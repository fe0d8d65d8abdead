// Reading a link's address text: "tcp://HOST[:PORT]", "serial://DEVICE", or a bare serial port
// name or device path.
#pragma once

#include <string>

namespace zolvane {

struct LinkAddress {
    bool valid = false;
    bool network = false;
    bool ipv6 = false;  // host is an IPv6 address, without its brackets
    std::string where;  // the host, or the serial port name or device path
    std::string port;   // network: the port as decimal text, "23" when none was given
};

// Longest address taken, as the connection strings of the command functions hold it.
inline constexpr std::size_t kMaxAddressLength = 255;

LinkAddress ReadLinkAddress(const char* text);

}  // namespace zolvane
