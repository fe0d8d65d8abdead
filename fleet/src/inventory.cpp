#include "zolvane_fleet/inventory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "zolvane.h"
#include "zolvane_fleet/address_identity.h"
#include "zolvane_fleet/inventory_section.h"
#include "zolvane_fleet/pjlink_address.h"
#include "zolvane_fleet/text.h"
#include "zolvane_link.h"

namespace zolvane::fleet {
namespace {

constexpr std::int64_t kSecond = 1000;
constexpr std::int64_t kDay = kSecond * 24 * 3600;

// Every timing key: where it goes and what it may hold (time-outs as the link takes them).
struct TimingKey {
    std::string_view key;
    std::int64_t min;
    std::int64_t max;
    void (*store)(Timing&, std::int64_t);
};

constexpr TimingKey kTimingKeys[] = {
    {"poll_interval_ms", 100, kDay,
     [](Timing& t, std::int64_t v) { t.pollInterval = Milliseconds(v); }},
    {"slow_poll_interval_ms", 100, kDay,
     [](Timing& t, std::int64_t v) { t.slowPollInterval = Milliseconds(v); }},
    {"connect_timeout_ms", 1, 600000,
     [](Timing& t, std::int64_t v) { t.connectTimeout = Milliseconds(v); }},
    {"send_timeout_ms", 1, 600000,
     [](Timing& t, std::int64_t v) { t.sendTimeout = Milliseconds(v); }},
    {"receive_timeout_ms", 1, 600000,
     [](Timing& t, std::int64_t v) { t.receiveTimeout = Milliseconds(v); }},
    {"gap_ms", 0, 60000, [](Timing& t, std::int64_t v) { t.gap = Milliseconds(v); }},
    {"cooling_wait_ms", 0, 3600 * kSecond,
     [](Timing& t, std::int64_t v) { t.coolingWait = Milliseconds(v); }},
    {"offline_after", 1, 100,
     [](Timing& t, std::int64_t v) { t.offlineAfter = static_cast<unsigned>(v); }},
    {"max_queued", 1, 1024,
     [](Timing& t, std::int64_t v) { t.maxQueued = static_cast<unsigned>(v); }},
    {"poll_after_commands", 1, 1000,
     [](Timing& t, std::int64_t v) { t.pollAfterCommands = static_cast<unsigned>(v); }},
};

const TimingKey* findTimingKey(std::string_view key) {
    for (const TimingKey& entry : kTimingKeys) {
        if (entry.key == key) return &entry;
    }
    return nullptr;
}

bool validName(std::string_view name) {
    if (name.empty() || name.size() > 64) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    });
}

// Reads one file into faults and values; every check records its fault and goes on.
class Reader : public InventoryChecks {
public:
    Sections sections;

    // A table or projector key the fleet does not read: the first section that takes it.
    template <typename Offer>
    void offer(const toml::key& key, const toml::node& node, std::string_view where, Offer take) {
        for (InventorySection* section : sections) {
            if (take(*section)) return;
        }
        unknownKey(key, node, where);
    }

    // Timing keys the file gives, in [defaults] or in the projector being read.
    std::set<std::string_view> givenDefaults;
    std::set<std::string_view> given;
    bool lookUpNames = true;

    // A timing key; false when the key is none.
    bool timing(const toml::key& key, const toml::node& node, Timing& timing) {
        const TimingKey* entry = findTimingKey(key.str());
        if (entry == nullptr) return false;
        given.insert(entry->key);
        if (const auto value = integer(key, node, entry->min, entry->max)) {
            entry->store(timing, *value);
        }
        return true;
    }

    void defaults(const toml::table& table, Timing& timing) {
        for (const auto& [key, node] : table) {
            if (!this->timing(key, node, timing)) unknownKey(key, node, " in [defaults]");
        }
        givenDefaults.insert(given.begin(), given.end());
        given.clear();
    }

    void groups(const toml::node& node, ProjectorEntry& entry) {
        const toml::array* list = node.as_array();
        if (list == nullptr) {
            fault(node.source(), "\"groups\" must be an array of strings");
            return;
        }
        for (const toml::node& item : *list) {
            const auto* s = item.as_string();
            if (s == nullptr) {
                fault(item.source(), "a group must be a string");
            } else if (s->get() == "all") {
                fault(item.source(), "\"all\" cannot be a group name: it means every projector");
            } else if (!validName(s->get())) {
                fault(item.source(), "bad group name " + inQuotes(s->get()) +
                                         ": 1 to 64 letters, digits, '-', '_' or '.'");
            } else if (std::find(entry.groups.begin(), entry.groups.end(), s->get()) ==
                       entry.groups.end()) {
                entry.groups.push_back(s->get());
            }
        }
    }

