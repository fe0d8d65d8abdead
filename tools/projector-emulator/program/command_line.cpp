#include "command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <limits>
#include <map>
#include <string>

namespace zolvane::emulator {
namespace {

// Times of up to a day: a mistyped value is refused with integer limits in its message.
const CLI::Range kMilliseconds(0LL, 86'400'000LL);

}  // namespace

std::optional<int> parseCommandLine(int argc, char** argv, ProgramSettings& settings) {
    Options& options = settings.options;
    FaultConfig& fault = settings.fault;
    options.port = 2323;

    CLI::App app{"Answers projector command frames over TCP and a pseudo-terminal."};
    app.set_version_flag("--version", std::string("projector-emulator ") + ZOLVANE_VERSION);

    bool noTcp = false;
    long long coolingMs = options.coolingTime.count();
    long long delayMs = 0;
    long long pauseMs = fault.pause.count();
    unsigned faultFrames = 0;
    long long idleMs = options.idleTimeout.count();
    std::size_t logLimit = 10'000;
    std::uint16_t faultType = 0;

    const std::map<std::string, PowerState> powerStates{{"on", PowerState::On},
                                                        {"off", PowerState::Off}};
    const std::map<std::string, FaultKind> faultKinds{
        {"none", FaultKind::None},   {"no-reply", FaultKind::NoReply},
        {"nak", FaultKind::Nak},     {"garbage", FaultKind::Garbage},
        {"split", FaultKind::Split}, {"trickle", FaultKind::Trickle},
        {"close", FaultKind::Close}, {"overlong", FaultKind::Overlong}};

    app.add_option("--host", options.host, "Address to listen on")->capture_default_str();
    app.add_option("--port", options.port, "TCP port; 0 picks a free one")->capture_default_str();
    app.add_flag("--no-tcp", noTcp, "Do not listen on TCP");
    app.add_flag("--pty", options.pty, "Serve a pseudo-terminal as the serial port");
    app.add_option("--count", options.count,
                   "Projectors to emulate, on consecutive ports from --port (and a pty each)")
        ->check(CLI::Range(std::size_t{1}, std::size_t{4096}))
        ->capture_default_str();
    app.add_option("--max-connections", options.maxConnections,
                   "Clients served at once; a new one beyond it replaces the quietest")
        ->check(CLI::Range(std::size_t{1}, std::size_t{1'000'000}))
        ->capture_default_str();
    app.add_option("--idle-timeout", idleMs, "Disconnect a client silent this many ms; 0 never")
        ->check(kMilliseconds)
        ->capture_default_str();
    app.add_option("--log-limit", logLimit, "Frames kept in memory, over all projectors")
        ->check(CLI::Range(std::size_t{1}, std::size_t{10'000'000}))
        ->capture_default_str();
    app.add_option("--link", options.linkPath,
                   "Symbolic link to the pseudo-terminal (implies --pty)");
    app.add_option("--power", options.initialPower, "Power state at start: on or off")
        ->transform(CLI::CheckedTransformer(powerStates, CLI::ignore_case).description(""))
        ->type_name("on|off")
        ->default_str("on");
    app.add_option("--cooling-ms", coolingMs, "Cooling-down time after switching off")
        ->check(kMilliseconds)
        ->capture_default_str();
    app.add_option("--delay", delayMs, "Wait this many ms before every reply")
        ->check(kMilliseconds);
    app.add_option("--fault", fault.kind, "Misbehaviour of every reply")
        ->transform(CLI::CheckedTransformer(faultKinds, CLI::ignore_case).description(""))
        ->type_name("none|no-reply|nak|garbage|split|trickle|close|overlong")
        ->default_str("none");
    app.add_option("--pause", pauseMs, "Pause between the pieces of a split or trickled reply")
        ->check(kMilliseconds)
        ->capture_default_str();
    app.add_option("--fault-frames", faultFrames, "Misbehave for this many frames only")
        ->check(CLI::Range(1u, std::numeric_limits<unsigned>::max()));
    app.add_option("--fault-type", faultType, "Misbehave only for this type code (e.g. 0x2003)");
    app.add_flag("--verbose", options.verbose, "Log every frame and reply to standard error");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    }

    options.tcp = !noTcp;
    options.pty = options.pty || !options.linkPath.empty();
    options.coolingTime = std::chrono::milliseconds{coolingMs};
    options.idleTimeout = std::chrono::milliseconds{idleMs};
    options.frameLogLimit = std::max<std::size_t>(1, logLimit / options.count);
    fault.delay = std::chrono::milliseconds{delayMs};
    fault.pause = std::chrono::milliseconds{pauseMs};
    if (app.count("--fault-frames") > 0) {
        fault.frameCount = faultFrames;
    }
    if (app.count("--fault-type") > 0) {
        fault.onlyType = faultType;
    }
    return std::nullopt;
}

}  // namespace zolvane::emulator
