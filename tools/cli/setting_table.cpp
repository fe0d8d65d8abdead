#include "setting_table.h"

#include <string>
#include <vector>

#include "exit_status.h"
#include "spelling.h"
#include "text.h"
#include "zolvane.h"

namespace zolvane::cli {
namespace {

// Each catalogue row becomes one table row holding the address of every export it declares.
// clang-format off
#define ZV_EXPORT_Y(function) &function
#define ZV_EXPORT_N(function) nullptr
#define ZV_SETTING(name, type, get, set, inc, dec, reset, resetType, label)                \
    SettingRow{#name, type, resetType, label,                                              \
               ZV_EXPORT_##get(ZV_Get##name), ZV_EXPORT_##set(ZV_Set##name),               \
               ZV_EXPORT_##inc(ZV_Increment##name), ZV_EXPORT_##dec(ZV_Decrement##name),   \
               ZV_EXPORT_##reset(ZV_Reset##name), nullptr},
#define ZV_EXECUTE(name, type, label)                                                      \
    SettingRow{#name, type, 0, label,                                                      \
               nullptr, nullptr, nullptr, nullptr, nullptr, &ZV_Execute##name},
// clang-format on

constexpr SettingRow kSettings[] = {
#include "catalogue.def"
};

#undef ZV_SETTING
#undef ZV_EXECUTE
#undef ZV_EXPORT_Y
#undef ZV_EXPORT_N

}  // namespace

bool SettingRow::supports(Operation operation) const {
    switch (operation) {
        case Operation::Get:
            return get != nullptr;
        case Operation::Set:
            return set != nullptr;
        case Operation::Increment:
            return increment != nullptr;
        case Operation::Decrement:
            return decrement != nullptr;
        case Operation::Reset:
            return reset != nullptr;
        case Operation::Execute:
            return execute != nullptr;
    }
    return false;
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

std::string_view OperationWord(Operation operation) {
    switch (operation) {
        case Operation::Get:
            return "get";
        case Operation::Set:
            return "set";
        case Operation::Increment:
            return "inc";
        case Operation::Decrement:
            return "dec";
        case Operation::Reset:
            return "reset";
        case Operation::Execute:
            return "exec";
    }
    return "?";
}

int32_t ActionCode(Operation operation) {
    switch (operation) {
        case Operation::Set:
            return 1;
        case Operation::Get:
            return 2;
        case Operation::Increment:
            return 4;
        case Operation::Decrement:
            return 5;
        case Operation::Reset:
        case Operation::Execute:
            return 6;
    }
    return 0;
}

uint16_t FrameType(const SettingRow& row, Operation operation) {
    return operation == Operation::Reset ? row.resetType : row.type;
}

}  // namespace zolvane::cli
