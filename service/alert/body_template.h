// A notifier's body in the shape a chat system wants: a JSON text with placeholders such as
// {{sentence}} or {{projector}}, each replaced by the notification's field escaped as the inside
// of a JSON string, so that "text": "{{sentence}}" stays a string whatever the sentence holds.
// Blanks inside the braces are allowed ({{ sentence }}). Each placeholder stands inside a JSON
// string, but {{id}}, a number, may also stand bare ("id": {{id}}): a template is refused when
// it would not be JSON for every notification. A template may be at most 64 KiB.
//
// The fields (a null or missing one is empty text, a number its digits):
//   event            firing, escalated, repeat, acknowledged, resolved
//   id               the alert's number
//   rule             the [[alert]]'s name
//   kind             offline, lamp_hours, filter_hours, error_status, left_on, schedule_failed
//   projector        the projector's name (empty for a schedule's alert)
//   schedule         the schedule's name (empty for a projector's alert)
//   severity         warning, critical
//   state            firing, acknowledged, resolved
//   value            what it fired on: "2810 h", "Lamp Error", "no reply"
//   sentence         one sentence for people
//   started          when it fired, "2026-12-09T15:00:00Z"
//   changed          when its state last changed
//   resolved         when it resolved
//   acknowledged_by  who acknowledged it
//   title            "[zolvaned] FIRING warning: hall-a lamp-end"
//
//   {"text": "{{title}}\n{{sentence}}", "severity": "{{severity}}"}
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zolvane::service::alert {

class BodyTemplate {
public:
    // Empty with the reason in *fault when a placeholder is unknown or not closed, or when the
    // template filled with a sample notification is not JSON.
    static std::optional<BodyTemplate> parse(std::string_view text, std::string* fault);

    // The body for a notification (notification.h).
    std::string render(const nlohmann::json& notification) const;

    // Every placeholder's name, in the order the README lists them.
    static const std::vector<std::string_view>& fields();

    // The same pieces: a notifier read anew with it has not changed.
    bool operator==(const BodyTemplate&) const = default;

private:
    struct Piece {
        std::string text;   // taken as it is
        std::string field;  // or, when not empty, this field
        bool operator==(const Piece&) const = default;
    };
    std::vector<Piece> pieces_;
};

}  // namespace zolvane::service::alert
