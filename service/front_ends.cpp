#include "front_ends.h"

#include <algorithm>

#include "http/api_front_end.h"
#include "log.h"
#include "mqtt/bridge_front_end.h"
#include "pjlink/gateway_front_end.h"
#include "zolvane_fleet/inventory_section.h"

namespace zolvane::service {
namespace {

// One row per front end, in the order they start; the fleet starts after the last.
using FrontEndKind = std::unique_ptr<FrontEndPart> (*)(const Settings& service);
const FrontEndKind kFrontEnds[] = {
    http::frontEnd,
    mqtt::frontEnd,
    pjlink::frontEnd,
};

}  // namespace

ServiceInventory::ServiceInventory(const std::filesystem::path& file) {
    const auto service = settingsReader(settings_);
    const auto tokens = auth::tokensReader(settings_, tokens_);
    const auto schedules = schedule::schedulesReader(settings_, schedules_);
    // The alerts' reader after the schedules' and before the broker's (alert/rules.h).
    const auto alerts = alert::alertsReader(settings_, schedules_, alerting_);
    std::vector<fleet::InventorySection*> sections{service.get(), tokens.get(), schedules.get(),
                                                   alerts.get()};
    for (const FrontEndKind kind : kFrontEnds) {
        parts_.push_back(kind(settings_));
        if (fleet::InventorySection* reader = parts_.back()->reader()) sections.push_back(reader);
    }
    loaded_ = fleet::loadInventory(file, sections);
}

std::vector<std::unique_ptr<FrontEnd>> ServiceInventory::frontEnds(
    const FrontEndContext& context) const {
    std::vector<std::unique_ptr<FrontEnd>> made;
    for (const auto& part : parts_) {
        if (auto frontEnd = part->make(context)) made.push_back(std::move(frontEnd));
    }
    return made;
}

void ServiceInventory::reload(std::vector<std::unique_ptr<FrontEnd>>& running,
                              const FrontEndContext& next, const fleet::Changes& changes) const {
    std::vector<std::unique_ptr<FrontEnd>> kept;
    for (const auto& part : parts_) {
        std::unique_ptr<FrontEnd> made = part->make(next);
        if (!made) continue;
        const auto same = std::find_if(running.begin(), running.end(), [&](const auto& frontEnd) {
            return frontEnd && frontEnd->name() == made->name();
        });
        if (same != running.end()) {
            part->reload(**same, next, changes);
            kept.push_back(std::move(*same));
            continue;
        }
        std::string why;
        if (!made->start(&why)) {
            log(Level::Error, "reload: " + why);
            continue;
        }
        made->serve();
        log(Level::Info, "reload: " + std::string(made->name()) + " started");
        kept.push_back(std::move(made));
    }
    for (auto& gone : running) {
        if (!gone) continue;
        gone->closing();
        gone->stop();
        log(Level::Info, "reload: " + std::string(gone->name()) + " stopped");
    }
    running = std::move(kept);
}

}  // namespace zolvane::service