    void address(const toml::node& node, const std::string& text) {
        if (isPjlinkAddress(text)) {
            std::string wrong;
            if (!parsePjlinkAddress(text, &wrong)) {
                fault(node.source(), "address " + inQuotes(text) + " cannot be used: " + wrong +
                                         " (\"pjlink://HOST[:PORT]\")");
            }
            return;
        }
        zv_result why = 0;
        zv_link* link = zv_link_open(text.c_str(), &why);
        if (link != nullptr) {
            zv_link_close(link);
            return;
        }
        fault(node.source(), "address " + inQuotes(text) +
                                 " cannot be used: " + ZV_GetResultText(why) +
                                 " (\"tcp://HOST[:PORT]\", \"serial://DEVICE\" or "
                                 "\"pjlink://HOST[:PORT]\")");
    }

    // The entry as read, and whether it is sound.
    std::pair<ProjectorEntry, bool> projector(const toml::table& table, const Timing& defaults) {
        ProjectorEntry entry;
        entry.timing = defaults;
        entry.line = static_cast<int>(table.source().begin.line);
        given = givenDefaults;
        bool named = false;
        bool addressed = false;
        std::optional<toml::source_region> passwordAt;
        const std::size_t faultsBefore = faults.size();
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            if (name == "name") {
                named = true;
                if (const auto text = string(key, node)) {
                    if (!validName(*text)) {
                        fault(node.source(), "bad projector name " + inQuotes(*text) +
                                                 ": 1 to 64 letters, digits, '-', '_' or '.'");
                    }
                    entry.name = *text;
                }
            } else if (name == "address") {
                addressed = true;
                if (const auto text = string(key, node)) {
                    address(node, *text);
                    entry.address = *text;
                }
            } else if (name == "label") {
                if (const auto text = string(key, node)) {
                    // Shown on the web page and written to the log: one plain line.
                    const auto characters = characterCount(*text);
                    if (!characters || *characters > 128 || hasControl(*text)) {
                        fault(node.source(),
                              "\"label\" must be at most 128 characters, without control "
                              "characters");
                    }
                    entry.label = *text;
                }
            } else if (name == "groups") {
                groups(node, entry);
            } else if (name == "password_file") {
                if (const auto text = string(key, node)) {
                    entry.passwordFile = *text;
                    passwordAt = node.source();
                }
            } else if (!timing(key, node, entry.timing)) {
                offer(key, node, " in [[projector]]",
                      [&, &key = key, &node = node](InventorySection& section) {
                          return section.projectorKey(key, node, *this);
                      });
            }
        }
        if (!named) fault(table.source(), "projector without a \"name\"");
        if (!addressed) fault(table.source(), "projector without an \"address\"");
        if (entry.label.empty()) entry.label = entry.name;
        if (passwordAt && !isPjlinkAddress(entry.address)) {
            fault(*passwordAt, "\"password_file\" is for \"pjlink://\" addresses only");
        } else if (passwordAt) {
            std::string why;
            if (!readPjlinkPassword(entry.passwordFile, &why)) {
                fault(*passwordAt,
                      "\"password_file\" " + inQuotes(entry.passwordFile) + ": " + why);
            }
        }
        // A serial projector answers within a frame's time or not at all: unless the file says
        // otherwise, it gets the serial time-outs the link itself uses.
        if (!entry.address.starts_with("tcp://") && !isPjlinkAddress(entry.address)) {
            if (!given.contains("send_timeout_ms")) entry.timing.sendTimeout = Milliseconds(630);
            if (!given.contains("receive_timeout_ms")) {
                entry.timing.receiveTimeout = Milliseconds(1000);
            }
        }
        for (InventorySection* section : sections) section->projectorRead(entry, table, *this);
        const bool sound = faults.size() == faultsBefore;
        return {std::move(entry), sound};
    }

    void projectors(const toml::key& key, const toml::node& node, const Timing& defaults,
                    Inventory& inventory) {
        const toml::array* list = node.as_array();
        if (list == nullptr || (!list->empty() && !list->is_array_of_tables())) {
            fault(key.source(), "\"projector\" must be an array of tables ([[projector]])");
            return;
        }
        std::map<std::string, int> names;  // the line of each name's first use
        struct Read {
            ProjectorEntry entry;
            bool sound;
            toml::source_region source;
        };
        std::vector<Read> read;
        for (const toml::node& item : *list) {
            auto [entry, sound] = projector(*item.as_table(), defaults);
            if (!entry.name.empty()) {
                const auto [first, added] = names.emplace(entry.name, entry.line);
                if (!added) {
                    fault(item.source(), "projector name " + inQuotes(entry.name) +
                                             " is used twice (first on line " +
                                             std::to_string(first->second) + ")");
                    sound = false;
                }
            }
            read.push_back(Read{std::move(entry), sound, item.source()});
        }
        sameProjector(read);
        for (Read& one : read) {
            if (one.sound) inventory.projectors.push_back(std::move(one.entry));
        }
    }

    // Two entries for one projector, under any two spellings of its address, would let two
    // queues exchange with it at once: the later one is refused.
    template <typename Read>
    void sameProjector(std::vector<Read>& read) {
        std::vector<std::string> addresses;
        addresses.reserve(read.size());
        for (const Read& one : read) addresses.push_back(one.entry.address);
        const auto identities =
            addressIdentities(addresses, lookUpNames ? std::chrono::milliseconds(2000)
                                                     : std::chrono::milliseconds(0));
        std::map<std::string, std::size_t> seen;  // each identity's first entry
        for (std::size_t i = 0; i < read.size(); ++i) {
            if (read[i].entry.address.empty()) continue;
            std::optional<std::size_t> first;
            for (const std::string& identity : identities[i]) {
                const auto [at, added] = seen.emplace(identity, i);
                if (!added && !first) first = at->second;
            }
            if (!first) continue;
            const ProjectorEntry& earlier = read[*first].entry;
            const std::string where = " (first on line " + std::to_string(earlier.line) + ")";
            if (earlier.address == read[i].entry.address) {
                fault(read[i].source,
                      "address " + inQuotes(read[i].entry.address) + " is used twice" + where);
            } else {
                fault(read[i].source,
                      "address " + inQuotes(read[i].entry.address) + " leads to the projector of " +
                          inQuotes(earlier.address) + " on line " + std::to_string(earlier.line) +
                          ": one projector, one entry");
            }
            read[i].sound = false;
        }
    }
};

}  // namespace

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

