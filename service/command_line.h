// zolvaned's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zolvane::service {

struct ListenAddress {
    std::string host;
    std::uint16_t port = 0;  // 0: any free port
};

// "HOST:PORT", "[IPv6]:PORT"; empty when it does not read as one.
std::optional<ListenAddress> parseListenAddress(std::string_view text);

struct CommandLine {
    std::string inventory = "/etc/zolvaned/inventory.toml";
    std::string check;  // --check FILE: validate and end
    std::optional<ListenAddress> listen;
    bool verbose = false;
    bool hashToken = false;  // --hash-token: the SHA-256 of a token on standard input, and end
    // --test-clock: the service's calendar starts at this instant (RFC 3339) and runs on.
    std::optional<std::string> testClock;
};

struct ParsedCommandLine {
    std::optional<CommandLine> options;  // empty: end with exitStatus
    int exitStatus = 0;                  // 0 after --help or --version, 2 after a usage error
};

// Prints --help, --version and usage errors itself.
ParsedCommandLine parseCommandLine(int argc, char** argv);

}  // namespace zolvane::service
