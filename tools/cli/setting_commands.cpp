#include "setting_commands.h"

#include <nlohmann/json.hpp>
#include <string>

#include "value_text.h"

namespace zolvane::cli {

int RunSettingCommand(CommandContext& context, Operation operation, std::string_view setting,
                      std::string_view valueText, bool number, bool unchecked,
                      std::string_view noun, bool json) {
    const SettingRow& row = RequireSetting(setting, operation);
    const bool pjlinkInput = operation == Operation::Set && IsInput(row) && context.pjlink();
    // PJLink projectors number their inputs in a way of their own, so among projectors of both
    // kinds each reads the input its own way, and none is given a head start.
    if (pjlinkInput && context.probing()) throw ProbeEnd{};
    uint16_t value = 0;
    std::string inputName;
    if (pjlinkInput && IsPjlinkInputName(valueText)) {
        inputName = valueText;
    } else if (pjlinkInput) {
        value = ParsePjlinkInput(valueText);
    } else if (operation == Operation::Set) {
        value = ParseValue(row, valueText, noun);
        if (!unchecked) RequireSettable(row, value);
    }
    const Command command{&row, operation, value, inputName};
    Session& session = context.session();
    const Outcome outcome = session.run(command);
    // An input the projector does not have: nothing was switched.
    if (!inputName.empty() && outcome.result == ZV_RESULT_BAD_ARGUMENT) {
        throw UsageError(outcome.reason);
    }
    if (!outcome.ok()) return context.report(command, outcome);
    if (operation == Operation::Get && json) {
        nlohmann::ordered_json reading{{"value", outcome.value}};
        if (const std::string name = ShownName(row, outcome.value, session.pjlink());
            !name.empty()) {
            reading["name"] = name;
        }
        context.out << reading.dump() << '\n';
    } else if (operation == Operation::Get) {
        context.out << (number ? std::to_string(outcome.value)
                               : ShownValue(row, outcome.value, session.pjlink()))
                    << '\n';
    }
    return ExitOk;
}

}  // namespace zolvane::cli
