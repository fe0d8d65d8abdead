#include "alert/rules.h"

#include "zolvane_fleet/inventory_section.h"

namespace zolvane::service::alert {

// PLACEHOLDER: the reader is being written.
std::string_view kindWord(Kind) { return "offline"; }
std::string_view notifierKindWord(NotifierKind) { return "journal"; }

std::unique_ptr<fleet::InventorySection> alertsReader(const Settings&,
                                                      const std::vector<schedule::Schedule>&,
                                                      Alerting&) {
    return std::make_unique<fleet::InventorySection>();
}

}  // namespace zolvane::service::alert
