#include "mqtt/command_message.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "command_request.h"
#include "json_text.h"
#include "mqtt/topics.h"
#include "zolvane_fleet/text.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::service::mqtt {
namespace {

using nlohmann::json;

// A set topic's payload, a whole number or a value name, as the body the API takes. Line ends
// and spaces after it are what a shell's echo or a dashboard adds, and are dropped; anything
// else that is not printable would be cut short or misread further on, so it is refused here.
std::optional<std::string> setBody(std::string_view setting, std::string_view payload,
                                   std::string* why) {
    if (!fleet::validUtf8(payload)) {
        *why = "the value is not UTF-8 text";
        return std::nullopt;
    }
    std::string text(payload);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    if (fleet::hasControl(text)) {
        *why = "the value holds a control character";
        return std::nullopt;
    }
    json body = {{"command", "set"}, {"setting", setting}};
    const bool number =
        !text.empty() && text.size() < 12 &&
        text.find_first_not_of("0123456789", text[0] == '-' ? 1 : 0) == std::string::npos &&
        text != "-";
    body["value"] = number ? json(std::stoll(text)) : json(text);
    return jsonText(body);
}

// A JSON string may carry a NUL or any other control character escaped; the catalogue reads
// names as C strings, so "Power\u0000junk" would be taken as "Power".
std::optional<std::string> controlIn(const json& body) {
    if (!body.is_object()) return std::nullopt;
    for (const auto& [key, value] : body.items()) {
        if (fleet::hasControl(key) ||
            (value.is_string() && fleet::hasControl(value.get_ref<const std::string&>()))) {
            return "\"" + key + "\" holds a control character";
        }
    }
    return std::nullopt;
}

CommandMessage invalid(CommandMessage message, std::string reason) {
    message.kind = CommandMessage::Kind::Invalid;
    message.reason = std::move(reason);
    message.targets.clear();
    message.command.reset();
    return message;
}

}  // namespace

CommandMessage readCommandMessage(const mqtt::Settings& mqtt, const fleet::Inventory& inventory,
                                  std::string_view topic, std::string_view payload, bool retained) {
    CommandMessage message;
    const std::optional<CommandTopic> read = parseCommandTopic(mqtt, topic);
    if (!read) return message;
    if (retained && payload.empty()) {
        message.kind = CommandMessage::Kind::Ignored;
        return message;
    }

    message.resultTopic = siteResultTopic(mqtt);
    std::optional<std::string> unknown;
    if (read->group) {
        message.group = read->target;
        for (const fleet::ProjectorEntry& entry : inventory.projectors) {
            if (read->target == "all" || std::find(entry.groups.begin(), entry.groups.end(),
                                                   read->target) != entry.groups.end()) {
                message.targets.push_back(entry.name);
            }
        }
        if (message.targets.empty() && read->target != "all") {
            unknown = "unknown group \"" + read->target + "\"";
        }
    } else if (inventory.find(read->target) != nullptr) {
        message.targets.push_back(read->target);
        message.projector = read->target;
        message.resultTopic = projectorTopic(mqtt, read->target, "result");
    } else {
        unknown = "unknown projector \"" + read->target + "\"";
    }
    if (retained) {
        message.clearRetained = true;
        return invalid(std::move(message),
                       "a retained command is not run (it would run at every connect); it is "
                       "cleared");
    }
    if (unknown) return invalid(std::move(message), *unknown);
    if (payload.size() > kLargestMessage) {
        return invalid(std::move(message), "message of " + std::to_string(payload.size()) +
                                               " bytes, over " + std::to_string(kLargestMessage));
    }

    CheckedCommand checked;
    if (!read->set) {
        const json body = json::parse(payload, nullptr, false);
        if (const std::optional<std::string> control = controlIn(body)) {
            return invalid(std::move(message), *control);
        }
        checked = commandFromBody(payload);
        if (checked.command && body.is_object() && body.contains("id")) {
            const json& given = body["id"];
            if (!given.is_string() && !given.is_number_integer()) {
                return invalid(std::move(message), "\"id\" must be a string or a whole number");
            }
            message.id = given.is_string() ? given.get<std::string>() : given.dump();
        }
    } else {
        if (read->setting.empty()) {
            return invalid(std::move(message), "the topic names no setting (.../set/SETTING)");
        }
        const fleet::WatchedValue* everyday = fleet::watchedByCommand(read->setting);
        const std::string setting = everyday ? everyday->setting : read->setting;
        if (fleet::findSetting(setting) == nullptr) {
            return invalid(std::move(message), "no setting \"" + setting + "\"");
        }
        std::string why;
        const std::optional<std::string> body = setBody(setting, payload, &why);
        if (!body) return invalid(std::move(message), why);
        checked = commandFromBody(*body);
    }
    if (!checked.command) return invalid(std::move(message), checked.fault.reason);
    message.kind = CommandMessage::Kind::Run;
    message.command = checked.command;
    return message;
}

std::string invalidAnswer(std::string_view topic, const CommandMessage& message) {
    json shown = {{"topic", fleet::validUtf8Copy(topic)},
                  {"outcome", "invalid"},
                  {"ok", false},
                  {"reason", fleet::validUtf8Copy(message.reason)}};
    if (message.projector) shown["projector"] = *message.projector;
    if (!message.group.empty()) shown["group"] = message.group;
    return jsonText(shown);
}

}  // namespace zolvane::service::mqtt
