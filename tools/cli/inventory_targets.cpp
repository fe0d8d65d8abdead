#include "inventory_targets.h"

#include <algorithm>
#include <set>
#include <string_view>

#include "exit_status.h"
#include "inventory_location.h"

#ifdef ZOLVANE_HAVE_INVENTORY
#include "settings.h"  // zolvaned's, which checks the inventory whole
#include "zolvane_fleet/inventory.h"
#endif

namespace zolvane::cli {

std::vector<std::string> TakeTargetWords(std::vector<std::string>& argv,
                                         const std::vector<std::string>& commands) {
    std::vector<std::string> words;
    auto word = argv.begin() + std::min<std::size_t>(1, argv.size());
    while (word != argv.end()) {
        if (std::find(commands.begin(), commands.end(), *word) != commands.end()) break;
        if (word->starts_with('@')) {
            words.push_back(word->substr(1));
            word = argv.erase(word);
        } else {
            ++word;
        }
    }
    return words;
}

#ifdef ZOLVANE_HAVE_INVENTORY
namespace {

std::size_t Distance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// " (did you mean @room101?)" when a known name is a slip of the pen away.
std::string Nearest(const std::string& word, const fleet::Inventory& inventory) {
    std::vector<std::string> known = inventory.groups();
    known.emplace_back("all");
    for (const fleet::ProjectorEntry& entry : inventory.projectors) known.push_back(entry.name);
    const std::string* best = nullptr;
    std::size_t bestDistance = std::max<std::size_t>(2, word.size() / 3) + 1;
    for (const std::string& name : known) {
        const std::size_t distance = Distance(word, name);
        if (distance < bestDistance) {
            best = &name;
            bestDistance = distance;
        }
    }
    return best == nullptr ? "" : " (did you mean @" + *best + "?)";
}

std::filesystem::path ChooseInventory(const std::optional<std::string>& named) {
    if (named) return *named;
    const std::filesystem::path found = DefaultInventory();
    if (!found.empty()) return found;
    std::string places;
    for (const std::filesystem::path& place : InventorySearchPath()) {
        places += (places.empty() ? "" : ", ") + place.string();
    }
    throw UsageError("no inventory found (looked for " + places +
                     "); name one with --inventory FILE");
}

NamedTarget Target(const fleet::ProjectorEntry& entry, const std::filesystem::path& file) {
    LinkTarget link;
    link.inventoryAddress = entry.address;
    link.kind = entry.address.starts_with("tcp://") || link.pjlink() ? LinkTarget::Network
                                                                     : LinkTarget::Serial;
    link.origin = "inventory " + file.string() + ":" + std::to_string(entry.line);
    link.timing = entry.timing;
    link.passwordFile = entry.passwordFile;
    return {entry.name, std::move(link)};
}

}  // namespace

std::vector<NamedTarget> ResolveTargets(const std::vector<std::string>& words,
                                        const std::optional<std::string>& named) {
    const std::filesystem::path file = ChooseInventory(named);
    const fleet::LoadResult loaded = zolvane::service::loadCheckedInventory(file);
    if (!loaded.inventory) {
        // Every fault on a line of its own, as the fleet service's --check prints them.
        std::string faults = "the inventory has faults:";
        for (const fleet::Fault& fault : loaded.faults) {
            faults += "\nzolvane: " + fleet::describe(file, fault);
        }
        throw UsageError(faults);
    }
    const fleet::Inventory& inventory = *loaded.inventory;

    std::vector<NamedTarget> targets;
    std::set<std::string> taken;
    const auto add = [&](const fleet::ProjectorEntry& entry) {
        if (taken.insert(entry.name).second) targets.push_back(Target(entry, file));
    };
    for (const std::string& word : words) {
        if (word.empty()) throw UsageError("'@' needs a projector or group name after it");
        const std::vector<std::string> groups = inventory.groups();
        if (const fleet::ProjectorEntry* entry = inventory.find(word)) {
            add(*entry);
        } else if (word == "all" || std::binary_search(groups.begin(), groups.end(), word)) {
            for (const fleet::ProjectorEntry& entry : inventory.projectors) {
                const bool member =
                    word == "all" ||
                    std::find(entry.groups.begin(), entry.groups.end(), word) != entry.groups.end();
                if (member) add(entry);
            }
        } else {
            throw UsageError("unknown target @" + word + " in the inventory " + file.string() +
                             Nearest(word, inventory));
        }
    }
    if (targets.empty()) {
        throw UsageError("no projectors to run on: the inventory " + file.string() + " names none");
    }
    return targets;
}

#else

std::vector<NamedTarget> ResolveTargets(const std::vector<std::string>&,
                                        const std::optional<std::string>&) {
    throw UsageError(
        "projectors by name (@NAME, from an inventory) are not available in this "
        "build; give --serial or --tcp");
}

#endif

}  // namespace zolvane::cli
