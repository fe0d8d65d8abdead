#include "alert/rules.h"

#include <date/tz.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <span>
#include <sstream>

#include "clock.h"
#include "schedule/calendar.h"
#include "zolvane_fleet/inventory_section.h"
#include "zolvane_fleet/text.h"

namespace zolvane::service::alert {
namespace {

using fleet::inQuotes;
using std::chrono::milliseconds;
using std::chrono::minutes;

// The keys of a table, each in a group of keys that only some kinds take (0: every kind), and
// whether a kind that takes it must have it.
struct KeyRow {
    std::string_view key;
    unsigned group;
    bool required;
};

// The groups of the keys of [[alert]].
constexpr unsigned kTargets = 1;    // targets
constexpr unsigned kSchedules = 2;  // schedules
constexpr unsigned kLevels = 4;     // warning, critical: at least one of them
constexpr unsigned kWindow = 8;     // after, before, timezone

constexpr KeyRow kAlertKeys[] = {
    {"name", 0, true},
    {"kind", 0, true},
    {"targets", kTargets, true},
    {"schedules", kSchedules, false},
    {"warning", kLevels, false},
    {"critical", kLevels, false},
    {"after", kWindow, true},
    {"before", kWindow, true},
    {"timezone", kWindow, false},
    {"for_minutes", 0, false},
    {"repeat_minutes", 0, false},
    {"notifiers", 0, true},
};

// Each kind of alert: its word, the groups of keys it takes, and how long its condition holds
// before it fires when for_minutes does not say.
struct KindRow {
    Kind kind;
    std::string_view word;
    unsigned groups;
    int forMinutes;
};

constexpr KindRow kKinds[] = {
    {Kind::Offline, "offline", kTargets, 5},
    {Kind::LampHours, "lamp_hours", kTargets | kLevels, 0},
    {Kind::FilterHours, "filter_hours", kTargets | kLevels, 0},
    {Kind::ErrorStatus, "error_status", kTargets, 0},
    {Kind::LeftOn, "left_on", kTargets | kWindow, 0},
    {Kind::ScheduleFailed, "schedule_failed", kSchedules, 0},
};

// The groups of the keys of [[notifier]].
constexpr unsigned kUrl = 1;      // url
constexpr unsigned kWebhook = 2;  // headers_file, template
constexpr unsigned kEmail = 4;    // tls, ca_file, from, to, user, password_file

constexpr KeyRow kNotifierKeys[] = {
    {"name", 0, true},
    {"kind", 0, true},
    {"url", kUrl, true},
    {"headers_file", kWebhook, false},
    {"template", kWebhook, false},
    {"tls", kEmail, false},
    {"ca_file", kEmail, false},
    {"from", kEmail, true},
    {"to", kEmail, true},
    {"user", kEmail, false},
    {"password_file", kEmail, false},
    {"timeout_seconds", 0, false},
    {"retry_seconds", 0, false},
    {"retry_max_seconds", 0, false},
    {"attempts", 0, false},
};

struct NotifierRow {
    NotifierKind kind;
    std::string_view word;
    unsigned groups;
};

constexpr NotifierRow kNotifierKinds[] = {
    {NotifierKind::Webhook, "webhook", kUrl | kWebhook},
    {NotifierKind::Email, "email", kUrl | kEmail},
    {NotifierKind::Mqtt, "mqtt", 0},
    {NotifierKind::Journal, "journal", 0},
};

// The most a file the inventory names (headers, password, template) may hold.

template <typename Row>
const Row* rowOf(std::span<const Row> rows, std::string_view word) {
    const auto at =
        std::find_if(rows.begin(), rows.end(), [&](const Row& row) { return row.word == word; });
    return at == rows.end() ? nullptr : &*at;
}

template <typename Row>
std::string wordsOf(std::span<const Row> rows) {
    std::string words;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        words += (i == 0 ? "" : i + 1 == rows.size() ? " or " : ", ") + std::string(rows[i].word);
    }
    return words;
}

const KeyRow* keyOf(std::span<const KeyRow> rows, std::string_view key) {
    const auto at =
        std::find_if(rows.begin(), rows.end(), [&](const KeyRow& row) { return row.key == key; });
    return at == rows.end() ? nullptr : &*at;
}

// A number of seconds, integer or not, within min..max; empty after a fault.
std::optional<double> seconds(const toml::key& key, const toml::node& node, double min, double max,
                              fleet::InventoryChecks& checks) {
    std::optional<double> value;
    if (const auto* i = node.as_integer()) value = static_cast<double>(i->get());
    if (const auto* f = node.as_floating_point()) value = f->get();
    if (!value) {
        checks.fault(node.source(), inQuotes(key.str()) + " must be a number of seconds");
        return {};
    }
    if (!(*value >= min && *value <= max)) {
        std::ostringstream text;
        text << inQuotes(key.str()) << " is " << *value << ", out of range " << min << ".." << max;
        checks.fault(node.source(), text.str());
        return {};
    }
    return value;
}

milliseconds millisecondsOf(double seconds) {
    return milliseconds(static_cast<milliseconds::rep>(std::llround(seconds * 1000)));
}

// The parts of a reason one after the other, in one string.
std::string joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) text += part;
    return text;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// A URL as scheme://host[:port][path]: the host a name or an [IPv6] address, no user in it, and
