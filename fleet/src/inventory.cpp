#include "zolvane_fleet/inventory.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <map>
#include <set>

#include "zolvane.h"
#include "zolvane_fleet/address_identity.h"
#include "zolvane_fleet/text.h"
#include "zolvane_link.h"

namespace zolvane::fleet {
namespace {

constexpr std::int64_t kSecond = 1000;
constexpr std::int64_t kDay = 24 * 3600 * kSecond;

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

bool validHostName(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.';
    });
}

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

bool topicChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

// Topic levels of our own: letters, digits, '-', '_', '.', and '/' between levels when several
// levels are allowed; never a wildcard or an empty level.
bool validTopicLevels(std::string_view text, bool several) {
    if (text.empty() || text.size() > 128 || text.front() == '/' || text.back() == '/') {
        return false;
    }
    if (text.find("//") != std::string_view::npos) return false;
    return std::all_of(text.begin(), text.end(),
                       [several](char c) { return topicChar(c) || (several && c == '/'); });
}

// The host's name as one topic level: every other character becomes '-'.
std::string hostSite() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "zolvaned";
    std::string site(name);
    if (const auto dot = site.find('.'); dot != std::string::npos && dot > 0) site.resize(dot);
    for (char& c : site) {
        if (!topicChar(c)) c = '-';
    }
    return site;
}

// Where each [mqtt] key goes and how it is checked; a table so that every key reads alike.
enum class MqttKind { Text, Levels, Level, Integer, Boolean };

struct MqttKey {
    std::string_view key;
    MqttKind kind;
    std::int64_t min = 0;
    std::int64_t max = 0;
    std::string MqttSettings::*text = nullptr;
    void (*store)(MqttSettings&, std::int64_t) = nullptr;
};

const MqttKey kMqttKeys[] = {
    {"host", MqttKind::Text, 0, 0, &MqttSettings::host},
    {"port", MqttKind::Integer, 1, 65535, nullptr,
     [](MqttSettings& m, std::int64_t v) { m.port = static_cast<std::uint16_t>(v); }},
    {"client_id", MqttKind::Text, 0, 0, &MqttSettings::clientId},
    {"username", MqttKind::Text, 0, 0, &MqttSettings::username},
    {"password_file", MqttKind::Text, 0, 0, &MqttSettings::passwordFile},
    {"ca_file", MqttKind::Text, 0, 0, &MqttSettings::caFile},
    {"topic_prefix", MqttKind::Levels, 0, 0, &MqttSettings::topicPrefix},
    {"site", MqttKind::Level, 0, 0, &MqttSettings::site},
    {"qos", MqttKind::Integer, 0, 2, nullptr,
     [](MqttSettings& m, std::int64_t v) { m.qos = static_cast<int>(v); }},
    {"discovery", MqttKind::Boolean, 0, 0, nullptr,
     [](MqttSettings& m, std::int64_t v) { m.discovery = v != 0; }},
    {"discovery_prefix", MqttKind::Levels, 0, 0, &MqttSettings::discoveryPrefix},
    {"keepalive_s", MqttKind::Integer, 5, 3600, nullptr,
     [](MqttSettings& m, std::int64_t v) { m.keepalive = std::chrono::seconds(v); }},
};

// Reads one file into faults and values; every check records its fault and goes on.
class Reader {
public:
    std::vector<Fault> faults;

    void fault(const toml::source_region& where, std::string reason) {
        faults.push_back(Fault{static_cast<int>(where.begin.line),
                               static_cast<int>(where.begin.column), std::move(reason)});
    }

    void unknownKey(const toml::key& key, const toml::node& node, std::string_view where) {
        const bool table = node.is_table() || node.is_array_of_tables();
        fault(key.source(), std::string(table ? "unknown table " : "unknown key ") +
                                inQuotes(key.str()) + std::string(where));
    }

    const toml::table* table(const toml::key& key, const toml::node& node) {
        if (const toml::table* t = node.as_table()) return t;
        fault(key.source(), inQuotes(key.str()) + " must be a table");
        return nullptr;
    }

    std::optional<std::string> string(const toml::key& key, const toml::node& node) {
        if (const auto* s = node.as_string()) return s->get();
        fault(node.source(), inQuotes(key.str()) + " must be a string");
        return std::nullopt;
    }