void InventoryChecks::fault(const toml::source_region& where, std::string reason) {
    faults.push_back(Fault{static_cast<int>(where.begin.line), static_cast<int>(where.begin.column),
                           std::move(reason)});
}

void InventoryChecks::unknownKey(const toml::key& key, const toml::node& node,
                                 std::string_view where) {
    const bool table = node.is_table() || node.is_array_of_tables();
    fault(key.source(), std::string(table ? "unknown table " : "unknown key ") +
                            inQuotes(key.str()) + std::string(where));
}

const toml::table* InventoryChecks::table(const toml::key& key, const toml::node& node) {
    if (const toml::table* t = node.as_table()) return t;
    fault(key.source(), inQuotes(key.str()) + " must be a table");
    return nullptr;
}

std::optional<std::string> InventoryChecks::string(const toml::key& key, const toml::node& node) {
    if (const auto* s = node.as_string()) return s->get();
    fault(node.source(), inQuotes(key.str()) + " must be a string");
    return std::nullopt;
}

std::optional<std::int64_t> InventoryChecks::integer(const toml::key& key, const toml::node& node,
                                                     std::int64_t min, std::int64_t max) {
    const auto* i = node.as_integer();
    if (i == nullptr) {
        fault(node.source(), inQuotes(key.str()) + " must be an integer");
        return std::nullopt;
    }
    if (i->get() < min || i->get() > max) {
        fault(node.source(), inQuotes(key.str()) + " is " + std::to_string(i->get()) +
                                 ", out of range " + std::to_string(min) + ".." +
                                 std::to_string(max));
        return std::nullopt;
    }
    return i->get();
}

std::optional<std::string> readSmallFile(const std::string& path, std::string* why) {
    constexpr std::size_t kLargest = std::size_t{64} * 1024;
    std::error_code error;
    if (path.empty() || path.find('\0') != std::string::npos) {
        *why = "no file named";
        return {};
    }
    if (!std::filesystem::is_regular_file(path, error)) {
        *why = error ? error.message() : "not a regular file";
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = std::strerror(errno);
        return {};
    }
    std::string text(kLargest + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kLargest) {
        *why = "larger than 64 KiB";
        return {};
    }
    return text;
}

std::vector<const toml::table*> InventoryChecks::tables(const toml::key& key,
                                                        const toml::node& node) {
    std::vector<const toml::table*> tables;
    const toml::array* array = node.as_array();
    if (!array || !node.is_array_of_tables()) {
        fault(key.source(), inQuotes(key.str()) + " must be an array of tables: [[" +
                                std::string(key.str()) + "]]");
        return tables;
    }
    for (const toml::node& item : *array) tables.push_back(item.as_table());
    return tables;
}

std::optional<std::vector<std::string>> InventoryChecks::strings(const toml::key& key,
                                                                 const toml::node& node) {
    if (const auto* s = node.as_string()) return std::vector<std::string>{s->get()};
    std::vector<std::string> list;
    if (const toml::array* array = node.as_array()) {
        for (const toml::node& item : *array) {
            const auto* s = item.as_string();
            if (!s) break;
            list.push_back(s->get());
        }
        if (list.size() == array->size()) return list;
    }
    fault(node.source(), inQuotes(key.str()) + " must be a string or a list of strings");
    return std::nullopt;
}

