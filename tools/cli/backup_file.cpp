#include "backup_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "exit_status.h"
#include "text.h"
#include "zolvane.h"

namespace zolvane::cli {
namespace {

constexpr const char* kFormat = "zolvane settings backup";
constexpr int kVersion = 1;

using nlohmann::json;

nlohmann::ordered_json EntryJson(const BackupEntry& entry) {
    nlohmann::ordered_json item = {{"name", entry.row->name}, {"type", entry.row->type}};
    if (entry.value) {
        const uint8_t reply[] = {0x1D, static_cast<uint8_t>(*entry.value & 0xFF),
                                 static_cast<uint8_t>(*entry.value >> 8)};
        item["value"] = *entry.value;
        item["reply"] = HexBytes(reply);
    } else {
        item["value"] = nullptr;
        item["reply"] = nullptr;
        item["error"] = ZV_GetResultText(entry.result);
        item["result"] = entry.result;
    }
    return item;
}

std::string ReadWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw UsageError("cannot read backup " + file.string() + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

json Parse(const std::string& text, const std::string& name) {
    if (Trim(text).empty()) throw UsageError("backup " + name + " is empty");
    try {
        return json::parse(text);
    } catch (const json::parse_error& error) {
        // The parser stops one past the last byte when the text simply ends too soon.
        if (error.byte > Trim(text).size()) {
            throw UsageError("backup " + name +
                             " is truncated (it ends in the middle of the JSON)");
        }
        throw UsageError("backup " + name + " is not JSON: " + error.what());
    }
}

BackupEntry EntryFrom(const json& item, const std::string& name) {
    const std::string different = "backup " + name + " was made for a different setting list: ";
    if (!item.is_object() || !item.contains("name") || !item["name"].is_string()) {
        throw UsageError("backup " + name + " has a setting without a name");
    }
    const std::string settingName = item["name"].get<std::string>();
    const SettingRow* row = nullptr;
    for (const SettingRow& candidate : SettingTable()) {
        if (candidate.name == settingName) row = &candidate;
    }
    if (row == nullptr) throw UsageError(different + "unknown setting '" + settingName + "'");
    if (!row->supports(Operation::Get)) {
        throw UsageError(different + "'" + settingName + "' cannot be read, so no backup holds it");
    }
    if (!item.contains("type") || !item["type"].is_number_unsigned() ||
        item["type"].get<uint64_t>() != row->type) {
        throw UsageError(different + "'" + settingName + "' does not have the type code " +
                         HexCode(row->type) + " there");
    }

    BackupEntry entry{row, std::nullopt, ZV_RESULT_BAD_REPLY};
    const json& value = item.contains("value") ? item["value"] : json();
    if (value.is_number_unsigned() && value.get<uint64_t>() <= 0xFFFF) {
        entry.value = value.get<uint16_t>();
    } else if (!value.is_null()) {
        throw UsageError("backup " + name + ": the value " + value.dump() + " of '" + settingName +
                         "' is not a 16-bit value (0 to 65535)");
    }
    return entry;
}

ReplacingFile CreateOutput(const std::filesystem::path& file) {
    try {
        return ReplacingFile(file);
    } catch (const FileError& error) {
        throw UsageError("cannot write backup " + file.string() + ": " + error.what());
    }
}

}  // namespace

BackupWriter::BackupWriter(const std::filesystem::path& file)
    : file_(file), output_(CreateOutput(file)) {}

void BackupWriter::commit(const Backup& backup, const std::string& link) {
    nlohmann::ordered_json settings = nlohmann::ordered_json::array();
    for (const BackupEntry& entry : backup) settings.push_back(EntryJson(entry));
    const nlohmann::ordered_json document = {
        {"format", kFormat}, {"version", kVersion}, {"link", link}, {"settings", settings}};
    try {
        output_.commit(document.dump(2) + "\n");
    } catch (const FileError& error) {
        throw UsageError("cannot write backup " + file_.string() + ": " + error.what());
    }
}

Backup ReadBackup(const std::filesystem::path& file) {
    const std::string name = file.string();
    const json document = Parse(ReadWhole(file), name);
    if (!document.is_object() || document.value("format", json()) != kFormat) {
        throw UsageError(name + " is not a zolvane settings backup");
    }
    if (document.value("version", json()) != kVersion) {
        throw UsageError("backup " + name + " has version " +
                         document.value("version", json()).dump() +
                         "; this program reads version " + std::to_string(kVersion));
    }
    if (!document.contains("settings") || !document["settings"].is_array()) {
        throw UsageError("backup " + name + " has no list of settings");
    }

    Backup backup;
    std::set<const SettingRow*> seen;
    for (const json& item : document["settings"]) {
        BackupEntry entry = EntryFrom(item, name);
        if (!seen.insert(entry.row).second) {
            throw UsageError("backup " + name + " holds '" + std::string(entry.row->name) +
                             "' twice");
        }
        backup.push_back(entry);
    }
    for (const SettingRow& row : SettingTable()) {
        if (row.supports(Operation::Get) && !seen.contains(&row)) {
            throw UsageError("backup " + name + " was made for a different setting list: '" +
                             std::string(row.name) + "' is missing");
        }
    }
    return backup;
}

}  // namespace zolvane::cli
