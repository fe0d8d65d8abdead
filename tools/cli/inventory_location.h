// Where the tool finds the fleet's inventory when --inventory names none.
#pragma once

#include <filesystem>
#include <vector>

namespace zolvane::cli {

// In the order they are tried: $ZOLVANE_INVENTORY when set, the user's own
// ($XDG_CONFIG_HOME/zolvane/inventory.toml, ~/.config without it), then the fleet service's
// (/etc/zolvaned/inventory.toml).
std::vector<std::filesystem::path> InventorySearchPath();

// The first of those that exists; empty when none does.
std::filesystem::path DefaultInventory();

}  // namespace zolvane::cli
