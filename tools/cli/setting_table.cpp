#include "setting_table.h"

#include <string>
#include <vector>

#include "exit_status.h"
#include "frame.h"
#include "spelling.h"
#include "text.h"

namespace zolvane::cli {
namespace {

// Each catalogue row becomes one table row; what its operations are the catalogue says.
#define ZV_SETTING(name, type, get, set, inc, dec, reset, resetType, label) \
    SettingRow{#name, type, resetType, label},
#define ZV_EXECUTE(name, type, label) SettingRow{#name, type, 0, label},

// What the command line calls each operation, and the library's action code its frame carries.
struct OperationRow {
    Operation operation;
    std::string_view word;
    Action action;
};

constexpr OperationRow kOperationRows[] = {
    {Operation::Get, "get", ActionGet},
    {Operation::Set, "set", ActionSet},
    {Operation::Increment, "inc", ActionIncrement},
    {Operation::Decrement, "dec", ActionDecrement},
    {Operation::Reset, "reset", ActionExecute},  // a reset is an execute of the reset type code
    {Operation::Execute, "exec", ActionExecute},
};

const OperationRow& operationRow(Operation operation) {
    for (const OperationRow& row : kOperationRows) {
        if (row.operation == operation) return row;
    }
    return kOperationRows[0];
}

constexpr SettingRow kSettings[] = {
#include "catalogue.def"
};

#undef ZV_SETTING
#undef ZV_EXECUTE

}  // namespace

bool SettingRow::supports(Operation operation) const {
    return fleet::supports(described(), operation);
}

const zv_setting& SettingRow::described() const {
    // Every row comes from the catalogue the library describes, so the lookup cannot fail;
    // name points into a string literal and so ends in a zero.
    return *zv_catalogue_find(name.data());
}

std::span<const SettingRow> SettingTable() { return kSettings; }

const SettingRow* FindSetting(std::string_view nameOrLabel) {
    for (const SettingRow& row : kSettings) {
        if (EqualIgnoringCase(row.name, nameOrLabel)) return &row;
    }
    for (const SettingRow& row : kSettings) {
        if (!row.label.empty() && EqualIgnoringCase(row.label, nameOrLabel)) return &row;
    }
    return nullptr;
}

const SettingRow& RequireSetting(std::string_view nameOrLabel, Operation operation) {
    const SettingRow* row = FindSetting(nameOrLabel);
    if (row == nullptr) {
        std::vector<std::string_view> words;
        for (const SettingRow& known : kSettings) {
            words.push_back(known.name);
            if (!known.label.empty()) words.push_back(known.label);
        }
        std::string hint = DidYouMean(nameOrLabel, words);
        if (hint.empty()) hint = " (zolvane list shows every setting)";
        throw UsageError("no setting '" + std::string(nameOrLabel) + "'" + hint);
    }
    if (!row->supports(operation)) {
        throw UsageError(std::string(row->name) + " has no " +
                         std::string(OperationWord(operation)) + " operation");
    }
    return *row;
}

std::string_view OperationWord(Operation operation) { return operationRow(operation).word; }

int32_t ActionCode(Operation operation) { return operationRow(operation).action; }

uint16_t FrameType(const SettingRow& row, Operation operation) {
    return fleet::frameType(row.described(), operation);
}

}  // namespace zolvane::cli
