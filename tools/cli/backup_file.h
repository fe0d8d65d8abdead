// The settings backup: a JSON file with every readable setting's value and the projector's reply,
// and a reader that refuses anything it cannot trust before a single value is written back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "replacing_file.h"
#include "setting_table.h"

namespace zolvane::cli {

struct BackupEntry {
    const SettingRow* row = nullptr;
    std::optional<uint16_t> value;  // empty when the projector would not give it
    uint32_t result = 0;            // the library's reason, when empty
};

using Backup = std::vector<BackupEntry>;

// Writes the backup beside its final place and renames it there, so that an interrupted run
// never leaves a half-written file under the name. Created before the projector is asked, so a
// name that must not be written over or a folder that cannot be written stops the command before
// anything is sent. A symbolic link stays and the file it leads to is replaced.
class BackupWriter {
public:
    // UsageError for an empty name, a directory, a device, a FIFO, a socket, a link that leads
    // nowhere, or a file that cannot be created.
    explicit BackupWriter(const std::filesystem::path& file);

    void commit(const Backup& backup, const std::string& link);  // OutputError on a write error

private:
    std::filesystem::path file_;
    ReplacingFile output_;
};

// Every readable setting, in catalogue order, exactly once. UsageError naming the problem for
// a file that cannot be read, is truncated, is not JSON, is not a backup of ours (nested deeper
// than one can be, too), or was made for a different setting list.
Backup ReadBackup(const std::filesystem::path& file);

}  // namespace zolvane::cli
