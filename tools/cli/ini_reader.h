// Reads values from the desktop program's settings file exactly as that program does: the
// format is theirs in common (settings_text.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "settings_text.h"

namespace zolvane::cli {

class IniReader {
public:
    // Empty when the file is missing or cannot be read (a folder, say).
    static std::optional<IniReader> Open(const std::filesystem::path& file);

    // The trimmed value; empty when the key is missing or its value is blank.
    std::optional<std::string> text(std::string_view section, std::string_view key) const;
    // The decimal number at the start of the value (0 when it does not start with one, a blank
    // value included); empty when the key is missing.
    std::optional<int64_t> number(std::string_view section, std::string_view key) const;
    // A TCP port number (1 to 65535); empty when the key is missing or holds anything else.
    std::optional<uint16_t> port(std::string_view section, std::string_view key) const;

private:
    settings_text::Document document_;
};

}  // namespace zolvane::cli
