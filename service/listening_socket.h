// The listening sockets of the front ends, made one way: non-blocking, SO_REUSEADDR only (with
// SO_REUSEPORT a second service started on the same port would share it without a word and
// take half the clients), and the longest backlog the system allows, so that a burst of new
// clients does not wait for SYN retries, a second and more each.
#pragma once

#include <cstdint>
#include <string>

namespace zolvane::service {

// The socket listening on host:port (0: any free port), or -1 with the reason in *why
// ("cannot listen on HOST:PORT: ...").
int listenOn(const std::string& host, std::uint16_t port, std::string* why);

// The port a listening socket is bound to; 0 when it cannot be told.
std::uint16_t boundPort(int socket);

}  // namespace zolvane::service
