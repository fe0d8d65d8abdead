#include "command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace zolvane::emulator {
namespace {

// Times of up to a day: a mistyped value is refused with integer limits in its message.
const CLI::Range kMilliseconds(0LL, 86'400'000LL);

const std::map<std::string, PjlinkFault> kPjlinkFaults{
    {"none", PjlinkFault::None},
    {"err4", PjlinkFault::Err4},
    {"silent", PjlinkFault::Silent},
    {"close-after-one", PjlinkFault::CloseAfterOne},
    {"close-early", PjlinkFault::CloseEarly},
    {"garbage", PjlinkFault::Garbage},
    {"overlong", PjlinkFault::Overlong},
    {"binary", PjlinkFault::Binary}};

// The first line of the file, without its line ending.
std::string readPassword(const std::string& path) {
    std::ifstream file(path);
    std::string password;
    if (!file || (!std::getline(file, password) && !file.eof())) {
        throw CLI::ValidationError("--password-file", "cannot read " + path);
    }
    while (!password.empty() && (password.back() == '\r' || password.back() == '\n')) {
        password.pop_back();
    }
    return password;
}

}  // namespace

std::optional<int> parseCommandLine(int argc, char** argv, ProgramSettings& settings) {
    Options& options = settings.options;
    FaultConfig& fault = settings.fault;
    options.port = 2323;

    CLI::App app{
        "Answers projector command frames over TCP and a pseudo-terminal, or PJLink over TCP."};
    app.set_version_flag("--version", std::string("projector-emulator ") + ZOLVANE_VERSION);

    bool noTcp = false;
    long long coolingMs = options.coolingTime.count();
    long long delayMs = 0;
    long long pauseMs = fault.pause.count();
    unsigned faultFrames = 0;
    long long idleMs = options.idleTimeout.count();
    std::size_t logLimit = 10'000;
    std::uint16_t faultType = 0;
    std::string faultName = "none";
    PjlinkOptions& pjlink = settings.pjlinkOptions;
    long long warmUpMs = pjlink.warmUpTime.count();
    std::string passwordFile;

    const std::map<std::string, PowerState> powerStates{{"on", PowerState::On},
                                                        {"off", PowerState::Off}};
    const std::map<std::string, FaultKind> faultKinds{
        {"none", FaultKind::None},   {"no-reply", FaultKind::NoReply},
        {"nak", FaultKind::Nak},     {"garbage", FaultKind::Garbage},
        {"split", FaultKind::Split}, {"trickle", FaultKind::Trickle},
        {"close", FaultKind::Close}, {"overlong", FaultKind::Overlong}};
    std::vector<std::string> faultNames;
    for (const auto& [name, kind] : faultKinds) {
        faultNames.push_back(name);
    }
    for (const auto& [name, kind] : kPjlinkFaults) {
        if (faultKinds.count(name) == 0) {
            faultNames.push_back(name);
        }
    }

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
    app.add_option("--fault", faultName, "Misbehaviour of every reply")
        ->transform(CLI::IsMember(faultNames, CLI::ignore_case).description(""))
        ->type_name(
            "none|no-reply|nak|garbage|split|trickle|close|overlong; with --pjlink "
            "none|err4|silent|close-after-one|close-early|garbage|overlong|binary")
        ->default_str("none");
    app.add_option("--pause", pauseMs, "Pause between the pieces of a split or trickled reply")
        ->check(kMilliseconds)
        ->capture_default_str();
    app.add_option("--fault-frames", faultFrames, "Misbehave for this many frames only")
        ->check(CLI::Range(1u, std::numeric_limits<unsigned>::max()));
    app.add_option("--fault-type", faultType, "Misbehave only for this type code (e.g. 0x2003)");
    app.add_flag("--verbose", options.verbose, "Log every frame and reply to standard error");

    auto* pjlinkFlag =
        app.add_flag("--pjlink", settings.pjlink, "Serve PJLink (port 4352 by default) instead");
    app.add_option("--pjlink-class", pjlink.projectorClass, "PJLink class to answer as")
        ->check(CLI::Range(1, 2))
        ->needs(pjlinkFlag)
        ->capture_default_str();
    auto* password =
        app.add_option("--password", pjlink.password, "PJLink password; none: no authentication")
            ->needs(pjlinkFlag);
    app.add_option("--password-file", passwordFile, "Read the PJLink password from this file")
        ->needs(pjlinkFlag)
        ->excludes(password);
    app.add_option("--warm-up-ms", warmUpMs, "PJLink warm-up time after switching on")
        ->check(kMilliseconds)
        ->needs(pjlinkFlag)
        ->capture_default_str();
    for (const char* frameOnly : {"--no-tcp", "--pty", "--link", "--max-connections", "--log-limit",
                                  "--pause", "--fault-frames", "--fault-type"}) {
        pjlinkFlag->excludes(frameOnly);
    }

    try {
        app.parse(argc, argv);
        std::transform(faultName.begin(), faultName.end(), faultName.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (settings.pjlink) {
            const auto found = kPjlinkFaults.find(faultName);
            if (found == kPjlinkFaults.end()) {
                throw CLI::ValidationError("--fault", faultName + " is no PJLink fault");
            }
            pjlink.fault = found->second;
            if (!passwordFile.empty()) {
                pjlink.password = readPassword(passwordFile);
            }
        } else {
            const auto found = faultKinds.find(faultName);
            if (found == faultKinds.end()) {
                throw CLI::ValidationError("--fault", faultName + " needs --pjlink");
            }
            fault.kind = found->second;
        }
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    }

    if (settings.pjlink) {
        pjlink.host = options.host;
        pjlink.port = app.count("--port") > 0 ? options.port : 4352;
        pjlink.count = options.count;
        pjlink.initiallyOn = app.count("--power") > 0 && options.initialPower == PowerState::On;
        pjlink.warmUpTime = std::chrono::milliseconds{warmUpMs};
        pjlink.coolingTime = std::chrono::milliseconds{coolingMs};
        pjlink.delay = std::chrono::milliseconds{delayMs};
        pjlink.idleTimeout = std::chrono::milliseconds{idleMs};
        pjlink.verbose = options.verbose;
        return std::nullopt;
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
