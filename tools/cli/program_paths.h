// What the settings file's place depends on that only the operating system knows; posix/ and
// win32/ each implement it.
#pragma once

#include <filesystem>

namespace zolvane::cli {

// The folder that holds this program's file; empty when the system does not say.
std::filesystem::path ProgramFolder();

// The per-user folder where programs keep their settings; relative when the environment names
// none.
std::filesystem::path UserSettingsFolder();

}  // namespace zolvane::cli
