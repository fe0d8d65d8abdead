#include "settings_location.h"

#include <system_error>

#include "program_paths.h"

namespace zolvane::cli {

std::filesystem::path DefaultSettingsFile() {
    constexpr const char* kFileName = "Varnix.txt";
    if (const std::filesystem::path folder = ProgramFolder(); !folder.empty()) {
        const std::filesystem::path beside = folder / kFileName;
        std::error_code error;
        if (std::filesystem::exists(beside, error) || FolderWritable(folder)) return beside;
    }
    return UserSettingsFolder() / "varnex" / kFileName;
}

}  // namespace zolvane::cli