// nothing but printable ASCII without blanks. Empty with why when it is not one.
struct Url {
    std::string scheme;  // in lower case
    std::string host;
    std::string rest;  // the path, query and fragment, from its '/', '?' or '#'
};

std::optional<Url> splitUrl(std::string_view text, std::string* why) {
    if (std::any_of(text.begin(), text.end(), [](char c) { return c <= ' ' || c > '~'; })) {
        *why = "it holds a blank, a control character or a byte outside ASCII";
        return {};
    }
    const std::size_t colon = text.find("://");
    if (colon == std::string_view::npos || colon == 0) {
        *why = "it has no scheme://";
        return {};
    }
    Url url;
    for (const char c : text.substr(0, colon)) {
        url.scheme += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    std::string_view rest = text.substr(colon + 3);
    const std::size_t end = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view authority = rest.substr(0, end);
    url.rest = std::string(rest.substr(end));
    if (authority.find('@') != std::string_view::npos) {
        *why = "a user and password do not belong in the url";
        return {};
    }
    std::string_view port;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos || close == 1) {
            *why = "its [IPv6] host is not closed";
            return {};
        }
        url.host = std::string(authority.substr(1, close - 1));
        if (!std::all_of(url.host.begin(), url.host.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
            })) {
            *why = "its [IPv6] host is not an address";
            return {};
        }
        authority.remove_prefix(close + 1);
        if (!authority.empty() && !authority.starts_with(':')) {
            *why = "text follows its [IPv6] host";
            return {};
        }
        if (!authority.empty()) port = authority.substr(1);
    } else {
        const std::size_t portAt = authority.find(':');
        url.host = std::string(authority.substr(0, portAt));
        if (portAt != std::string_view::npos) port = authority.substr(portAt + 1);
        if (url.host.empty() || !std::all_of(url.host.begin(), url.host.end(), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ||
                       c == '_';
            })) {
            *why = url.host.empty() ? "it has no host" : "its host is not a name or address";
            return {};
        }
    }
    if (authority.find(':') != std::string_view::npos) {
        unsigned number = 0;
        const bool digits =
            !port.empty() && port.size() <= 5 &&
            std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
        for (const char c : port) number = number * 10 + static_cast<unsigned>(c - '0');
        if (!digits || number < 1 || number > 65535) {
            *why = "its port is not 1 to 65535";
            return {};
        }
    }
    return url;
}

// name@domain, without blanks or the characters that would end an address in a mail header.
bool validAddress(std::string_view text) {
    const std::size_t at = text.find('@');
    return at != std::string_view::npos && at > 0 && at + 1 < text.size() &&
           text.find('@', at + 1) == std::string_view::npos &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return c > ' ' && c <= '~' &&
                      std::string_view("<>()[],;:\"\\").find(c) == std::string_view::npos;
           });
}

// An HTTP header's name: the token characters.
bool validHeaderName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
}

