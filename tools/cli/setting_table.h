// Every setting the library knows, with its type codes and label. Built from the library's own
// catalogue, so the two cannot drift apart.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "zolvane_catalogue.h"
#include "zolvane_fleet/command.h"

namespace zolvane::cli {

using Operation = fleet::Operation;

struct SettingRow {
    std::string_view name;   // as in the export names: "Brightness" for ZV_GetBrightness
    uint16_t type;           // the setting's type code
    uint16_t resetType;      // the type code a reset sends; 0 when there is no reset
    std::string_view label;  // the desktop program's wording; empty when it has none

    // Whether the library exports the operation for this setting.
    bool supports(Operation operation) const;
    // The library's description of this setting: its range and the names of its values.
    const zv_setting& described() const;
};

std::span<const SettingRow> SettingTable();

// Matches the export name first and then the label, both without regard to case.
const SettingRow* FindSetting(std::string_view nameOrLabel);

// As FindSetting, but a name that matches nothing, or a setting without this operation, raises
// UsageError with a message that says which.
const SettingRow& RequireSetting(std::string_view nameOrLabel, Operation operation);

// The word the command line uses: "get", "set", "inc", "dec", "reset", "exec".
std::string_view OperationWord(Operation operation);
// The library's action code of the command frame (a reset is an execute).
int32_t ActionCode(Operation operation);
// The type code the frame carries.
uint16_t FrameType(const SettingRow& row, Operation operation);

}  // namespace zolvane::cli
