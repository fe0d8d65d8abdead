// Where the desktop program keeps its settings file when none is named.
#pragma once

#include <filesystem>

namespace zolvane::cli {

// Varnix.txt beside the programs when it exists there, else in the user's settings folder:
// $XDG_CONFIG_HOME/varnex/Varnix.txt (~/.config without it), or %APPDATA%\varnex\Varnix.txt
// on Windows.
std::filesystem::path DefaultSettingsFile();

}  // namespace zolvane::cli