// "Name: value" lines, blank lines skipped; why names the first line that is not one.
std::optional<std::vector<std::pair<std::string, std::string>>> headerLines(std::string_view text,
                                                                            std::string* why) {
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (trimmed(line).empty()) continue;
        const std::size_t colon = line.find(':');
        const std::string_view name = colon == std::string_view::npos ? "" : line.substr(0, colon);
        const std::string_view value =
            colon == std::string_view::npos ? "" : trimmed(line.substr(colon + 1));
        if (!validHeaderName(name) ||
            value.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos) {
            *why = "line " + std::to_string(number) + " is not \"Name: value\"";
            return {};
        }
        headers.emplace_back(std::string(name), std::string(value));
    }
    return headers;
}

struct PendingRule {
    Rule rule;
    const KindRow* row = nullptr;
    std::optional<toml::source_region> targets, schedules, notifiers;
    bool ownZone = false;
    bool sound = true;
};

struct PendingNotifier {
    Notifier notifier;
    std::optional<toml::source_region> mqtt;  // its kind, when that is mqtt
    bool sound = true;
};

class Reader final : public fleet::InventorySection {
public:
    Reader(const Settings& service, const std::vector<schedule::Schedule>& schedules,
           Alerting& into)
        : service_(service), schedules_(schedules), into_(into) {}

    bool table(const toml::key& key, const toml::node& node,
               fleet::InventoryChecks& checks) override {
        // The broker's reader reads [mqtt]; here it only tells that a notifier may publish.
        if (key.str() == "mqtt") {
            mqtt_ = true;
            return false;
        }
        const bool alert = key.str() == "alert";
        if (!alert && key.str() != "notifier") return false;
        for (const toml::table* item : checks.tables(key, node)) {
            if (alert) {
                readAlert(*item, checks);
            } else {
                readNotifier(*item, checks);
            }
        }
        return true;
    }

    void projectorRead(const fleet::ProjectorEntry& entry, const toml::table&,
                       fleet::InventoryChecks&) override {
        projectors_.push_back({entry.name, entry.groups});
    }

    void finish(fleet::InventoryChecks& checks) override {
        for (PendingRule& pending : rules_) {
            Rule& rule = pending.rule;
            if (rule.kind == Kind::LeftOn && !pending.ownZone) {
                schedule::LocalZone zone = schedule::serviceZone(service_);
                rule.zone = zone.zone;
                rule.zoneName = std::move(zone.name);
            }
            if (pending.targets) resolveTargets(pending, checks);
            for (const std::string& name : rule.schedules) {
                if (std::none_of(schedules_.begin(), schedules_.end(),
                                 [&](const schedule::Schedule& s) { return s.name == name; })) {
                    bad(pending, checks, *pending.schedules,
                        "no schedule " + inQuotes(name) + " for alert " + inQuotes(rule.name));
                }
            }
            for (const std::string& name : rule.notifiers) {
                if (std::none_of(
                        notifiers_.begin(), notifiers_.end(),
                        [&](const PendingNotifier& n) { return n.notifier.name == name; })) {
                    bad(pending, checks, *pending.notifiers,
                        "no notifier " + inQuotes(name) + " for alert " + inQuotes(rule.name) +
                            " (a [[notifier]] of that name)");
                }
            }
            if (pending.sound) into_.rules.push_back(std::move(rule));
        }
        // After the rules, which look for the notifiers by name.
        for (PendingNotifier& pending : notifiers_) {
            if (pending.mqtt && !mqtt_) {
                checks.fault(*pending.mqtt, "a notifier of kind mqtt needs an [mqtt] table");
                pending.sound = false;
            }
            if (pending.sound) into_.notifiers.push_back(std::move(pending.notifier));
        }
        rules_.clear();
        notifiers_.clear();
    }

private:
    static void bad(PendingRule& pending, fleet::InventoryChecks& checks,
                    const toml::source_region& where, std::string reason) {
        checks.fault(where, std::move(reason));
        pending.sound = false;
    }

