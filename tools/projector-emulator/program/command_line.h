// The program's command line, turned into emulator options and a fault to start with.
#pragma once

#include <optional>

#include "projector_emulator/emulator.h"
#include "projector_emulator/pjlink_emulator.h"

namespace zolvane::emulator {

struct ProgramSettings {
    Options options;
    FaultConfig fault;
    // With --pjlink the program serves PJLink projectors from pjlink instead of the above.
    bool pjlink = false;
    PjlinkOptions pjlinkOptions;
};

// Fills settings and returns nothing when the program should run; otherwise returns the exit
// status, after printing help, the version or the error.
std::optional<int> parseCommandLine(int argc, char** argv, ProgramSettings& settings);

}  // namespace zolvane::emulator
