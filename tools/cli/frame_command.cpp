#include "frame_command.h"

#include <cctype>

#include "command_frame.h"
#include "exit_status.h"
#include "setting_table.h"
#include "text.h"
#include "value_text.h"

namespace zolvane::cli {
namespace {

Operation ParseAction(const std::string& word) {
    // The command line's own words ("inc") and the fleet's ("increment") alike.
    for (const fleet::OperationInfo& info : fleet::operations()) {
        if (EqualIgnoringCase(OperationWord(info.operation), word) ||
            EqualIgnoringCase(info.word, word)) {
            return info.operation;
        }
    }
    throw UsageError("unknown action '" + word + "': use get, set, inc, dec, reset or exec");
}

}  // namespace

int RunFrame(std::ostream& out, const std::string& action, const std::string& setting,
             const std::optional<std::string>& value) {
    const Operation operation = ParseAction(action);
    if (operation == Operation::Set && !value) throw UsageError("frame set needs a VALUE");
    if (operation != Operation::Set && value) {
        throw UsageError("only frame set takes a VALUE, not frame " + action);
    }

    uint16_t type = 0;
    uint16_t sent = 0;
    // 3DYC is a name that starts with a digit, so names are tried first.
    const bool typeCode = FindSetting(setting) == nullptr && !setting.empty() &&
                          std::isdigit(static_cast<unsigned char>(setting[0]));
    if (typeCode) {
        type = ParseNumber(setting, "type code");
        if (value) sent = ParseNumber(*value, "value");
    } else {
        const SettingRow& row = RequireSetting(setting, operation);
        type = FrameType(row, operation);
        if (value) sent = ParseValue(row, *value);
    }
    out << HexBytes(CommandFrame(ActionCode(operation), type, sent)) << '\n';
    return ExitOk;
}

}  // namespace zolvane::cli
