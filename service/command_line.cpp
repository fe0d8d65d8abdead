#include "command_line.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <iostream>

#include "clock.h"

namespace zolvane::service {

std::optional<ListenAddress> parseListenAddress(std::string_view text) {
    ListenAddress address;
    std::string_view port;
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string_view::npos || text.substr(close + 1, 1) != ":") return {};
        address.host = std::string(text.substr(1, close - 1));
        port = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string_view::npos) return {};
        address.host = std::string(text.substr(0, colon));
        if (address.host.find(':') != std::string::npos) return {};  // IPv6 needs brackets
        port = text.substr(colon + 1);
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (address.host.empty() || port.empty() || error != std::errc{} ||
        end != port.data() + port.size() || value > 65535) {
        return {};
    }
    address.port = static_cast<std::uint16_t>(value);
    return address;
}

ParsedCommandLine parseCommandLine(int argc, char** argv) {
    CommandLine options;
    std::string listen;
    CLI::App app{
        "zolvaned: watches and drives a fleet of projectors, with a JSON API over HTTP "
        "and a live web page.",
        "zolvaned"};
    app.set_version_flag("--version", std::string("zolvaned ") + ZOLVANE_VERSION);
    app.add_option("--inventory", options.inventory,
                   "The inventory of projectors; " + options.inventory + " by default")
        ->option_text("FILE");
    app.add_option("--check", options.check,
                   "Check the inventory FILE, name every fault by line, and end")
        ->option_text("FILE");
    app.add_option("--listen", listen,
                   "Listen on HOST:PORT instead of the inventory's address (port 0: any free "
                   "port)")
        ->option_text("HOST:PORT");
    app.add_flag("--verbose", options.verbose, "Log every HTTP request too (debug level)");
    app.add_flag("--hash-token", options.hashToken,
                 "Read a token from standard input and print its SHA-256, for a [[token]]'s "
                 "sha256 key");
    std::string testClock;
    // For the tests of schedules and history, which cannot wait for a real evening.
    app.add_option("--test-clock", testClock)->group("");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return {{}, app.exit(error, std::cout, std::cerr) == 0 ? 0 : 2};
    }
    if (!listen.empty()) {
        options.listen = parseListenAddress(listen);
        if (!options.listen) {
            std::cerr << "zolvaned: --listen " << listen << " is not HOST:PORT\n";
            return {{}, 2};
        }
    }
    if (!testClock.empty()) {
        if (!parseInstant(testClock)) {
            std::cerr << "zolvaned: --test-clock " << testClock
                      << " is not a time such as 2026-03-29T00:59:50Z\n";
            return {{}, 2};
        }
        options.testClock = testClock;
    }
    return {options, 0};
}

}  // namespace zolvane::service
