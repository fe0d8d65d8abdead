// Every setting the library knows, with its type codes and the library functions that carry out
// each of its operations. Built from the library's own catalogue, so the two cannot drift apart.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "zolvane.h"
#include "zolvane_catalogue.h"

namespace zolvane::cli {

enum class Operation { Get, Set, Increment, Decrement, Reset, Execute };

// ZV_CALL: 32-bit Windows calls the library with a convention of its own.
using GetFunction = int32_t(ZV_CALL*)(uint16_t*);
using SetFunction = int32_t(ZV_CALL*)(int32_t);
using CommandFunction = int32_t(ZV_CALL*)();

struct SettingRow {
    std::string_view name;   // as in the export names: "Brightness" for ZV_GetBrightness
    uint16_t type;           // the setting's type code
    uint16_t resetType;      // the type code a reset sends; 0 when there is no reset
    std::string_view label;  // the desktop program's wording; empty when it has none
    GetFunction get;         // each function pointer is null when the export does not exist
    SetFunction set;
    CommandFunction increment;
    CommandFunction decrement;
    CommandFunction reset;
    CommandFunction execute;

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
// The action code of the command frame: 1 set, 2 get, 4 increment, 5 decrement, 6 execute.
int32_t ActionCode(Operation operation);
// The type code the frame carries: the reset type code for a reset, the setting's own otherwise.
uint16_t FrameType(const SettingRow& row, Operation operation);

}  // namespace zolvane::cli
