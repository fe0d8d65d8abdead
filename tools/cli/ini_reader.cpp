#include "ini_reader.h"

#include <fstream>
#include <iterator>

namespace zolvane::cli {

std::optional<IniReader> IniReader::Open(const std::filesystem::path& file) {
    // A folder opens like a file here and reads as an empty one.
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    IniReader reader;
    reader.document_ = settings_text::Document(bytes);
    return reader;
}

std::optional<std::string> IniReader::text(std::string_view section, std::string_view key) const {
    std::optional<std::string> value = document_.value(section, key);
    if (value && value->empty()) return std::nullopt;
    return value;
}

std::optional<int64_t> IniReader::number(std::string_view section, std::string_view key) const {
    const std::optional<std::string> value = document_.value(section, key);
    if (!value) return std::nullopt;
    return settings_text::LeadingNumber(*value);
}

std::optional<uint16_t> IniReader::port(std::string_view section, std::string_view key) const {
    const std::optional<std::string> value = document_.value(section, key);
    if (!value) return std::nullopt;
    return settings_text::PortNumber(*value);
}

}  // namespace zolvane::cli
