// Reads values from an ini file ("[section]" lines and "key=value" lines) the way the desktop
// program does: sections and keys without regard to case, values trimmed, the first match wins.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zolvane::cli {

class IniReader {
  public:
    // Empty when the file cannot be read.
    static std::optional<IniReader> Open(const std::filesystem::path& file);

    // The trimmed value; empty when the key is missing or its value is blank.
    std::optional<std::string> text(std::string_view section, std::string_view key) const;
    // The decimal number at the start of the value (0 when it does not start with one); empty
    // when the key is missing or its value is blank.
    std::optional<int64_t> number(std::string_view section, std::string_view key) const;

  private:
    std::vector<std::string> lines_;
};

}  // namespace zolvane::cli
