#include "command_request.h"

#include "zolvane_fleet/text.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::service {
namespace {

using nlohmann::json;

CheckedCommand refused(int status, std::string reason) { return {{}, {status, std::move(reason)}}; }

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

// The value of a set as the body gives it; none when it gives none, or neither a whole number
// nor a name.
std::optional<fleet::Value> valueOf(const json& body) {
    const auto value = body.find("value");
    if (value == body.end()) return {};
    if (value->is_string()) return std::string_view(value->get_ref<const std::string&>());
    if (value->is_number_unsigned()) return value->get<std::uint64_t>();
    if (value->is_number_integer()) return value->get<std::int64_t>();
    return {};
}

CheckedCommand checked(fleet::Operation operation, std::string_view setting, const json& body) {
    const fleet::Checked checked =
        fleet::check(operation, setting, valueOf(body), fleet::Phrasing::Command);
    if (checked.command) return {checked.command, {}};
    if (checked.refusal.kind == fleet::Refusal::Kind::NoValue && body.contains("value")) {
        return refused(400, "\"value\" must be a whole number or a value name");
    }
    return refused(statusOf(checked.refusal), checked.refusal.reason);
}

}  // namespace

int statusOf(const fleet::Refusal& refusal) {
    switch (refusal.kind) {
        case fleet::Refusal::Kind::NoSetting:
            return 404;
        case fleet::Refusal::Kind::NoValue:
            return 400;
        default:
            return 422;
    }
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
    if (const fleet::WatchedValue* row = fleet::watchedByCommand(name)) {
        return checked(fleet::Operation::Set, row->setting, *parsed);
    }
    const std::string quoted = "\"" + fleet::printable(name) + "\"";
    const fleet::OperationInfo* operation = fleet::operationByWord(name);
    if (!operation) return refused(400, "no command " + quoted);
    const auto setting = parsed->find("setting");
    if (setting == parsed->end() || !setting->is_string()) {
        return refused(400, quoted + " needs \"setting\", a setting's name");
    }
    return checked(operation->operation, setting->get_ref<const std::string&>(), *parsed);
}

CheckedCommand setFromBody(std::string_view setting, std::string_view body) {
    CheckedCommand fault;
    const std::optional<json> parsed = parsedObject(body, &fault);
    // An unknown setting is answered before a body that cannot be read.
    const CheckedCommand named =
        checked(fleet::Operation::Set, setting, parsed.value_or(json::object()));
    return parsed || named.fault.status == 404 ? named : fault;
}

}  // namespace zolvane::service
