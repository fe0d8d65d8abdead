#include "setting_commands.h"

#include "value_text.h"

namespace zolvane::cli {

int RunSettingCommand(CommandContext& context, Operation operation, std::string_view setting,
                      std::string_view valueText) {
    const SettingRow& row = RequireSetting(setting, operation);
    const Command command{&row, operation,
                          operation == Operation::Set ? ParseValue(row, valueText) : uint16_t{0}};
    const Outcome outcome = context.session().run(command);
    if (!outcome.ok()) return context.report(command, outcome);
    if (operation == Operation::Get) context.out << outcome.value << '\n';
    return ExitOk;
}

}  // namespace zolvane::cli
