// Programs run by the tests: the tool itself, to completion, and helpers such as socat in the
// background; the spawning and the free port the other children of the tests use as well.
#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace cli_testing {

struct Finished {
    int status = -1;  // the exit status; -1 when it was killed or did not start
    std::string out;
    std::string err;
};

// Where the program's standard output goes: to the test, to a device that is always full, or
// nowhere (the descriptor closed).
enum class Output { Read, Full, Closed };

// A loopback TCP port with nothing listening on it a moment ago; 0 when none could be had.
uint16_t FreePort();

// Starts argv[0] with its standard input from /dev/null and its other descriptors as the file
// actions say; the actions are destroyed. extraEnvironment ("NAME=value") is added to this
// process's environment for it. -1 when the program could not start.
pid_t Spawn(const std::vector<std::string>& argv, posix_spawn_file_actions_t& actions,
            const std::vector<std::string>& extraEnvironment = {});

// Runs the program to its end, reading both outputs; one that has not finished after the
// time-out is killed and reported with status -1.
Finished Run(const std::vector<std::string>& argv,
             std::chrono::seconds timeout = std::chrono::seconds(90), Output output = Output::Read);

// A program that runs until the object goes away.
class Background {
public:
    explicit Background(const std::vector<std::string>& argv);
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() const;

private:
    pid_t pid_ = -1;
};

}  // namespace cli_testing
