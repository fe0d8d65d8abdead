#include <iostream>

#include "command_line.h"
#include "standard_output.h"

int main(int argc, char** argv) {
    zolvane::cli::WatchStandardOutput();
    const int status = zolvane::cli::RunCommandLine(argc, argv, std::cout, std::cerr);
    return zolvane::cli::FinishStandardOutput(status, std::cerr);
}
