// A notifier's body in the shape a chat system wants: a JSON text with placeholders such as
// {{sentence}} or {{projector}}, each replaced by the notification's field escaped as the inside
// of a JSON string, so that "text": "{{sentence}}" stays a string whatever the sentence holds.
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

private:
    struct Piece {
        std::string text;   // taken as it is
        std::string field;  // or, when not empty, this field
    };
    std::vector<Piece> pieces_;
};

}  // namespace zolvane::service::alert
