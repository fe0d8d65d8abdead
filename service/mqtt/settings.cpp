#include "mqtt/settings.h"

#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <tuple>

#include "zolvane_fleet/inventory_section.h"

namespace zolvane::service::mqtt {
namespace {

using fleet::inQuotes;

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
enum class Kind { Text, Levels, Level, Integer, Boolean };

struct Key {
    std::string_view key;
    Kind kind;
    std::int64_t min = 0;
    std::int64_t max = 0;
    std::string Settings::*text = nullptr;
    void (*store)(Settings&, std::int64_t) = nullptr;
};

const Key kKeys[] = {
    {"host", Kind::Text, 0, 0, &Settings::host},
    {"port", Kind::Integer, 1, 65535, nullptr,
     [](Settings& m, std::int64_t v) { m.port = static_cast<std::uint16_t>(v); }},
    {"client_id", Kind::Text, 0, 0, &Settings::clientId},
    {"username", Kind::Text, 0, 0, &Settings::username},
    {"password_file", Kind::Text, 0, 0, &Settings::passwordFile},
    {"ca_file", Kind::Text, 0, 0, &Settings::caFile},
    {"topic_prefix", Kind::Levels, 0, 0, &Settings::topicPrefix},
    {"site", Kind::Level, 0, 0, &Settings::site},
    {"qos", Kind::Integer, 0, 2, nullptr,
     [](Settings& m, std::int64_t v) { m.qos = static_cast<int>(v); }},
    {"discovery", Kind::Boolean, 0, 0, nullptr,
     [](Settings& m, std::int64_t v) { m.discovery = v != 0; }},
    {"discovery_prefix", Kind::Levels, 0, 0, &Settings::discoveryPrefix},
    {"keepalive_s", Kind::Integer, 5, 3600, nullptr,
     [](Settings& m, std::int64_t v) { m.keepalive = std::chrono::seconds(v); }},
};

class Reader final : public fleet::InventorySection {
public:
    explicit Reader(std::optional<Settings>& settings) : settings_(settings) {}

    bool table(const toml::key& key, const toml::node& node,
               fleet::InventoryChecks& checks) override {
        if (key.str() != "mqtt") return false;
        if (const toml::table* table = checks.table(key, node)) read(*table, checks);
        return true;
    }

private:
    void read(const toml::table& table, fleet::InventoryChecks& checks) {
        Settings& mqtt = settings_.emplace();
        mqtt.line = static_cast<int>(table.source().begin.line);
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            const auto entry = std::find_if(std::begin(kKeys), std::end(kKeys),
                                            [name](const Key& k) { return k.key == name; });
            if (entry == std::end(kKeys)) {
                checks.unknownKey(key, node, " in [mqtt]");
                continue;
            }
            if (entry->kind == Kind::Integer) {
                if (const auto v = checks.integer(key, node, entry->min, entry->max)) {
                    entry->store(mqtt, *v);
                }
                continue;
            }
            if (entry->kind == Kind::Boolean) {
                if (const auto* b = node.as_boolean()) {
                    entry->store(mqtt, b->get() ? 1 : 0);
                } else {
                    checks.fault(node.source(), inQuotes(key.str()) + " must be true or false");
                }
                continue;
            }
            const auto text = checks.string(key, node);
            if (!text) continue;
            const bool plain = std::none_of(text->begin(), text->end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
            });
            if (text->empty() || !plain) {
                checks.fault(node.source(), inQuotes(key.str()) +
                                                " must not be empty nor hold control characters");
            } else if (entry->kind != Kind::Text &&
                       !validTopicLevels(*text, entry->kind == Kind::Levels)) {
                checks.fault(node.source(),
                             inQuotes(key.str()) + " " + inQuotes(*text) +
                                 " is no topic level: letters, digits, '-', '_' or '.'" +
                                 (entry->kind == Kind::Levels ? ", levels joined by '/'" : "") +
                                 "; no '+', '#' or empty level");
            }
            mqtt.*(entry->text) = *text;
        }
        if (mqtt.host.empty() && !table.contains("host")) {
            checks.fault(table.source(), "[mqtt] without a \"host\"");
        }
        if (!mqtt.passwordFile.empty() && mqtt.username.empty()) {
            checks.fault(table["password_file"].node()->source(),
                         "\"password_file\" needs \"username\"");
        }
        if (mqtt.site.empty()) mqtt.site = hostSite();
        if (mqtt.clientId.empty()) mqtt.clientId = "zolvaned-" + mqtt.site;
    }

    std::optional<Settings>& settings_;
};

}  // namespace

bool Settings::sameAs(const Settings& other) const {
    const auto connection = [](const Settings& s) {
        return std::tie(s.host, s.port, s.clientId, s.username, s.passwordFile, s.caFile,
                        s.topicPrefix, s.site, s.qos, s.discovery, s.discoveryPrefix, s.keepalive);
    };
    return connection(*this) == connection(other);
}

std::unique_ptr<fleet::InventorySection> settingsReader(std::optional<Settings>& settings) {
    return std::make_unique<Reader>(settings);
}

}  // namespace zolvane::service::mqtt