    std::optional<std::int64_t> integer(const toml::key& key, const toml::node& node,
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

    // Timing keys the file gives, in [defaults] or in the projector being read.
    std::set<std::string_view> givenDefaults;
    // Each PJLink port with its key, checked against the HTTP port once [service] is read.
    std::vector<std::pair<std::uint16_t, toml::source_region>> pjlinkSources;
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

    void service(const toml::table& table, ServiceSettings& service) {
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            if (name == "listen") {
                if (const auto text = string(key, node)) listen(node, *text, service);
            } else if (name == "token_file") {
                if (const auto text = string(key, node)) {
                    if (text->empty()) fault(node.source(), "\"token_file\" must not be empty");
                    service.tokenFile = *text;
                }
            } else if (name == "lamp_warning_hours") {
                if (const auto v = integer(key, node, 0, 65535)) {
                    service.lampWarningHours = static_cast<unsigned>(*v);
                }
            } else if (name == "max_body_bytes") {
                if (const auto v = integer(key, node, 16, 16 * 1024 * 1024)) {
                    service.maxBodyBytes = static_cast<std::size_t>(*v);
                }
            } else if (name == "pjlink_host") {
                if (const auto text = string(key, node)) {
                    in_addr v4{};
                    in6_addr v6{};
                    if (::inet_pton(AF_INET, text->c_str(), &v4) != 1 &&
                        ::inet_pton(AF_INET6, text->c_str(), &v6) != 1 && !validHostName(*text)) {
                        fault(node.source(), "\"pjlink_host\" " + inQuotes(*text) +
                                                 " is no address (e.g. \"0.0.0.0\" or \"::1\")");
                    }
                    service.pjlinkHost = *text;
                }
            } else if (name == "pjlink_idle_timeout_ms") {
                if (const auto v = integer(key, node, 100, 600000)) {
                    service.pjlinkIdleTimeout = Milliseconds(*v);
                }
            } else {
                unknownKey(key, node, " in [service]");
            }
        }
    }

