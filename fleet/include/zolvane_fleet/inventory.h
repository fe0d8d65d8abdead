// The inventory: one TOML file naming every projector of a site, its address, its groups and
// its timing; beside them the settings of the programs that read it (the service's [service],
// [mqtt] and pjlink_* keys), read by sections of their own (inventory_section.h). Read whole and
// checked whole: a file with any fault is refused with every fault found, each with its line.
//
//   [defaults]                         # any timing key, for every projector
//   poll_interval_ms = 5000
//
//   [[projector]]
//   name = "hall-a"                    # letters, digits, '-', '_', '.'; unique
//   address = "tcp://10.0.0.21:23"     # or "serial:///dev/ttyUSB0", or "pjlink://HOST[:PORT]"
//   password_file = "/etc/zolvane/hall-a.pass"  # PJLink only: when the projector asks for one
//   groups = ["east-wing", "halls"]
//   label = "Hall A"                   # shown on the web page; the name when left out
//   receive_timeout_ms = 2000          # any timing key, for this projector
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zolvane::fleet {

using Milliseconds = std::chrono::milliseconds;

// How one projector is watched and driven. Keys in the file are the member names in
// snake case with "_ms": poll_interval_ms, slow_poll_interval_ms, ...; offline_after.
struct Timing {
    Milliseconds pollInterval{5000};       // power, input, blank, mute
    Milliseconds slowPollInterval{60000};  // lamp hours, filter hours, error status
    Milliseconds connectTimeout{3000};
    Milliseconds sendTimeout{3000};     // 630 for serial links unless the file says
    Milliseconds receiveTimeout{3000};  // 1000 for serial links unless the file says
    Milliseconds gap{0};                // least time between two exchanges
    Milliseconds coolingWait{120000};   // longest a power-on waits out a cool-down
    unsigned offlineAfter = 3;          // failed polls in a row before "offline"
    unsigned maxQueued = 16;            // commands waiting; more are refused at once
    unsigned pollAfterCommands = 2;     // a due poll waits behind at most this many commands

    bool operator==(const Timing&) const = default;
};

struct ProjectorEntry {
    std::string name;
    std::string label;  // the name when the file gives none
    std::string address;
    std::vector<std::string> groups;
    Timing timing;
    // A PJLink projector's password file (its first line is the password); empty: none.
    std::string passwordFile;
    int line = 0;  // where the entry starts in the file

    // The same projector, driven the same way: all but the line.
    bool sameAs(const ProjectorEntry& other) const {
        return name == other.name && label == other.label && address == other.address &&
               groups == other.groups && timing == other.timing &&
               passwordFile == other.passwordFile;
    }
};

struct Inventory {
    std::vector<ProjectorEntry> projectors;  // in file order

    const ProjectorEntry* find(std::string_view name) const;
    // Every group named by some projector, sorted, each once.
    std::vector<std::string> groups() const;
};

struct Fault {
    int line = 0;  // 1-based; 0 when the fault has no place (the file cannot be read)
    int column = 0;
    std::string reason;
};

struct LoadResult {
    std::optional<Inventory> inventory;  // set only when faults is empty
    std::vector<Fault> faults;           // in line order
};

class InventorySection;
using Sections = std::span<InventorySection* const>;

// Checks names (unique, and "all" is no group name), addresses (as the link API reads them),
// types and ranges of every key, and refuses unknown keys and tables; every other table and
// projector key goes to the sections, in their order, until one takes it.
// Host names of addresses are looked up (at most 2 s for all) to find one projector under two
// names; lookUpNames false compares them as written.
LoadResult parseInventory(std::string_view text, bool lookUpNames = true, Sections sections = {});
LoadResult loadInventory(const std::filesystem::path& file, Sections sections = {});

// "FILE:LINE:COLUMN: reason", or "FILE: reason" for a fault without a line.
std::string describe(const std::filesystem::path& file, const Fault& fault);

}  // namespace zolvane::fleet
