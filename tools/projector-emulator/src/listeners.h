// Listening sockets on a run of consecutive TCP ports, one per projector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "unique_fd.h"

namespace zolvane::emulator {

// Listens on firstPort .. firstPort + count - 1; firstPort 0 finds a free run. The sockets are
// non-blocking. On failure returns none and error says why.
std::vector<UniqueFd> listenOnPorts(const std::string& host, std::uint16_t firstPort,
                                    std::size_t count, std::string& error);

std::uint16_t boundPort(int fd);

}  // namespace zolvane::emulator
