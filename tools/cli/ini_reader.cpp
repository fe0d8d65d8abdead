#include "ini_reader.h"

#include <fstream>

#include "text.h"

namespace zolvane::cli {
namespace {

// The name of a "[name]" line; empty for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    const std::size_t close = line.rfind(']');
    if (line.empty() || line.front() != '[' || close == std::string_view::npos || close < 1) {
        return std::nullopt;
    }
    return Trim(line.substr(1, close - 1));
}

}  // namespace

std::optional<IniReader> IniReader::Open(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    IniReader reader;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        reader.lines_.push_back(line);
    }
    if (in.bad()) return std::nullopt;
    return reader;
}

std::optional<std::string> IniReader::text(std::string_view section, std::string_view key) const {
    bool inSection = false;
    for (const std::string& line : lines_) {
        if (const auto name = SectionName(line)) {
            inSection = EqualIgnoringCase(*name, section);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos) continue;
        if (!EqualIgnoringCase(Trim(std::string_view(line).substr(0, equals)), key)) continue;
        const std::string_view value = Trim(std::string_view(line).substr(equals + 1));
        if (value.empty()) return std::nullopt;
        return std::string(value);
    }
    return std::nullopt;
}

std::optional<int64_t> IniReader::number(std::string_view section, std::string_view key) const {
    const std::optional<std::string> value = text(section, key);
    if (!value) return std::nullopt;
    std::size_t i = 0;
    bool negative = false;
    if ((*value)[0] == '+' || (*value)[0] == '-') negative = (*value)[i++] == '-';
    int64_t number = 0;
    // Far beyond any meaningful value; stopping there keeps the sum clear of overflow.
    constexpr int64_t kLimit = int64_t{1} << 40;
    for (; i < value->size() && (*value)[i] >= '0' && (*value)[i] <= '9'; ++i) {
        if (number < kLimit) number = number * 10 + ((*value)[i] - '0');
    }
    return negative ? -number : number;
}

}  // namespace zolvane::cli
