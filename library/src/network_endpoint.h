// The address a network exchange connects to, found the same way on every platform: an IPv6
// target is read as a numeric address, an IPv4 one as dotted decimal, and only a name goes to
// the platform's resolver, bounded by the connect deadline.
#pragma once

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <string>

#include "deadline.h"
#include "host_lookup.h"
#include "links.h"

namespace zolvane {

// The address of one projector, IPv4 or IPv6.
struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
};

// The first IPv4 address of a name, in network byte order, from the blocking resolver.
bool FirstIPv4Address(const std::string& host, uint32_t& address);

// False when the target is no address and no name `resolve` finds before the deadline.
bool ResolveEndpoint(const NetworkTarget& target, const Deadline& deadline, HostResolver resolve,
                     Endpoint& to);

}  // namespace zolvane
