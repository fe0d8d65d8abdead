// The hidden sub-command the shell completion scripts ask for their candidates.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

#include "command_context.h"

namespace zolvane::cli {

// Adds `__complete WHAT [ARGS]`, left out of --help; it prints one candidate per line:
//   commands                 the sub-commands
//   options [COMMAND]        the options of the tool, or of one sub-command
//   valued-options [COMMAND] the options that take a value, the tool's and those of COMMAND
//   settings [COMMAND]       the setting names, only those COMMAND (get, set, ...) works on
//   values SETTING|COMMAND   the names a set of that setting, or that sub-command, takes
//   targets [INVENTORY]      @all and every projector and group of the inventory
void AddCompletionCommand(CLI::App& app, std::function<int(CommandContext&)>& action);

}  // namespace zolvane::cli
