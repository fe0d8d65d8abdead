// The projector emulators that scripts/test-windows starts natively beside Wine, one per
// behaviour, each announced by the TCP port in its own environment variable.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace windows_tests {

// ZOLVANE_EMULATOR_PORT: a well-behaved projector. ZOLVANE_EMULATOR_<FAULT>_PORT: one that
// misbehaves in that way on every reply (NO_REPLY, NAK, GARBAGE, SPLIT, TRICKLE, CLOSE,
// OVERLONG). Empty when the variable is not set.
inline std::string EmulatorPort(const char* variable = "ZOLVANE_EMULATOR_PORT") {
    const char* value = std::getenv(variable);
    return value != nullptr ? value : "";
}

}  // namespace windows_tests

// Skips the running test when the emulator it talks to was not started.
#define REQUIRE_EMULATOR(port, variable)                                 \
    do {                                                                 \
        if ((port).empty()) GTEST_SKIP() << (variable) << " is not set"; \
    } while (false)