    // The table's name, checked and unique among those read before; empty after a fault.
    template <typename Pending, typename NameOf>
    static std::string nameOf(const toml::table& table, std::string_view what,
                              const std::vector<Pending>& before, NameOf name,
                              fleet::InventoryChecks& checks, bool& sound) {
        for (const auto& [key, node] : table) {
            if (key.str() != "name") continue;
            const auto text = checks.string(key, node);
            if (!text) {
                sound = false;
            } else if (!schedule::validName(*text)) {
                checks.fault(node.source(),
                             std::string(what) + " name " + inQuotes(*text) +
                                 " must be 1 to 64 letters, digits, '.', '_' or '-'");
                sound = false;
            } else if (std::any_of(before.begin(), before.end() - 1,
                                   [&](const Pending& p) { return name(p) == *text; })) {
                checks.fault(node.source(),
                             std::string(what) + " " + inQuotes(*text) + " is named twice");
                sound = false;
                return *text;  // for the faults that follow
            } else {
                return *text;
            }
        }
        return {};
    }

    // The row of the table's kind; null when it has none or one not in the rows.
    template <typename Row>
    static const Row* kindOf(const toml::table& table, std::span<const Row> rows,
                             fleet::InventoryChecks& checks, bool& sound) {
        for (const auto& [key, node] : table) {
            if (key.str() != "kind") continue;
            const auto text = checks.string(key, node);
            const Row* row = text ? rowOf(rows, *text) : nullptr;
            if (text && !row) {
                checks.fault(node.source(), "kind " + inQuotes(*text) + " is not " + wordsOf(rows));
            }
            if (!row) sound = false;
            return row;
        }
        return nullptr;
    }

    // Whether the key may be read in a table of this kind (any, when the kind is not known); the
    // fault said when not.
    static bool admitted(const toml::key& key, const toml::node& node, std::span<const KeyRow> keys,
                         unsigned groups, bool kindKnown, std::string_view table,
                         std::string_view kindText, fleet::InventoryChecks& checks) {
        const KeyRow* row = keyOf(keys, key.str());
        if (!row) {
            checks.unknownKey(key, node, " in [[" + std::string(table) + "]]");
            return false;
        }
        if (kindKnown && row->group != 0 && (groups & row->group) == 0) {
            checks.fault(key.source(),
                         inQuotes(key.str()) + " is not a key of " + std::string(kindText));
            return false;
        }
        return true;
    }

    // The faults of the required keys a table of this kind lacks.
    static bool complete(const toml::table& table, std::span<const KeyRow> keys, unsigned groups,
                         bool kindKnown, const std::string& which, fleet::InventoryChecks& checks) {
        bool all = true;
        for (const KeyRow& row : keys) {
            const bool taken = row.group == 0 || (kindKnown && (groups & row.group) != 0);
            if (row.required && taken && !table.contains(row.key)) {
                checks.fault(table.source(), which + " needs " + inQuotes(row.key));
                all = false;
            }
        }
        return all;
    }

