// Every front end of the service, and the inventory read with each one's part of it.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "alert/rules.h"
#include "auth/tokens.h"
#include "front_end.h"
#include "schedule/calendar.h"
#include "settings.h"
#include "zolvane_fleet/inventory.h"

namespace zolvane::service {

class ServiceInventory {
public:
    explicit ServiceInventory(const std::filesystem::path& file);

    const fleet::LoadResult& loaded() const { return loaded_; }
    const Settings& settings() const { return settings_; }
    const std::vector<schedule::Schedule>& schedules() const { return schedules_; }
    const alert::Alerting& alerting() const { return alerting_; }
    const auth::TokenTable& tokens() const { return tokens_; }
    // Every front end the inventory asks for, in the order they start.
    std::vector<std::unique_ptr<FrontEnd>> frontEnds(const FrontEndContext& context) const;
    // A reload: this reading applied to the front ends running, made from an earlier one.
    // Those this reading no longer asks for are stopped and dropped; those it asks for anew are
    // made, started and served; each other is given this reading by its part.
    void reload(std::vector<std::unique_ptr<FrontEnd>>& running, const FrontEndContext& next,
                const fleet::Changes& changes) const;

private:
    Settings settings_;
    std::vector<schedule::Schedule> schedules_;
    alert::Alerting alerting_;
    auth::TokenTable tokens_;
    std::vector<std::unique_ptr<FrontEndPart>> parts_;
    fleet::LoadResult loaded_;
};

}  // namespace zolvane::service
