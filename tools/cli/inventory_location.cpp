#include "inventory_location.h"

#include <cstdlib>
#include <system_error>

#include "program_paths.h"

namespace zolvane::cli {

std::vector<std::filesystem::path> InventorySearchPath() {
    std::vector<std::filesystem::path> places;
    if (const char* named = std::getenv("ZOLVANE_INVENTORY"); named != nullptr && *named != '\0') {
        places.emplace_back(named);
    }
    places.push_back(UserSettingsFolder() / "zolvane" / "inventory.toml");
#ifndef _WIN32
    places.emplace_back("/etc/zolvaned/inventory.toml");
#endif
    return places;
}

std::filesystem::path DefaultInventory() {
    for (const std::filesystem::path& place : InventorySearchPath()) {
        std::error_code error;
        if (std::filesystem::is_regular_file(place, error)) return place;
    }
    return {};
}

}  // namespace zolvane::cli
