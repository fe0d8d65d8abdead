#include "setting_commands.h"

#include <nlohmann/json.hpp>
#include <string>

#include "value_text.h"

namespace zolvane::cli {

int RunSettingCommand(CommandContext& context, Operation operation, std::string_view setting,
                      std::string_view valueText, bool number, bool unchecked,
                      std::string_view noun, bool json) {
    const SettingRow& row = RequireSetting(setting, operation);
    const uint16_t value = operation == Operation::Set ? ParseValue(row, valueText, noun) : 0;
    if (operation == Operation::Set && !unchecked) RequireSettable(row, value);
    const Command command{&row, operation, value};
    const Outcome outcome = context.session().run(command);
    if (!outcome.ok()) return context.report(command, outcome);
    if (operation == Operation::Get && json) {
        nlohmann::ordered_json reading{{"value", outcome.value}};
        if (const std::string_view name = ValueName(row, outcome.value); !name.empty()) {
            reading["name"] = name;
        }
        context.out << reading.dump() << '\n';
    } else if (operation == Operation::Get) {
        context.out << (number ? std::to_string(outcome.value) : NamedValue(row, outcome.value))
                    << '\n';
    }
    return ExitOk;
}

}  // namespace zolvane::cli
