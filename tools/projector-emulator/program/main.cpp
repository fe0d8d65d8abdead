#include <signal.h>
#include <sys/resource.h>

#include <iostream>

#include "command_line.h"
#include "projector_emulator/emulator.h"
#include "projector_emulator/pjlink_emulator.h"

using namespace zolvane::emulator;

namespace {

// Serves until SIGINT or SIGTERM, after saying where and that it is ready.
template <typename Emulator>
int serveUntilSignal(Emulator& emulator, const sigset_t& endSignals, bool tcp, bool pty,
                     const std::string& host) {
    std::string error;
    if (!emulator.start(&error)) {
        std::cerr << "projector-emulator: " << error << std::endl;
        return 1;
    }

    // Whoever started us waits for these lines instead of guessing how long start-up takes.
    for (std::size_t i = 0; tcp && i < emulator.count(); ++i) {
        std::cout << "tcp " << host << ':' << emulator.tcpPort(i) << '\n';
    }
    if constexpr (requires { emulator.ptyPath(0); }) {
        for (std::size_t i = 0; pty && i < emulator.count(); ++i) {
            std::cout << "pty " << emulator.ptyPath(i) << '\n';
        }
    }
    std::cout << "ready" << std::endl;

    int received = 0;
    while (sigwait(&endSignals, &received) != 0) {
    }
    emulator.stop();
    return 0;
}

int serve(const ProgramSettings& settings) {
    // Blocked before any thread starts, so that every thread inherits the mask and the
    // signals reach only the sigwait below.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    // Thousands of clients need thousands of descriptors: take what the hard limit allows.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    if (settings.pjlink) {
        PjlinkEmulator emulator(settings.pjlinkOptions);
        return serveUntilSignal(emulator, endSignals, true, false, settings.pjlinkOptions.host);
    }
    Emulator emulator(settings.options);
    for (std::size_t i = 0; i < emulator.count(); ++i) {
        emulator.setFault(settings.fault, i);
    }
    return serveUntilSignal(emulator, endSignals, settings.options.tcp, settings.options.pty,
                            settings.options.host);
}

}  // namespace

int main(int argc, char** argv) {
    ProgramSettings settings;
    if (auto exitStatus = parseCommandLine(argc, argv, settings)) {
        return *exitStatus;
    }
    try {
        return serve(settings);
    } catch (const std::exception& failure) {
        // Only setting up can get here (the serving loop keeps its failures to one client).
        std::cerr << "projector-emulator: " << failure.what() << std::endl;
        return 1;
    }
}
