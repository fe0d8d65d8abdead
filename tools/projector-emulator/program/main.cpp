#include <signal.h>

#include <iostream>

#include "command_line.h"
#include "projector_emulator/emulator.h"

using namespace zolvane::emulator;

int main(int argc, char** argv) {
    ProgramSettings settings;
    if (auto exitStatus = parseCommandLine(argc, argv, settings)) {
        return *exitStatus;
    }

    // Blocked before any thread starts, so that every thread inherits the mask and the
    // signals reach only the sigwait below.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    Emulator emulator(settings.options);
    emulator.setFault(settings.fault);
    std::string error;
    if (!emulator.start(&error)) {
        std::cerr << "projector-emulator: " << error << std::endl;
        return 1;
    }

    // Whoever started us waits for these lines instead of guessing how long start-up takes.
    if (settings.options.tcp) {
        std::cout << "tcp " << settings.options.host << ':' << emulator.tcpPort() << '\n';
    }
    if (settings.options.pty) {
        std::cout << "pty " << emulator.ptyPath() << '\n';
    }
    std::cout << "ready" << std::endl;

    int received = 0;
    while (sigwait(&endSignals, &received) != 0) {
    }
    emulator.stop();
    return 0;
}
