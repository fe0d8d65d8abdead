#include "alert/body_template.h"

#include <algorithm>

#include "alert/notification.h"
#include "zolvane_fleet/text.h"

namespace zolvane::service::alert {
namespace {

using nlohmann::json;

constexpr std::size_t kLargestTemplate = std::size_t{64} * 1024;

// The notification parse() tries a template on. Every text starts with a quote, which renders
// as \" and so is JSON only inside a string (a literal backslash or half an escape before it
// makes it none): a template that renders JSON with it keeps each placeholder inside a string,
// where any text renders JSON. The id alone is a number, so that "id": {{id}} may stand bare.
const json& sampleNotification() {
    static const json sample = [] {
        const auto text = [](std::string_view name) {
            return "\"\\ " + std::string(name) + "\n\t\x01 \xc3\xa9 \xff";
        };
        json alert = json::object();
        for (const std::string_view field : BodyTemplate::fields()) {
            if (field != "event" && field != "title") alert[std::string(field)] = text(field);
        }
        alert["id"] = 12;
        return json{{"event", text("event")},
                    {"alert", alert},
                    {"projector", nullptr},
                    {"sentence", text("sentence")}};
    }();
    return sample;
}

// The field as text: a string as it is, null or missing as nothing, anything else as its JSON.
std::string fieldText(const json& notification, const std::string& field) {
    if (!notification.is_object()) return {};
    const json* value = nullptr;
    const auto alert = notification.find("alert");
    const bool hasAlert = alert != notification.end() && alert->is_object();
    if (field == "title") {
        return hasAlert || alert == notification.end() ? notificationTitle(notification) : "";
    }
    if (field == "event" || field == "sentence") {
        const auto at = notification.find(field);
        if (at != notification.end()) value = &*at;
    } else if (hasAlert) {
        const auto at = alert->find(field);
        if (at != alert->end()) value = &*at;
    }
    if (!value || value->is_null()) return {};
    if (value->is_string()) return value->get<std::string>();
    return value->dump(-1, ' ', false, json::error_handler_t::replace);
}

// The inside of a JSON string holding text: quotes, backslashes and control characters escaped,
// each ill-formed UTF-8 sequence replaced by U+FFFD.
std::string escaped(const std::string& text) {
    const std::string quoted = json(text).dump(-1, ' ', false, json::error_handler_t::replace);
    return quoted.substr(1, quoted.size() - 2);
}

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<BodyTemplate> BodyTemplate::parse(std::string_view text, std::string* fault) {
    const auto fail = [&](std::string reason) -> std::optional<BodyTemplate> {
        if (fault) *fault = std::move(reason);
        return std::nullopt;
    };
    if (text.size() > kLargestTemplate) return fail("the template is larger than 64 KiB");
    BodyTemplate made;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find("{{", at);
        if (open == std::string_view::npos) {
            made.pieces_.push_back({std::string(text.substr(at)), {}});
            break;
        }
        if (open > at) made.pieces_.push_back({std::string(text.substr(at, open - at)), {}});
        const std::size_t close = text.find("}}", open + 2);
        if (close == std::string_view::npos) {
            return fail("the placeholder " + escaped(std::string(text.substr(open, 24))) +
                        " is not closed with }}");
        }
        std::string_view name = text.substr(open + 2, close - open - 2);
        while (!name.empty() && blank(name.front())) name.remove_prefix(1);
        while (!name.empty() && blank(name.back())) name.remove_suffix(1);
        const auto& known = fields();
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            std::string list;
            for (const std::string_view field : known) {
                list += (list.empty() ? "" : ", ") + std::string(field);
            }
            return fail("unknown field \"" + escaped(std::string(name)) +
                        "\" in the template (the fields: " + list + ")");
        }
        made.pieces_.push_back({{}, std::string(name)});
        at = close + 2;
    }
    const std::string sample = made.render(sampleNotification());
    try {
        const json parsed = json::parse(sample);
    } catch (const json::exception& error) {
        return fail("the template does not render JSON: " + fleet::printable(error.what()) +
                    " (each placeholder but {{id}} belongs inside a JSON string)");
    }
    return made;
}

std::string BodyTemplate::render(const nlohmann::json& notification) const {
    std::string body;
    for (const Piece& piece : pieces_) {
        body += piece.field.empty() ? piece.text : escaped(fieldText(notification, piece.field));
    }
    return body;
}

const std::vector<std::string_view>& BodyTemplate::fields() {
    static const std::vector<std::string_view> names = {
        "event", "id",    "rule",     "kind",    "projector", "schedule", "severity",
        "state", "value", "sentence", "started", "changed",   "resolved", "acknowledged_by",
        "title"};
    return names;
}

}  // namespace zolvane::service::alert
