#include "list_command.h"

#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "exit_status.h"
#include "setting_table.h"
#include "text.h"
#include "value_text.h"

namespace zolvane::cli {
namespace {

std::vector<std::string> OperationsOf(const SettingRow& row) {
    std::vector<std::string> words;
    for (const fleet::OperationInfo& info : fleet::operations()) {
        if (row.supports(info.operation)) words.emplace_back(OperationWord(info.operation));
    }
    return words;
}

// The range as {"min", "max", "step"}, null when the catalogue gives none.
nlohmann::ordered_json RangeOf(const SettingRow& row) {
    const zv_setting& setting = row.described();
    if (setting.has_range == 0) return nullptr;
    return {{"min", setting.min}, {"max", setting.max}, {"step", setting.step}};
}

// The named values as [{"value", "name"}], in the catalogue's order.
nlohmann::ordered_json NamesOf(const SettingRow& row) {
    const zv_setting& setting = row.described();
    nlohmann::ordered_json names = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < setting.name_count; ++i) {
        names.push_back({{"value", setting.names[i].value}, {"name", setting.names[i].name}});
    }
    return names;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

}  // namespace

int RunList(std::ostream& out, bool json) {
    if (json) {
        nlohmann::ordered_json rows = nlohmann::ordered_json::array();
        for (const SettingRow& row : SettingTable()) {
            rows.push_back(
                {{"name", row.name},
                 {"type", row.type},
                 {"operations", OperationsOf(row)},
                 {"reset", row.resetType != 0 ? nlohmann::ordered_json(row.resetType) : nullptr},
                 {"label", row.label},
                 {"range", RangeOf(row)},
                 {"values", NamesOf(row)}});
        }
        out << rows.dump(2) << '\n';
        return ExitOk;
    }
    const auto line = [&out](std::string_view name, std::string_view type,
                             std::string_view operations, std::string_view reset,
                             std::string_view label, std::string_view values) {
        std::ostringstream text;
        text << std::left << std::setw(18) << name << std::setw(8) << type << std::setw(24)
             << operations << std::setw(8) << reset << std::setw(19) << label << values;
        out << Trim(text.str()) << '\n';
    };
    line("NAME", "TYPE", "OPERATIONS", "RESET", "LABEL", "VALUES");
    for (const SettingRow& row : SettingTable()) {
        line(row.name, HexCode(row.type), Joined(OperationsOf(row)),
             row.resetType != 0 ? HexCode(row.resetType) : "-", row.label, ValuesText(row));
    }
    return ExitOk;
}

}  // namespace zolvane::cli
