#include "zolvane_fleet/command.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "zolvane_fleet/text.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::fleet {
namespace {

using Kind = Refusal::Kind;

constexpr OperationInfo kOperations[] = {
    {Operation::Get, ZV_OP_GET, "get", "read"},
    {Operation::Set, ZV_OP_SET, "set", "set"},
    {Operation::Increment, ZV_OP_INCREMENT, "increment", "increased"},
    {Operation::Decrement, ZV_OP_DECREMENT, "decrement", "decreased"},
    {Operation::Reset, ZV_OP_RESET, "reset", "reset"},
    {Operation::Execute, ZV_OP_EXECUTE, "execute", "executed"},
};

// The words of every refusal: the first row of its kind that is for the phrasing, or for all
// (none). In the words, %s is the setting's name, %o the operation's word, %r its verb, and %v
// the value or name as given: a number as it is, a name in quotes.
struct Wording {
    Kind kind;
    std::optional<Phrasing> phrasing;
    std::string_view words;
};

constexpr Wording kWordings[] = {
    {Kind::NoSetting, Phrasing::Queued, "no setting given"},
    {Kind::NoSetting, {}, "no setting %v"},
    {Kind::NoOperation, Phrasing::Command, "%s has no %o"},
    {Kind::NoOperation, {}, "%s cannot be %r"},
    {Kind::NoValue, {}, "a set needs a \"value\""},
    {Kind::NoValueName, {}, "%s has no value %v"},
    {Kind::ValueNotTaken, Phrasing::Queued, "%v is not a value of %s"},
    {Kind::ValueNotTaken, {}, "%s does not take %v"},
};

std::string given(const Value& value) {
    if (const auto* name = std::get_if<std::string_view>(&value)) {
        return "\"" + printable(*name) + "\"";
    }
    const auto* wide = std::get_if<std::uint64_t>(&value);
    return wide ? std::to_string(*wide) : std::to_string(std::get<std::int64_t>(value));
}

Checked refused(Kind kind, Phrasing phrasing, const zv_setting* setting, Operation operation,
                const Value& value) {
    std::string_view words;
    for (const Wording& row : kWordings) {
        if (row.kind == kind && (!row.phrasing || row.phrasing == phrasing)) {
            words = row.words;
            break;
        }
    }
    const OperationInfo& info = operationInfo(operation);
    constexpr std::string_view marks = "sorv";
    const std::string parts[] = {setting ? setting->name : "", std::string(info.word),
                                 std::string(info.verb), given(value)};
    std::string reason;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::size_t mark =
            words[i] == '%' && i + 1 < words.size() ? marks.find(words[i + 1]) : marks.npos;
        if (mark == marks.npos) {
            reason += words[i];
        } else {
            reason += parts[mark];
            ++i;
        }
    }
    return {{}, {kind, std::move(reason)}};
}

// The number a set sends for value, or why the setting does not take it.
std::variant<std::int32_t, Kind> sent(const zv_setting& setting, const Value& value) {
    using Limits = std::numeric_limits<std::int32_t>;
    std::uint16_t named = 0;
    const auto* name = std::get_if<std::string_view>(&value);
    if (name &&
        (!plainText(*name) || !zv_value_from_name(&setting, std::string(*name).c_str(), &named))) {
        return Kind::NoValueName;
    }
    const auto* wide = std::get_if<std::uint64_t>(&value);
    const std::int64_t number =
        name   ? named
        : wide ? static_cast<std::int64_t>(std::min<std::uint64_t>(*wide, Limits::max() + 1ull))
               : std::get<std::int64_t>(value);
    if (number < Limits::min() || number > Limits::max() ||
        !zv_value_valid(&setting, static_cast<std::int32_t>(number))) {
        return Kind::ValueNotTaken;
    }
    return static_cast<std::int32_t>(number);
}

// Whether a projector may have names of its own for the setting's values.
bool namedByProjector(const zv_setting& setting) {
    return setting.type == watchedByMember(&ProjectorState::input).type();
}

std::string asGiven(const Value& value) {
    if (const auto* name = std::get_if<std::string_view>(&value)) return std::string(*name);
    const auto* wide = std::get_if<std::uint64_t>(&value);
    return wide ? std::to_string(*wide) : std::to_string(std::get<std::int64_t>(value));
}

// The value of ownValue as check() reads it: a whole number when it is one, else a name.
Value ownValueOf(const std::string& text) {
    std::int64_t number = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, number);
    if (!text.empty() && error == std::errc() && at == end) return number;
    return std::string_view(text);
}

