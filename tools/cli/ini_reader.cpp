#include "ini_reader.h"

#include <fstream>

namespace zolvane::cli {

std::optional<IniReader> IniReader::Open(const std::filesystem::path& file) {
    // A folder opens like a file here and reads as an empty one.
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes(settings_text::kMaxFileSize + 1, '\0');
    in.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(std::size_t(in.gcount()));
    if (in.bad() || bytes.size() > settings_text::kMaxFileSize) return std::nullopt;
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
