// backup, restore and diff: a projector's settings to a file, back again, and compared.
#pragma once

#include <filesystem>

#include "command_context.h"
#include "restore_plan.h"

namespace zolvane::cli {

int RunBackup(CommandContext& context, const std::filesystem::path& file);
int RunRestore(CommandContext& context, const std::filesystem::path& file, RestoreChoice choice);
int RunDiff(CommandContext& context, const std::filesystem::path& file, RestoreChoice choice);

}  // namespace zolvane::cli
