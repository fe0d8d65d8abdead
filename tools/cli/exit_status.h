// What the exit status tells a script, and the error that stops a command before anything is sent.
#pragma once

#include <stdexcept>

namespace zolvane::cli {

enum ExitStatus : int {
    ExitOk = 0,
    ExitRefused = 1,       // the projector refused a command or a value could not be read
    ExitUsage = 2,         // something the user gave is wrong; nothing was sent
    ExitLinkFailed = 3,    // port, connection or time-out
    ExitOutputFailed = 4,  // the result could not be written: standard output or the backup file
};

// Raised for a bad name, value, address or file. Every command checks all of its input before
// its first exchange, so this error always means that the projector was left alone.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised when what the command found could not be written (the projector may have been asked
// already), so that a lost result never passes for success nor for a usage error.
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zolvane::cli
