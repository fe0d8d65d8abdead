#include "alert/body_template.h"

namespace zolvane::service::alert {

// PLACEHOLDER: the template is being written.
std::optional<BodyTemplate> BodyTemplate::parse(std::string_view, std::string* fault) {
    if (fault) *fault = "templates are not read yet";
    return std::nullopt;
}

std::string BodyTemplate::render(const nlohmann::json& notification) const {
    return notification.dump();
}

const std::vector<std::string_view>& BodyTemplate::fields() {
    static const std::vector<std::string_view> names;
    return names;
}

}  // namespace zolvane::service::alert
