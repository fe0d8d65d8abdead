#include "command_request.h"

#include <array>
#include <limits>

#include "json_text.h"
#include "zolvane_fleet/text.h"

namespace zolvane::service {
namespace {

using nlohmann::json;

struct OperationWord {
    std::string_view word;
    fleet::Operation operation;
    std::uint32_t bit;
};

constexpr std::array operationWords{
    OperationWord{"get", fleet::Operation::Get, ZV_OP_GET},
    OperationWord{"set", fleet::Operation::Set, ZV_OP_SET},
    OperationWord{"increment", fleet::Operation::Increment, ZV_OP_INCREMENT},
    OperationWord{"decrement", fleet::Operation::Decrement, ZV_OP_DECREMENT},
    OperationWord{"reset", fleet::Operation::Reset, ZV_OP_RESET},
    OperationWord{"execute", fleet::Operation::Execute, ZV_OP_EXECUTE},
};

// The everyday commands of the web page's buttons: a set of one setting.
struct ShortForm {
    std::string_view word;
    const char* setting;
};

constexpr std::array shortForms{
    ShortForm{"power", "Power"},
    ShortForm{"input", "InputSource"},
    ShortForm{"blank", "Blank"},
    ShortForm{"mute", "Mute"},
};

CheckedCommand refused(int status, std::string reason) { return {{}, {status, std::move(reason)}}; }

std::string inQuotes(std::string_view text) { return "\"" + fleet::printable(text) + "\""; }

std::optional<json> parsedObject(std::string_view body, CheckedCommand* fault) {
    json parsed = json::parse(body, nullptr, false);
    if (parsed.is_discarded()) {
        *fault = refused(400, "the body is not JSON");
        return {};
    }
    if (!parsed.is_object()) {
        *fault = refused(400, "the body must be a JSON object");
        return {};
    }
    return parsed;
}

// The value of a set: a whole number or one of the setting's value names, that a set may send.
CheckedCommand withValue(fleet::Command command, const json& body) {
    const auto found = body.find("value");
    if (found == body.end()) return refused(400, "a set needs a \"value\"");
    const json& value = *found;
    const std::string setting = command.setting->name;
    if (value.is_string()) {
        std::uint16_t named = 0;
        const std::string name = value.get<std::string>();
        if (!fleet::plainText(name) || !zv_value_from_name(command.setting, name.c_str(), &named)) {
            return refused(422, setting + " has no value " + inQuotes(name));
        }
        command.value = named;
    } else if (value.is_number_integer()) {
        const bool fits =
            value.is_number_unsigned()
                ? value.get<std::uint64_t>() <= std::numeric_limits<std::int32_t>::max()
                : value.get<std::int64_t>() >= std::numeric_limits<std::int32_t>::min();
        if (!fits) return refused(422, setting + " does not take " + jsonText(value));
        command.value = static_cast<std::int32_t>(value.get<std::int64_t>());
    } else {
        return refused(400, "\"value\" must be a whole number or a value name");
    }
    if (!zv_value_valid(command.setting, command.value)) {
        return refused(422, setting + " does not take " + jsonText(value));
    }
    return {command, {}};
}

CheckedCommand checked(fleet::Command command, const OperationWord& operation, const json& body) {
    command.operation = operation.operation;
    if ((command.setting->operations & operation.bit) == 0) {
        return refused(
            422, std::string(command.setting->name) + " has no " + std::string(operation.word));
    }
    if (command.operation == fleet::Operation::Set) return withValue(command, body);
    return {command, {}};
}

}  // namespace

std::string_view operationName(fleet::Operation operation) {
    for (const OperationWord& word : operationWords) {
        if (word.operation == operation) return word.word;
    }
    return "?";
}

const zv_setting* findSetting(std::string_view name, RequestFault* fault) {
    const zv_setting* setting =
        fleet::plainText(name) ? zv_catalogue_find(std::string(name).c_str()) : nullptr;
    if (!setting && fault) *fault = {404, "no setting " + inQuotes(name)};
    return setting;
}

CheckedCommand commandFromBody(std::string_view body) {
    CheckedCommand fault;
    const std::optional<json> parsed = parsedObject(body, &fault);
    if (!parsed) return fault;
    const auto word = parsed->find("command");
    if (word == parsed->end() || !word->is_string()) {
        return refused(400, "a command needs \"command\", a word");
    }
    const std::string name = word->get<std::string>();
    fleet::Command command;
    for (const ShortForm& form : shortForms) {
        if (form.word != name) continue;
        command.setting = zv_catalogue_find(form.setting);
        return checked(command, operationWords[1], *parsed);
    }
    for (const OperationWord& operation : operationWords) {
        if (operation.word != name) continue;
        const auto setting = parsed->find("setting");
        if (setting == parsed->end() || !setting->is_string()) {
            return refused(400, inQuotes(name) + " needs \"setting\", a setting's name");
        }
        RequestFault unknown;
        command.setting = findSetting(setting->get<std::string>(), &unknown);
        if (!command.setting) return {{}, unknown};
        return checked(command, operation, *parsed);
    }
    return refused(400, "no command " + inQuotes(name));
}

CheckedCommand setFromBody(std::string_view setting, std::string_view body) {
    fleet::Command command;
    RequestFault unknown;
    command.setting = findSetting(setting, &unknown);
    if (!command.setting) return {{}, unknown};
    CheckedCommand fault;
    const std::optional<json> parsed = parsedObject(body, &fault);
    if (!parsed) return fault;
    return checked(command, operationWords[1], *parsed);
}

}  // namespace zolvane::service
