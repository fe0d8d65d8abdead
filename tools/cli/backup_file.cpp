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
// A backup is three levels deep (document, list of settings, setting); anything far deeper is
// refused while it is read, before the reader's own recursion could exhaust the stack.
constexpr int kMaxDepth = 8;

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
    const json::parser_callback_t refuseDeepNesting = [&name](int depth, json::parse_event_t event,
                                                              json&) {
        if (depth >= kMaxDepth && (event == json::parse_event_t::object_start ||
                                   event == json::parse_event_t::array_start)) {
            throw UsageError("backup " + name + " is not a zolvane settings backup: it nests " +
                             "more than " + std::to_string(kMaxDepth) + " levels deep");
        }
        return true;
    };
    try {
        return json::parse(text, refuseDeepNesting);
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

namespace fs = std::filesystem;

// What stands at a name that a backup must not replace, in the words of the message.
struct SpecialFile {
    fs::file_type type;
    const char* what;
};

constexpr SpecialFile kSpecialFiles[] = {
    {fs::file_type::directory, "a directory"}, {fs::file_type::character, "a character device"},
    {fs::file_type::block, "a block device"},  {fs::file_type::fifo, "a FIFO"},
    {fs::file_type::socket, "a socket"},
};

[[noreturn]] void RefuseTarget(const fs::path& file, const std::string& reason) {
    throw UsageError("cannot write backup " + file.string() + ": " + reason);
}

// Where the backup goes: the name itself for a new or regular file, the file a symbolic link
// leads to for a link (so that the link stays and its file is replaced). Nothing else is
// written over: not a directory, a device, a FIFO or a socket, nor a link that leads nowhere.
fs::path BackupTarget(const fs::path& file) {
    if (file.empty()) throw UsageError("the name of the backup file is empty");
    std::error_code error;
    const fs::file_status link = fs::symlink_status(file, error);
    if (link.type() == fs::file_type::not_found) return file;  // a new file
    if (error) RefuseTarget(file, error.message());
    fs::path target = file;
    if (fs::is_symlink(link)) {
        target = fs::canonical(file, error);
        if (error == std::errc::no_such_file_or_directory) {
            RefuseTarget(file, "it is a symbolic link to " + fs::read_symlink(file).string() +
                                   ", which does not exist");
        }
        if (error) RefuseTarget(file, error.message());
    }
    const fs::file_type type = fs::status(target, error).type();
    if (error) RefuseTarget(file, error.message());
    if (type == fs::file_type::regular) return target;
    for (const SpecialFile& special : kSpecialFiles) {
        if (special.type == type) RefuseTarget(file, std::string("it is ") + special.what);
    }
    RefuseTarget(file, "it is not a regular file");
}

ReplacingFile CreateOutput(const fs::path& file) {
    try {
        return ReplacingFile(BackupTarget(file));
    } catch (const FileError& error) {
        RefuseTarget(file, error.what());
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
        throw OutputError("cannot write backup " + file_.string() + ": " + error.what());
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
