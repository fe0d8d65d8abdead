#include "settings_location.h"

#include <system_error>

#include "program_paths.h"

namespace zolvane::cli {

std::filesystem::path DefaultSettingsFile() {
    constexpr const char* kFileName = "Varnix.txt";
    // A program unpacked into a folder of its own keeps its file there; an installed one finds
    // the user's file, as the desktop program does.
    if (const std::filesystem::path folder = ProgramFolder(); !folder.empty()) {
        const std::filesystem::path beside = folder / kFileName;
        std::error_code error;
        if (std::filesystem::exists(beside, error)) return beside;
    }
    return UserSettingsFolder() / "varnex" / kFileName;
}

}  // namespace zolvane::cli
