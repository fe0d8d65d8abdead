// Projectors named on the command line with '@': one projector, a group, or every projector of
// the fleet's inventory.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "link_target.h"

namespace zolvane::cli {

struct NamedTarget {
    std::string name;  // the projector's name in the inventory
    LinkTarget link;
};

// Takes the words that begin with '@' out of argv, up to the first word that is one of the
// commands, and returns them without their '@'.
std::vector<std::string> TakeTargetWords(std::vector<std::string>& argv,
                                         const std::vector<std::string>& commands);

// Each projector the words name, once, in the order first named (a group in the inventory's
// order). Reads the inventory named, or the default one. Raises UsageError naming the fault:
// no inventory, one with faults (each with its line), an unknown name (with the nearest known
// one), or words that name no projector at all.
std::vector<NamedTarget> ResolveTargets(const std::vector<std::string>& words,
                                        const std::optional<std::string>& inventory);

}  // namespace zolvane::cli
