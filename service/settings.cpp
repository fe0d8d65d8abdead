#include "settings.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>

#include "alert/rules.h"
#include "auth/tokens.h"
#include "clock.h"
#include "http/tls.h"
#include "mqtt/settings.h"
#include "pjlink/settings.h"
#include "schedule/calendar.h"
#include "zolvane_fleet/inventory_section.h"

namespace zolvane::service {
namespace {

using fleet::inQuotes;

bool validHostName(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.';
    });
}

class Reader final : public fleet::InventorySection {
public:
    explicit Reader(Settings& settings) : settings_(settings) {}

    bool table(const toml::key& key, const toml::node& node,
               fleet::InventoryChecks& checks) override {
        if (key.str() != "service") return false;
        if (const toml::table* table = checks.table(key, node)) read(*table, checks);
        return true;
    }

private:
    void read(const toml::table& table, fleet::InventoryChecks& checks) {
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            if (name == "listen") {
                if (const auto text = checks.string(key, node)) listen(node, *text, checks);
            } else if (name == "token_file") {
                if (const auto text = checks.string(key, node)) {
                    if (text->empty()) {
                        checks.fault(node.source(), "\"token_file\" must not be empty");
                    }
                    settings_.tokenFile = *text;
                }
            } else if (name == "lamp_warning_hours") {
                if (const auto v = checks.integer(key, node, 0, 65535)) {
                    settings_.lampWarningHours = static_cast<unsigned>(*v);
                }
            } else if (name == "max_body_bytes") {
                if (const auto v = checks.integer(key, node, 16, std::int64_t{16} * 1024 * 1024)) {
                    settings_.maxBodyBytes = static_cast<std::size_t>(*v);
                }
            } else if (name == "pjlink_host") {
                if (const auto text = checks.string(key, node)) {
                    in_addr v4{};
                    in6_addr v6{};
                    if (::inet_pton(AF_INET, text->c_str(), &v4) != 1 &&
                        ::inet_pton(AF_INET6, text->c_str(), &v6) != 1 && !validHostName(*text)) {
                        checks.fault(node.source(),
                                     "\"pjlink_host\" " + inQuotes(*text) +
                                         " is no address (e.g. \"0.0.0.0\" or \"::1\")");
                    }
                    settings_.pjlinkHost = *text;
                }
            } else if (name == "database") {
                if (const auto text = checks.string(key, node)) settings_.database = *text;
            } else if (name == "history_days") {
                if (const auto v = checks.integer(key, node, 1, 36500)) {
                    settings_.historyDays = static_cast<unsigned>(*v);
                }
            } else if (name == "timezone") {
                if (const auto text = checks.string(key, node)) {
                    if (!findZone(*text) || text->empty()) {
                        checks.fault(node.source(), "time zone " + inQuotes(*text) +
                                                        " is not in the system's zone database "
                                                        "(e.g. \"Europe/Berlin\", \"UTC\")");
                    }
                    settings_.timezone = *text;
                }
            } else if (name == "catch_up_minutes") {
                if (const auto v = checks.integer(key, node, 0, 1440)) {
                    settings_.catchUp = std::chrono::minutes(*v);
                }
            } else if (name == "tls_certificate" || name == "tls_key") {
                if (const auto text = checks.string(key, node)) {
                    if (text->empty()) {
                        checks.fault(node.source(), inQuotes(name) + " must not be empty");
                    }
                    (name == "tls_key" ? settings_.tlsKey : settings_.tlsCertificate) = *text;
                    (name == "tls_key" ? keyAt_ : certificateAt_) = node.source();
                }
            } else if (name == "allow_plain_http" || name == "read_requires_token") {
                if (const auto* flag = node.as_boolean()) {
                    (name == "allow_plain_http" ? settings_.allowPlainHttp
                                                : settings_.readRequiresToken) = flag->get();
                } else {
                    checks.fault(node.source(), inQuotes(name) + " must be true or false");
                }
            } else if (name == "pjlink_idle_timeout_ms") {
                if (const auto v = checks.integer(key, node, 100, 600000)) {
                    settings_.pjlinkIdleTimeout = std::chrono::milliseconds(*v);
                }
            } else {
                checks.unknownKey(key, node, " in [service]");
            }
        }
    }

    // The certificate and its key come together, and are read now, so that a pair that cannot
    // serve is found by --check and at a reload, not by the first client.
    void finish(fleet::InventoryChecks& checks) override {
        if (settings_.tlsCertificate.empty() != settings_.tlsKey.empty()) {
            checks.fault(settings_.tlsKey.empty() ? certificateAt_ : keyAt_,
                         "\"tls_certificate\" and \"tls_key\" come together");
        } else if (!settings_.tlsCertificate.empty()) {
            if (auto fault = http::checkTlsFiles(settings_.tlsCertificate, settings_.tlsKey)) {
                checks.fault(certificateAt_, std::move(*fault));
            }
        }
    }

    // "host:port", the host a dotted IPv4 address, a host name or an IPv6 address in brackets.
    void listen(const toml::node& node, const std::string& text, fleet::InventoryChecks& checks) {
        const auto bad = [&](const std::string& why) {
            checks.fault(node.source(),
                         "listen address " + inQuotes(text) + " " + why +
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
        settings_.listenHost = host;
        settings_.listenPort = static_cast<std::uint16_t>(port);
    }

    Settings& settings_;
    toml::source_region certificateAt_;
    toml::source_region keyAt_;
};

}  // namespace

std::filesystem::path databaseFile(const Settings& settings) {
    if (settings.database) return *settings.database;
    if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state) {
        // systemd gives every directory of StateDirectory=, separated by colons: the first.
        const std::string_view first =
            std::string_view(state).substr(0, std::string_view(state).find(':'));
        return std::filesystem::path(first) / "history.sqlite";
    }
    return "/var/lib/zolvaned/history.sqlite";
}

std::unique_ptr<fleet::InventorySection> settingsReader(Settings& settings) {
    return std::make_unique<Reader>(settings);
}

namespace {

// Reads with every part of the service's own: what is read is thrown away, only the faults count.
template <typename Read>
fleet::LoadResult withEveryReader(Read read) {
    Settings service;
    std::optional<mqtt::Settings> mqtt;
    pjlink::Settings pjlink;
    std::vector<schedule::Schedule> schedules;
    alert::Alerting alerting;
    auth::TokenTable tokens;
    // In the order ServiceInventory offers them the file.
    const std::unique_ptr<fleet::InventorySection> readers[] = {
        settingsReader(service),
        auth::tokensReader(service, tokens),
        schedule::schedulesReader(service, schedules),
        alert::alertsReader(service, schedules, alerting),
        mqtt::settingsReader(mqtt),
        pjlink::settingsReader(pjlink, service)};
    std::vector<fleet::InventorySection*> sections;
    for (const auto& reader : readers) sections.push_back(reader.get());
    return read(fleet::Sections(sections));
}

}  // namespace

fleet::LoadResult loadCheckedInventory(const std::filesystem::path& file) {
    return withEveryReader(
        [&](fleet::Sections sections) { return fleet::loadInventory(file, sections); });
}

fleet::LoadResult parseCheckedInventory(std::string_view text, bool lookUpNames) {
    return withEveryReader([&](fleet::Sections sections) {
        return fleet::parseInventory(text, lookUpNames, sections);
    });
}

}  // namespace zolvane::service