Checked checked(Operation operation, const zv_setting& setting, const std::optional<Value>& value,
                Phrasing phrasing, bool projectorNames = true) {
    const Value none = std::int64_t{0};
    if (!supports(setting, operation)) {
        return refused(Kind::NoOperation, phrasing, &setting, operation, none);
    }
    if (operation != Operation::Set) return {Command{operation, &setting, 0, {}, {}}, {}};
    if (!value) return refused(Kind::NoValue, phrasing, &setting, operation, none);
    const auto number = sent(setting, *value);
    const bool own = projectorNames && namedByProjector(setting) && plainText(asGiven(*value));
    if (const Kind* why = std::get_if<Kind>(&number)) {
        if (own) return {Command{operation, &setting, 0, {}, asGiven(*value)}, {}};
        return refused(*why, phrasing, &setting, operation, *value);
    }
    return {Command{operation,
                    &setting,
                    std::get<std::int32_t>(number),
                    {},
                    own ? asGiven(*value) : std::string()},
            {}};
}

}  // namespace

std::span<const OperationInfo> operations() { return kOperations; }

const OperationInfo& operationInfo(Operation operation) {
    for (const OperationInfo& info : kOperations) {
        if (info.operation == operation) return info;
    }
    return kOperations[0];
}

const OperationInfo* operationByWord(std::string_view word) {
    for (const OperationInfo& info : kOperations) {
        if (info.word == word) return &info;
    }
    return nullptr;
}

const zv_setting* findSetting(std::string_view name) {
    return plainText(name) ? zv_catalogue_find(std::string(name).c_str()) : nullptr;
}

Checked check(Operation operation, std::string_view setting, std::optional<Value> value,
              Phrasing phrasing) {
    const zv_setting* found = findSetting(setting);
    if (found == nullptr) return refused(Kind::NoSetting, phrasing, nullptr, operation, setting);
    return checked(operation, *found, value, phrasing);
}

Checked check(const Command& command, Phrasing phrasing) { return check(command, phrasing, true); }

Checked check(const Command& command, Phrasing phrasing, bool projectorNames) {
    const Value value = command.ownValue.empty() ? Value(std::int64_t{command.value})
                                                 : ownValueOf(command.ownValue);
    if (command.setting == nullptr) {
        return refused(Kind::NoSetting, phrasing, nullptr, command.operation, value);
    }
    Checked result = checked(command.operation, *command.setting, value, phrasing, projectorNames);
    if (result.command) result.command->origin = command.origin;
    return result;
}

Checked checkFor(const Command& command, const ProjectorState& state, std::string_view projector,
                 Phrasing phrasing) {
    const WatchedValue& row = watchedByMember(&ProjectorState::input);
    const bool ownInputs = command.operation == Operation::Set && command.setting != nullptr &&
                           command.setting->type == row.type() && !state.abilities.inputs.empty();
    if (!ownInputs) return check(command, phrasing, false);
    const std::string given =
        command.ownValue.empty() ? std::to_string(command.value) : command.ownValue;
    std::optional<std::uint16_t> found = valueByName(state, row, given);
    std::string names;
    for (const InputName& input : state.abilities.inputs) {
        if (!found && std::to_string(input.value) == given) found = input.value;
        names += (names.empty() ? "" : ", ") + input.name;
    }
    if (!found) {
        return {{},
                {Kind::NoValueName, "\"" + printable(given) + "\" is not an input of " +
                                        printable(projector) + " (" + names + ")"}};
    }
    Command resolved = command;
    resolved.value = *found;
    resolved.ownValue.clear();
    return {resolved, {}};
}

bool supports(const zv_setting& setting, Operation operation) {
    return (setting.operations & operationInfo(operation).bit) != 0;
}

std::uint16_t frameType(const zv_setting& setting, Operation operation) {
    return operation == Operation::Reset ? setting.reset_type : setting.type;
}

LinkAction linkAction(const Command& command) {
    const std::uint16_t type = frameType(*command.setting, command.operation);
    switch (command.operation) {
        case Operation::Get:
            return {kActionGet, type, 0};
        case Operation::Set:
            return {kActionSet, type, command.value};
        case Operation::Increment:
            return {kActionIncrement, type, 0};
        case Operation::Decrement:
            return {kActionDecrement, type, 0};
        case Operation::Reset:
        case Operation::Execute:
            break;
    }
    return {kActionExecute, type, 0};
}

zv_result exchange(zv_link* link, const LinkAction& action, std::uint16_t* value) {
    switch (action.action) {
        case kActionGet:
            return zv_get(link, action.type, value);
        case kActionSet:
            return zv_set(link, action.type, action.value);
        case kActionIncrement:
            return zv_increment(link, action.type);
        case kActionDecrement:
            return zv_decrement(link, action.type);
        case kActionExecute:
            return zv_execute(link, action.type);
        default:
            return ZV_RESULT_BAD_ARGUMENT;
    }
}

zv_result exchange(zv_link* link, const Command& command, std::uint16_t* value) {
    if (command.setting == nullptr) return ZV_RESULT_BAD_ARGUMENT;
    return exchange(link, linkAction(command), value);
}

}  // namespace zolvane::fleet