    void readAlert(const toml::table& table, fleet::InventoryChecks& checks) {
        PendingRule& pending = rules_.emplace_back();
        Rule& rule = pending.rule;
        rule.line = table.source().begin.line;
        rule.name = nameOf(
            table, "alert", rules_, [](const PendingRule& p) { return p.rule.name; }, checks,
            pending.sound);
        const KindRow* row = pending.row =
            kindOf(table, std::span<const KindRow>(kKinds), checks, pending.sound);
        const unsigned groups = row ? row->groups : 0;
        if (row) {
            rule.kind = row->kind;
            rule.forMinutes = minutes(row->forMinutes);
        }
        const std::string kindText =
            row ? "an alert of kind " + std::string(row->word) : std::string("an alert");
        const auto fail = [&](const toml::source_region& where, std::string reason) {
            bad(pending, checks, where, std::move(reason));
        };
        std::optional<toml::source_region> critical, before;
        bool afterRead = false;
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            if (!admitted(key, node, kAlertKeys, groups, row != nullptr, "alert", kindText,
                          checks)) {
                pending.sound = false;
                continue;
            }
            if (name == "name" || name == "kind") continue;  // read above
            if (name == "targets" || name == "schedules" || name == "notifiers") {
                auto list = checks.strings(key, node);
                if (!list) {
                    pending.sound = false;
                    continue;
                }
                if (name == "targets") {
                    if (list->empty())
                        fail(node.source(), "\"targets\" must name a projector or group");
                    rule.targets = std::move(*list);
                    pending.targets = node.source();
                } else if (name == "schedules") {
                    rule.schedules = std::move(*list);
                    pending.schedules = node.source();
                } else {
                    if (list->empty()) fail(node.source(), "\"notifiers\" must name a notifier");
                    for (std::string& notifier : *list) {
                        if (std::find(rule.notifiers.begin(), rule.notifiers.end(), notifier) !=
                            rule.notifiers.end()) {
                            fail(node.source(),
                                 "notifier " + inQuotes(notifier) + " is named twice");
                        } else {
                            rule.notifiers.push_back(std::move(notifier));
                        }
                    }
                    pending.notifiers = node.source();
                }
            } else if (name == "warning" || name == "critical") {
                const auto hours = checks.integer(key, node, 1, 65535);
                if (!hours) {
                    pending.sound = false;
                } else if (name == "warning") {
                    rule.warning = static_cast<unsigned>(*hours);
                } else {
                    rule.critical = static_cast<unsigned>(*hours);
                    critical = node.source();
                }
            } else if (name == "after" || name == "before") {
                const auto text = checks.string(key, node);
                const auto time = text ? schedule::timeOfDay(*text) : std::nullopt;
                if (!time) {
                    if (text) {
                        fail(node.source(),
                             "time " + inQuotes(*text) + " is not HH:MM (00:00 to 23:59)");
                    }
                    pending.sound = false;
                } else if (name == "after") {
                    rule.after = *time;
                    afterRead = true;
                } else {
                    rule.before = *time;
                    before = node.source();
                }
            } else if (name == "timezone") {
                const auto text = checks.string(key, node);
                if (!text) {
                    pending.sound = false;
                } else if (!(rule.zone = schedule::namedZone(*text))) {
                    fail(node.source(), schedule::unknownZone(*text));
                } else {
                    rule.zoneName = *text;
                    pending.ownZone = true;
                }
            } else if (name == "for_minutes") {
                if (const auto v = checks.integer(key, node, 0, 1440)) {
                    rule.forMinutes = minutes(*v);
                } else {
                    pending.sound = false;
                }
            } else if (name == "repeat_minutes") {
                if (const auto v = checks.integer(key, node, 1, 10080)) {
                    rule.repeat = minutes(*v);
                } else {
                    pending.sound = false;
                }
            }
        }
        const std::string which = rule.name.empty() ? "[[alert]]" : "alert " + inQuotes(rule.name);
        if (!complete(table, kAlertKeys, groups, row != nullptr, which, checks)) {
            pending.sound = false;
        }
        if (row && (row->groups & kLevels) && !table.contains("warning") &&
            !table.contains("critical")) {
            fail(table.source(), which + " needs \"warning\" or \"critical\" (hours)");
        }
        if (rule.warning && rule.critical && *rule.warning >= *rule.critical) {
            fail(*critical, "\"warning\" (" + std::to_string(*rule.warning) +
                                " h) must be below \"critical\" (" +
                                std::to_string(*rule.critical) + " h)");
        }
        if (before && afterRead && rule.after == rule.before) {
            fail(*before, "\"after\" and \"before\" are the same time: the alert would never fire");
        }
    }

    void readNotifier(const toml::table& table, fleet::InventoryChecks& checks) {
        PendingNotifier& pending = notifiers_.emplace_back();
        Notifier& notifier = pending.notifier;
        notifier.line = table.source().begin.line;
        notifier.name = nameOf(
            table, "notifier", notifiers_, [](const PendingNotifier& p) { return p.notifier.name; },
            checks, pending.sound);
        const NotifierRow* row =
            kindOf(table, std::span<const NotifierRow>(kNotifierKinds), checks, pending.sound);
        const unsigned groups = row ? row->groups : 0;
        if (row) notifier.kind = row->kind;
        const std::string kindText =
            row ? "a notifier of kind " + std::string(row->word) : std::string("a notifier");
        const auto fail = [&](const toml::source_region& where, std::string reason) {
            checks.fault(where, std::move(reason));
            pending.sound = false;
        };
        std::optional<toml::source_region> tls, retryMost;
        std::optional<double> retryFirst, retryMostSeconds;
        std::string scheme;
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            if (!admitted(key, node, kNotifierKeys, groups, row != nullptr, "notifier", kindText,
                          checks)) {
                pending.sound = false;
                continue;
            }
            if (name == "kind") {
                if (row && row->kind == NotifierKind::Mqtt) pending.mqtt = node.source();
                continue;
            }
            if (name == "name") continue;
            if (name == "timeout_seconds" || name == "attempts") {
                const auto v = name == "attempts" ? checks.integer(key, node, 1, 1000)
                                                  : checks.integer(key, node, 1, 300);
                if (!v) {
                    pending.sound = false;
                } else if (name == "attempts") {
                    notifier.attempts = static_cast<unsigned>(*v);
                } else {
                    notifier.timeout = std::chrono::seconds(*v);
                }
                continue;
            }
            if (name == "retry_seconds" || name == "retry_max_seconds") {
                const auto v = seconds(key, node, 0.1, 86400, checks);
                if (!v) {
                    pending.sound = false;
                } else if (name == "retry_seconds") {
                    retryFirst = v;
                } else {
                    retryMostSeconds = v;
                    retryMost = node.source();
                }
                continue;
            }
            if (name == "to") {
                auto list = checks.strings(key, node);
                if (!list) {
                    pending.sound = false;
                    continue;
                }
                if (list->empty()) fail(node.source(), "\"to\" must give an address");
                for (const std::string& address : *list) {
                    if (!validAddress(address)) {
                        fail(node.source(), "address " + inQuotes(fleet::printable(address)) +
                                                " is not name@domain");
                    }
                }
                notifier.to = std::move(*list);
                continue;
            }
            // The rest are strings.
            const auto text = checks.string(key, node);
            if (!text) {
                pending.sound = false;
                continue;
            }
            const std::string shown = inQuotes(fleet::printable(*text));
            std::string why;
            if (name == "url") {
                if (!row) continue;  // the kind's fault is said
                const auto url = splitUrl(*text, &why);
                const bool web = row && row->kind == NotifierKind::Webhook;
                if (url && web && url->scheme != "http" && url->scheme != "https") {
                    why = "it is not http:// or https://";
                } else if (url && !web && url->scheme != "smtp" && url->scheme != "smtps") {
                    why = "it is not smtp:// or smtps://";
                } else if (url && !web && !url->rest.empty() && url->rest != "/") {
                    why = "a mail server's url has no path";
                } else if (url) {
                    scheme = url->scheme;
                    notifier.url = *text;
                    continue;
                }
                fail(node.source(), joined({"url ", shown, " cannot be used: ", why}));
            } else if (name == "headers_file") {
                const auto read = fleet::readSmallFile(*text, &why);
                const auto headers = read ? headerLines(*read, &why) : std::nullopt;
                if (!headers) {
                    fail(node.source(),
                         joined({"the headers file ", shown, " cannot be read: ", why}));
                } else {
                    notifier.headers = *headers;
                }
            } else if (name == "template") {
                const auto read = fleet::readSmallFile(*text, &why);
                if (read) notifier.body = BodyTemplate::parse(*read, &why);
                if (!read) {
                    fail(node.source(),
                         joined({"the template file ", shown, " cannot be read: ", why}));
                } else if (!notifier.body) {
                    fail(node.source(), joined({"template ", shown, ": ", why}));
                }
            } else if (name == "tls") {
                if (*text == "starttls") {
                    notifier.tls = Tls::StartTls;
                } else if (*text == "tls") {
                    notifier.tls = Tls::Tls;
                } else if (*text == "none") {
                    notifier.tls = Tls::None;
                } else {
                    fail(node.source(), "tls " + shown + " is not starttls, tls or none");
                    continue;
                }
                tls = node.source();
            } else if (name == "ca_file") {
                if (!readable(*text, &why)) {
                    fail(node.source(), joined({"the CA file ", shown, " cannot be read: ", why}));
                } else {
                    notifier.caFile = *text;
                }
            } else if (name == "from") {
                if (!validAddress(*text)) {
                    fail(node.source(), "address " + shown + " is not name@domain");
                } else {
                    notifier.from = *text;
                }
            } else if (name == "user") {
                if (text->empty() || !fleet::plainText(*text)) {
                    fail(node.source(),
                         "user " + shown + " must be a name without control characters");
                } else {
                    notifier.user = *text;
                }
            } else if (name == "password_file") {
                const auto read = fleet::readSmallFile(*text, &why);
                const std::string_view line =
                    read ? trimmed(std::string_view(*read).substr(0, read->find('\n')))
                         : std::string_view();
                if (read && line.empty()) why = "it is empty";
                if (!read || line.empty()) {
                    fail(node.source(),
                         joined({"the password file ", shown, " cannot be read: ", why}));
                } else {
                    notifier.password = std::string(line);
                }
            }
        }
        const std::string which =
            notifier.name.empty() ? "[[notifier]]" : "notifier " + inQuotes(notifier.name);
        if (!complete(table, kNotifierKeys, groups, row != nullptr, which, checks)) {
            pending.sound = false;
        }
        if (table.contains("user") && !table.contains("password_file")) {
            fail(table.source(), which + " has a \"user\" and needs \"password_file\"");
        }
        if (row && row->kind == NotifierKind::Email && !scheme.empty()) {
            const bool smtps = scheme == "smtps";
            if (!tls) notifier.tls = smtps ? Tls::Tls : Tls::StartTls;
            if (tls && smtps && notifier.tls != Tls::Tls) {
                fail(*tls, "an smtps:// url is TLS from the start: tls must be \"tls\"");
            } else if (tls && !smtps && notifier.tls == Tls::Tls) {
                fail(*tls, "tls = \"tls\" is TLS from the start: write the url as smtps://");
            }
        }
        if (retryFirst) notifier.retryFirst = millisecondsOf(*retryFirst);
        if (retryMostSeconds) {
            notifier.retryMost = millisecondsOf(*retryMostSeconds);
            if (notifier.retryMost < notifier.retryFirst) {
                fail(*retryMost, "\"retry_max_seconds\" must be at least \"retry_seconds\"");
            }
        } else {
            notifier.retryMost = std::max(notifier.retryMost, notifier.retryFirst);
        }
    }

    static bool readable(const std::string& path, std::string* why) {
        std::error_code error;
        if (path.empty() || path.find('\0') != std::string::npos) {
            *why = "no file named";
            return false;
        }
        if (!std::filesystem::is_regular_file(path, error)) {
            *why = error ? error.message() : "not a regular file";
            return false;
        }
        if (!std::ifstream(path, std::ios::binary)) {
            *why = std::strerror(errno);
            return false;
        }
        return true;
    }

    void resolveTargets(PendingRule& pending, fleet::InventoryChecks& checks) {
        Rule& rule = pending.rule;
        rule.projectors =
            fleet::resolveTargets(rule.targets, projectors_, [&](const std::string& reason) {
                bad(pending, checks, *pending.targets,
                    reason + " for alert " + inQuotes(rule.name));
            });
    }

    const Settings& service_;
    const std::vector<schedule::Schedule>& schedules_;
    Alerting& into_;
    std::vector<PendingRule> rules_;
    std::vector<PendingNotifier> notifiers_;
    std::vector<fleet::TargetedProjector> projectors_;
    bool mqtt_ = false;  // the file has an [mqtt] table
};

}  // namespace

std::string_view kindWord(Kind kind) {
    for (const KindRow& row : kKinds) {
        if (row.kind == kind) return row.word;
    }
    return "offline";
}

std::string_view notifierKindWord(NotifierKind kind) {
    for (const NotifierRow& row : kNotifierKinds) {
        if (row.kind == kind) return row.word;
    }
    return "journal";
}

std::unique_ptr<fleet::InventorySection> alertsReader(
    const Settings& service, const std::vector<schedule::Schedule>& schedules, Alerting& into) {
    return std::make_unique<Reader>(service, schedules, into);
}

}  // namespace zolvane::service::alert
