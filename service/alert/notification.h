// An alert as the API, the database, the notifiers and the page see it, and the notification
// that tells of one of its moments. Every shape is written here once.
//
// An alert (GET /api/alerts, "alert" of a notification):
//   {"id": 12, "rule": "lamp-end", "kind": "lamp_hours", "projector": "hall-a", "schedule": null,
//    "severity": "warning", "state": "firing", "value": "2810 h",
//    "sentence": "hall-a: lamp time 2810 h, at or past the warning level of 2800 h",
//    "started": "2026-12-09T15:00:00.000Z", "changed": "2026-12-09T15:00:00.000Z",
//    "resolved": null, "acknowledged_by": null, "acknowledged_at": null}
// A notification (a webhook's default body, the outbox's row):
//   {"event": "firing", "alert": {...}, "projector": {"name": "hall-a", "label": "Hall A",
//    "address": "tcp://10.0.0.5:4352", "groups": ["halls"]}, "sentence": "..."}
// "projector" is null for an alert on a schedule.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "alert/rules.h"
#include "clock.h"
#include "zolvane_fleet/inventory.h"

namespace zolvane::service::alert {

// The moments an alert is told of.
inline constexpr std::string_view kFiring = "firing";
inline constexpr std::string_view kEscalated = "escalated";  // warning became critical
inline constexpr std::string_view kRepeat = "repeat";        // repeat_minutes passed
inline constexpr std::string_view kAcknowledged = "acknowledged";
inline constexpr std::string_view kResolved = "resolved";

// Its states.
inline constexpr std::string_view kStateFiring = "firing";
inline constexpr std::string_view kStateAcknowledged = "acknowledged";
inline constexpr std::string_view kStateResolved = "resolved";

struct Alert {
    std::int64_t id = 0;
    std::string rule;
    Kind kind = Kind::Offline;
    std::string projector;  // one of the two is set
    std::string schedule;
    std::string severity = "warning";  // "warning", "critical"
    std::string state{kStateFiring};
    std::string value;  // what it fired on, for people: "2810 h", "Lamp Error", "no reply"
    std::string sentence;
    WallTime started{};
    WallTime changed{};
    std::optional<WallTime> resolved;
    std::string acknowledgedBy;  // empty: not acknowledged
    std::optional<WallTime> acknowledgedAt;
};

nlohmann::json alertJson(const Alert& alert);
// projector: the alert's projector's entry, null for a schedule's alert.
nlohmann::json notificationJson(std::string_view event, const Alert& alert,
                                const fleet::ProjectorEntry* projector);
// "[zolvaned] FIRING warning: hall-a lamp-end": an e-mail's subject, a journal line's start.
std::string notificationTitle(const nlohmann::json& notification);

}  // namespace zolvane::service::alert
