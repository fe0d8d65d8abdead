// zolvane check: lamp hours, filter hours and the error status as one line for a monitoring
// system, with the exit status monitoring plug-ins use.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>
#include <vector>

#include "command_context.h"
#include "inventory_targets.h"

namespace zolvane::cli {

// The plug-in exit statuses; usage errors of check are UNKNOWN too.
enum CheckState : int { CheckOk = 0, CheckWarning = 1, CheckCritical = 2, CheckUnknown = 3 };

struct CheckLimits {
    unsigned lampWarning = 2500;
    unsigned lampCritical = 3000;
    unsigned filterWarning = 900;
    unsigned filterCritical = 1000;
};

// The sub-command and its threshold options; chosen is set when it is the one given.
void AddCheckCommand(CLI::App& app, CheckLimits& limits, bool& chosen);

// Checks the projectors (the options' one link when targets is empty), prints the one line and
// returns the state. Raises UsageError for limits that contradict each other.
int RunCheck(const std::vector<NamedTarget>& targets, unsigned jobs, const GlobalOptions& options,
             const CheckLimits& limits, std::ostream& out);

}  // namespace zolvane::cli