std::vector<std::string> resolveTargets(const std::vector<std::string>& targets,
                                        const std::vector<TargetedProjector>& projectors,
                                        const std::function<void(std::string reason)>& unknown) {
    std::vector<bool> chosen(projectors.size(), false);
    for (const std::string& target : targets) {
        const bool group = target.starts_with('@');
        bool found = false;
        for (std::size_t i = 0; i < projectors.size(); ++i) {
            const TargetedProjector& p = projectors[i];
            const bool match =
                target == "@all" || (group ? std::find(p.groups.begin(), p.groups.end(),
                                                       target.substr(1)) != p.groups.end()
                                           : p.name == target);
            if (match) chosen[i] = found = true;
        }
        if (!found && target != "@all") {
            unknown(group ? "no group " + inQuotes(target.substr(1))
                          : "no projector " + inQuotes(target));
        }
    }
    std::vector<std::string> named;
    for (std::size_t i = 0; i < projectors.size(); ++i) {
        if (chosen[i]) named.push_back(projectors[i].name);
    }
    return named;
}

const ProjectorEntry* Inventory::find(std::string_view name) const {
    for (const ProjectorEntry& entry : projectors) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

std::vector<std::string> Inventory::groups() const {
    std::set<std::string> all;
    for (const ProjectorEntry& entry : projectors)
        all.insert(entry.groups.begin(), entry.groups.end());
    return {all.begin(), all.end()};
}

LoadResult parseInventory(std::string_view text, bool lookUpNames, Sections sections) {
    LoadResult result;
    toml::table root;
    try {
        root = toml::parse(text);
    } catch (const toml::parse_error& error) {
        result.faults.push_back(Fault{static_cast<int>(error.source().begin.line),
                                      static_cast<int>(error.source().begin.column),
                                      std::string(error.description())});
        return result;
    }

    Reader reader;
    reader.lookUpNames = lookUpNames;
    reader.sections = sections;
    Inventory inventory;
    // Defaults first, wherever the file puts them, so that every projector inherits them.
    Timing defaults;
    for (const auto& [key, node] : root) {
        if (key.str() == "defaults") {
            if (const toml::table* table = reader.table(key, node))
                reader.defaults(*table, defaults);
        }
    }
    for (const auto& [key, node] : root) {
        const std::string_view name = key.str();
        if (name == "defaults") continue;
        if (name == "projector") {
            reader.projectors(key, node, defaults, inventory);
        } else {
            reader.offer(key, node, "", [&, &key = key, &node = node](InventorySection& section) {
                return section.table(key, node, reader);
            });
        }
    }
    for (InventorySection* section : sections) section->finish(reader);
    result.faults = std::move(reader.faults);
    std::stable_sort(result.faults.begin(), result.faults.end(),
                     [](const Fault& a, const Fault& b) {
                         return a.line != b.line ? a.line < b.line : a.column < b.column;
                     });
    if (result.faults.empty()) result.inventory = std::move(inventory);
    return result;
}

LoadResult loadInventory(const std::filesystem::path& file, Sections sections) {
    const auto refused = [](std::string reason) {
        LoadResult result;
        result.faults.push_back(Fault{0, 0, std::move(reason)});
        return result;
    };
    // Without O_NONBLOCK a FIFO would wait for a writer for ever; anything but a regular file
    // (a device such as /dev/zero, a FIFO, a socket) is refused before a byte is read.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return refused(std::string("cannot be read: ") + std::strerror(errno));
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return refused(std::string("cannot be read: ") + std::strerror(error));
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return refused(S_ISDIR(status.st_mode)
                           ? "cannot be read: it is a folder"
                           : "cannot be read: it is not a regular file (a device, FIFO or socket)");
    }
    constexpr std::size_t kLargest = std::size_t{16} * 1024 * 1024;
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return refused(std::string("cannot be read: ") + std::strerror(error));
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kLargest) {  // checked as read: the file may be growing
            ::close(fd);
            return refused("is larger than 16 MiB: not an inventory");
        }
    }
    ::close(fd);
    return parseInventory(text, true, sections);
}

std::string describe(const std::filesystem::path& file, const Fault& fault) {
    // A reason quotes what the file holds: shown safely on a terminal or in the log.
    const std::string reason = printable(fault.reason);
    if (fault.line <= 0) return file.string() + ": " + reason;
    return file.string() + ":" + std::to_string(fault.line) + ":" + std::to_string(fault.column) +
           ": " + reason;
}

}  // namespace zolvane::fleet
