#include "alert/notification.h"

namespace zolvane::service::alert {

// PLACEHOLDER: the shapes are being written.
nlohmann::json alertJson(const Alert& alert) { return {{"id", alert.id}}; }

nlohmann::json notificationJson(std::string_view event, const Alert& alert,
                                const fleet::ProjectorEntry*) {
    return {{"event", event}, {"alert", alertJson(alert)}};
}

std::string notificationTitle(const nlohmann::json&) { return "[zolvaned]"; }

}  // namespace zolvane::service::alert
