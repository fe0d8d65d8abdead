#include "pjlink/settings.h"

#include <map>
#include <utility>

#include "../settings.h"  // [service], beside this folder
#include "zolvane_fleet/inventory_section.h"
#include "zolvane_fleet/pjlink_address.h"

namespace zolvane::service::pjlink {
namespace {

class Reader final : public fleet::InventorySection {
public:
    Reader(Settings& settings, const service::Settings& service)
        : settings_(settings), service_(service) {}

    bool projectorKey(const toml::key& key, const toml::node& node,
                      fleet::InventoryChecks& checks) override {
        const std::string_view name = key.str();
        if (name == "pjlink_port") {
            if (const auto v = checks.integer(key, node, 1, 65535)) {
                read_.number = static_cast<std::uint16_t>(*v);
            }
        } else if (name == "pjlink_password_file") {
            if (const auto text = checks.string(key, node)) {
                if (text->empty()) {
                    checks.fault(node.source(), "\"pjlink_password_file\" must not be empty");
                }
                read_.passwordFile = *text;
            }
        } else {
            return false;
        }
        return true;
    }

    void projectorRead(const fleet::ProjectorEntry& entry, const toml::table& table,
                       fleet::InventoryChecks& checks) override {
        Port port = std::exchange(read_, Port{});
        if (!port.passwordFile.empty() && port.number == 0) {
            checks.fault(table["pjlink_password_file"].node()->source(),
                         "\"pjlink_password_file\" needs \"pjlink_port\"");
        }
        if (port.number == 0) return;
        const auto source = table["pjlink_port"].node()->source();
        if (fleet::isPjlinkAddress(entry.address)) {
            // Its own PJLink port already is what a gateway would give it.
            checks.fault(source, "\"pjlink_port\" cannot serve " + entry.name +
                                     ": it is a PJLink projector itself (" + entry.address +
                                     "); clients reach it there");
            return;
        }
        const auto [first, added] = lines_.emplace(port.number, entry.line);
        if (!added) {
            checks.fault(source, "\"pjlink_port\" " + std::to_string(port.number) +
                                     " is used twice (first on line " +
                                     std::to_string(first->second) + ")");
        }
        sources_.emplace_back(port.number, source);
        port.projector = entry.name;
        settings_.ports.push_back(std::move(port));
    }

    // The HTTP port is known once [service] is read, wherever the file puts it.
    void finish(fleet::InventoryChecks& checks) override {
        for (const auto& [number, source] : sources_) {
            if (number == service_.listenPort) {
                checks.fault(source, "\"pjlink_port\" " + std::to_string(number) +
                                         " is the HTTP port of \"listen\"");
            }
        }
    }

private:
    Settings& settings_;
    const service::Settings& service_;
    Port read_;                 // of the [[projector]] being read
    std::map<int, int> lines_;  // the line of each port's first use
    std::vector<std::pair<std::uint16_t, toml::source_region>> sources_;
};

}  // namespace

std::unique_ptr<fleet::InventorySection> settingsReader(Settings& settings,
                                                        const service::Settings& service) {
    return std::make_unique<Reader>(settings, service);
}

}  // namespace zolvane::service::pjlink
