// The command line: options and sub-commands, then the chosen command, with the exit status.
#pragma once

#include <ostream>

namespace zolvane::cli {

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace zolvane::cli
