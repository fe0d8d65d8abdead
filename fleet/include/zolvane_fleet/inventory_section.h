// The parts of the inventory that the fleet does not read itself: its other top-level tables
// and the keys of [[projector]] that are not the fleet's, each read by the part of the program
// that uses it. The checks every part reads its keys with are the fleet's, so that every key,
// wherever it is, is refused in the same words.
#pragma once

#include <toml++/toml.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zolvane_fleet/inventory.h"

namespace zolvane::fleet {

// Each check records its fault with its place and the reading goes on.
class InventoryChecks {
public:
    std::vector<Fault> faults;  // in the order found

    void fault(const toml::source_region& where, std::string reason);
    // "unknown key "x"" or "unknown table "x"", followed by where (" in [service]").
    void unknownKey(const toml::key& key, const toml::node& node, std::string_view where);
    const toml::table* table(const toml::key& key, const toml::node& node);
    std::optional<std::string> string(const toml::key& key, const toml::node& node);
    std::optional<std::int64_t> integer(const toml::key& key, const toml::node& node,
                                        std::int64_t min, std::int64_t max);
    // A string or a list of strings.
    std::optional<std::vector<std::string>> strings(const toml::key& key, const toml::node& node);
    // The tables of a [[key]] array; none, with the fault, when it is not one.
    std::vector<const toml::table*> tables(const toml::key& key, const toml::node& node);
};

// A projector as a part that names targets sees it.
struct TargetedProjector {
    std::string name;
    std::vector<std::string> groups;
};

// The projectors that targets name ("@all", "@group" or a projector's name), in inventory order,
// each once. Each target that names none is told to unknown with the reason: "no group "x"" or
// "no projector "x"".
std::vector<std::string> resolveTargets(const std::vector<std::string>& targets,
                                        const std::vector<TargetedProjector>& projectors,
                                        const std::function<void(std::string reason)>& unknown);

std::string inQuotes(std::string_view text);

// A file the inventory names (a token, a password, a template, headers): its text when it is a
// regular file of at most 64 KiB; empty with the reason in *why otherwise, so that a name such as
// /dev/zero or a FIFO never holds up a check.
std::optional<std::string> readSmallFile(const std::string& path, std::string* why);

// One reader of the inventory beside the fleet's. The fleet offers it every top-level table and
// every key of a [[projector]] that is not its own, in file order; what no reader takes is
// refused as unknown.
class InventorySection {
public:
    virtual ~InventorySection() = default;
    // A top-level table other than [defaults] and [[projector]]; false when not this reader's.
    virtual bool table(const toml::key&, const toml::node&, InventoryChecks&) { return false; }
    // A key of the [[projector]] being read; false when not this reader's.
    virtual bool projectorKey(const toml::key&, const toml::node&, InventoryChecks&) {
        return false;
    }
    // The end of each [[projector]], with the entry the fleet read from it.
    virtual void projectorRead(const ProjectorEntry&, const toml::table&, InventoryChecks&) {}
    // The end of the file: checks across tables.
    virtual void finish(InventoryChecks&) {}
};

}  // namespace zolvane::fleet