    void mqtt(const toml::table& table, MqttSettings& mqtt) {
        mqtt.line = static_cast<int>(table.source().begin.line);
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            const auto entry = std::find_if(std::begin(kMqttKeys), std::end(kMqttKeys),
                                            [name](const MqttKey& k) { return k.key == name; });
            if (entry == std::end(kMqttKeys)) {
                unknownKey(key, node, " in [mqtt]");
                continue;
            }
            if (entry->kind == MqttKind::Integer) {
                if (const auto v = integer(key, node, entry->min, entry->max)) {
                    entry->store(mqtt, *v);
                }
                continue;
            }
            if (entry->kind == MqttKind::Boolean) {
                if (const auto* b = node.as_boolean()) {
                    entry->store(mqtt, b->get() ? 1 : 0);
                } else {
                    fault(node.source(), inQuotes(key.str()) + " must be true or false");
                }
                continue;
            }
            const auto text = string(key, node);
            if (!text) continue;
            const bool plain = std::none_of(text->begin(), text->end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
            });
            if (text->empty() || !plain) {
                fault(node.source(),
                      inQuotes(key.str()) + " must not be empty nor hold control characters");
            } else if (entry->kind != MqttKind::Text &&
                       !validTopicLevels(*text, entry->kind == MqttKind::Levels)) {
                fault(node.source(),
                      inQuotes(key.str()) + " " + inQuotes(*text) +
                          " is no topic level: letters, digits, '-', '_' or '.'" +
                          (entry->kind == MqttKind::Levels ? ", levels joined by '/'" : "") +
                          "; no '+', '#' or empty level");
            }
            mqtt.*(entry->text) = *text;
        }
        if (mqtt.host.empty() && !table.contains("host")) {
            fault(table.source(), "[mqtt] without a \"host\"");
        }
        if (!mqtt.passwordFile.empty() && mqtt.username.empty()) {
            fault(table["password_file"].node()->source(), "\"password_file\" needs \"username\"");
        }
        if (mqtt.site.empty()) mqtt.site = hostSite();
        if (mqtt.clientId.empty()) mqtt.clientId = "zolvaned-" + mqtt.site;
    }

    // "host:port", the host a dotted IPv4 address, a host name or an IPv6 address in brackets.
    void listen(const toml::node& node, const std::string& text, ServiceSettings& service) {
        const auto bad = [&](std::string why) {
            fault(node.source(), "listen address " + inQuotes(text) + " " + why +
                                     " (host:port, e.g. \"127.0.0.1:8470\" or \"[::1]:8470\")");
        };
        std::string host;
        std::string_view rest;
        if (!text.empty() && text.front() == '[') {
            const auto close = text.find(']');
            if (close == std::string::npos) return bad("lacks its closing ']'");
            host = text.substr(1, close - 1);
            in6_addr address{};
            if (::inet_pton(AF_INET6, host.c_str(), &address) != 1) {
                return bad("has no IPv6 address in its brackets");
            }
            rest = std::string_view(text).substr(close + 1);
        } else {
            const auto colon = text.rfind(':');
            if (colon == std::string::npos) return bad("has no port");
            host = text.substr(0, colon);
            rest = std::string_view(text).substr(colon);
            const bool numeric = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
                return (c >= '0' && c <= '9') || c == '.';
            });
            in_addr address{};
            if (numeric ? ::inet_pton(AF_INET, host.c_str(), &address) != 1
                        : !validHostName(host)) {
                return bad("has no valid host");
            }
        }
        if (rest.size() < 2 || rest.front() != ':' || rest.size() > 6) return bad("has no port");
        unsigned port = 0;
        for (const char c : rest.substr(1)) {
            if (c < '0' || c > '9') return bad("has no port");
            port = port * 10 + static_cast<unsigned>(c - '0');
        }
        if (port < 1 || port > 65535) return bad("has a port outside 1..65535");
        service.listenHost = host;
        service.listenPort = static_cast<std::uint16_t>(port);
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
        zv_result why = 0;
        zv_link* link = zv_link_open(text.c_str(), &why);
        if (link != nullptr) {
            zv_link_close(link);
            return;
        }
        fault(node.source(), "address " + inQuotes(text) +
                                 " cannot be used: " + ZV_GetResultText(why) +
                                 " (\"tcp://HOST[:PORT]\" or \"serial://DEVICE\")");
    }

    // The entry as read, and whether it is sound.
    std::pair<ProjectorEntry, bool> projector(const toml::table& table, const Timing& defaults) {
        ProjectorEntry entry;
        entry.timing = defaults;
        entry.line = static_cast<int>(table.source().begin.line);
        given = givenDefaults;
        bool named = false;
        bool addressed = false;
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
            } else if (name == "pjlink_port") {
                if (const auto v = integer(key, node, 1, 65535)) {
                    entry.pjlinkPort = static_cast<std::uint16_t>(*v);
                }
            } else if (name == "pjlink_password_file") {
                if (const auto text = string(key, node)) {
                    if (text->empty()) {
                        fault(node.source(), "\"pjlink_password_file\" must not be empty");
                    }
                    entry.pjlinkPasswordFile = *text;
                }
            } else if (!timing(key, node, entry.timing)) {
                unknownKey(key, node, " in [[projector]]");
            }
        }
        if (!named) fault(table.source(), "projector without a \"name\"");
        if (!entry.pjlinkPasswordFile.empty() && entry.pjlinkPort == 0) {
            fault(table["pjlink_password_file"].node()->source(),
                  "\"pjlink_password_file\" needs \"pjlink_port\"");
        }
        if (!addressed) fault(table.source(), "projector without an \"address\"");
        if (entry.label.empty()) entry.label = entry.name;
        // A serial projector answers within a frame's time or not at all: unless the file says
        // otherwise, it gets the serial time-outs the link itself uses.
        if (!entry.address.starts_with("tcp://")) {
            if (!given.contains("send_timeout_ms")) entry.timing.sendTimeout = Milliseconds(630);
            if (!given.contains("receive_timeout_ms")) {
                entry.timing.receiveTimeout = Milliseconds(1000);
            }
        }
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
        std::map<int, int> pjlinkPorts;    // and of each PJLink port's
        struct Read {
            ProjectorEntry entry;
            bool sound;
            toml::source_region source;
        };
        std::vector<Read> read;
        for (const toml::node& item : *list) {
            auto [entry, sound] = projector(*item.as_table(), defaults);
            if (entry.pjlinkPort != 0) {
                const auto [first, added] = pjlinkPorts.emplace(entry.pjlinkPort, entry.line);
                const auto source = (*item.as_table())["pjlink_port"].node()->source();
                if (!added) {
                    fault(source, "\"pjlink_port\" " + std::to_string(entry.pjlinkPort) +
                                      " is used twice (first on line " +
                                      std::to_string(first->second) + ")");
                    sound = false;
                }
                pjlinkSources.emplace_back(entry.pjlinkPort, source);
            }
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

LoadResult parseInventory(std::string_view text, bool lookUpNames) {
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
        if (name == "service") {
            if (const toml::table* table = reader.table(key, node)) {
                reader.service(*table, inventory.service);
            }
        } else if (name == "mqtt") {
            if (const toml::table* table = reader.table(key, node)) {
                inventory.mqtt.emplace();
                reader.mqtt(*table, *inventory.mqtt);
            }
        } else if (name == "projector") {
            reader.projectors(key, node, defaults, inventory);
        } else {
            reader.unknownKey(key, node, "");
        }
    }
    for (const auto& [port, source] : reader.pjlinkSources) {
        if (port == inventory.service.listenPort) {
            reader.fault(source, "\"pjlink_port\" " + std::to_string(port) +
                                     " is the HTTP port of \"listen\"");
        }
    }
    result.faults = std::move(reader.faults);
    std::stable_sort(result.faults.begin(), result.faults.end(),
                     [](const Fault& a, const Fault& b) {
                         return a.line != b.line ? a.line < b.line : a.column < b.column;
                     });
    if (result.faults.empty()) result.inventory = std::move(inventory);
    return result;
}

LoadResult loadInventory(const std::filesystem::path& file) {
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
    constexpr std::size_t kLargest = 16 * 1024 * 1024;
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
    return parseInventory(text);
}

std::string describe(const std::filesystem::path& file, const Fault& fault) {
    // A reason quotes what the file holds: shown safely on a terminal or in the log.
    const std::string reason = printable(fault.reason);
    if (fault.line <= 0) return file.string() + ": " + reason;
    return file.string() + ":" + std::to_string(fault.line) + ":" + std::to_string(fault.column) +
           ": " + reason;
}

}  // namespace zolvane::fleet
