#include "network_endpoint.h"

#include <cstring>

#include "host_address.h"
#include "port_number.h"

namespace zolvane {

bool FirstIPv4Address(const std::string& host, uint32_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const bool ok = ::getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr;
    if (ok) address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    if (found != nullptr) ::freeaddrinfo(found);
    return ok;
}

// An empty text is no address either: ReadNumericHost calls it malformed, where Windows would
// read an empty name as this computer itself.
bool ResolveEndpoint(const NetworkTarget& target, const Deadline& deadline, HostResolver resolve,
                     Endpoint& to) {
    const uint16_t port = ParsePortNumber(target.port);
    if (target.ipv6) {
        addrinfo hints{};
        hints.ai_family = AF_INET6;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST;
        addrinfo* found = nullptr;
        if (::getaddrinfo(target.host, nullptr, &hints, &found) != 0 || found == nullptr) {
            return false;
        }
        std::memcpy(&to.address, found->ai_addr, found->ai_addrlen);
        to.length = static_cast<socklen_t>(found->ai_addrlen);
        ::freeaddrinfo(found);
        reinterpret_cast<sockaddr_in6*>(&to.address)->sin6_port = htons(port);
        return true;
    }
    auto& v4 = *reinterpret_cast<sockaddr_in*>(&to.address);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    to.length = sizeof v4;
    const HostReading numeric = ReadNumericHost(target.host);
    if (numeric.kind == NumericHost::Address) {
        v4.sin_addr.s_addr = htonl(numeric.address);
        return true;
    }
    if (numeric.kind == NumericHost::Malformed) return false;
    uint32_t found = 0;
    if (!LookUpHost(target.host, deadline, resolve, found)) return false;
    v4.sin_addr.s_addr = found;
    return true;
}

}  // namespace zolvane
