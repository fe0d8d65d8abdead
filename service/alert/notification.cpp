#include "alert/notification.h"

#include <cctype>

namespace zolvane::service::alert {
namespace {

nlohmann::json orNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

nlohmann::json orNull(const std::optional<WallTime>& time) {
    return time ? nlohmann::json(instantText(*time)) : nlohmann::json(nullptr);
}

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

}  // namespace

nlohmann::json alertJson(const Alert& alert) {
    return {{"id", alert.id},
            {"rule", alert.rule},
            {"kind", kindWord(alert.kind)},
            {"projector", orNull(alert.projector)},
            {"schedule", orNull(alert.schedule)},
            {"severity", alert.severity},
            {"state", alert.state},
            {"value", alert.value},
            {"sentence", alert.sentence},
            {"started", instantText(alert.started)},
            {"changed", instantText(alert.changed)},
            {"resolved", orNull(alert.resolved)},
            {"acknowledged_by", orNull(alert.acknowledgedBy)},
            {"acknowledged_at", orNull(alert.acknowledgedAt)}};
}

nlohmann::json notificationJson(std::string_view event, const Alert& alert,
                                const fleet::ProjectorEntry* projector) {
    nlohmann::json shown = nullptr;
    if (projector) {
        shown = {{"name", projector->name},
                 {"label", projector->label},
                 {"address", projector->address},
                 {"groups", projector->groups}};
    }
    return {{"event", event},
            {"alert", alertJson(alert)},
            {"projector", shown},
            {"sentence", alert.sentence}};
}

std::string notificationTitle(const nlohmann::json& notification) {
    const auto text = [](const nlohmann::json& value) {
        return value.is_string() ? value.get<std::string>() : std::string();
    };
    const nlohmann::json& alert = notification.value("alert", nlohmann::json::object());
    const std::string subject = alert.contains("projector") && alert["projector"].is_string()
                                    ? text(alert["projector"])
                                    : text(alert.value("schedule", nlohmann::json()));
    return "[zolvaned] " + upper(text(notification.value("event", nlohmann::json()))) + " " +
           text(alert.value("severity", nlohmann::json())) + ": " + subject + " " +
           text(alert.value("rule", nlohmann::json()));
}

}  // namespace zolvane::service::alert
