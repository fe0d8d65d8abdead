#include "settings_text.h"

#include <algorithm>
#include <limits>

namespace settings_text {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && Blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && Blank(text.back())) text.remove_suffix(1);
    return text;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return Lower(x) == Lower(y); });
}

// The name of a "[name]" line, or nothing for any other line. A line with no closing bracket
// is not a section header.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    const std::size_t close = line.rfind(']');
    if (close == std::string_view::npos || close < 1) return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

}  // namespace

Document::Document(std::string_view bytes) {
    if (bytes.starts_with(kByteOrderMark)) {
        byteOrderMark_ = true;
        bytes.remove_prefix(kByteOrderMark.size());
    }
    while (!bytes.empty()) {
        const std::size_t end = bytes.find_first_of("\r\n");
        lines_.emplace_back(bytes.substr(0, end));
        if (end == std::string_view::npos) break;
        const bool crLf = bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n';
        bytes.remove_prefix(end + (crLf ? 2 : 1));
    }
}

std::optional<Document::Found> Document::find(std::string_view section,
                                              std::string_view key) const {
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string_view line = lines_[i];
        if (const auto name = SectionName(line)) {
            inSection = SameName(*name, section);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) continue;
        if (SameName(Trim(line.substr(0, equals)), key)) {
            return Found{i, Trim(line.substr(equals + 1))};
        }
    }
    return std::nullopt;
}

// Just after the last non-blank line of the first section of that name, so that a blank line
// separating it from the next section stays where it is.
std::optional<std::size_t> Document::sectionEnd(std::string_view section) const {
    std::optional<std::size_t> end;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i]);
        if (end && name) break;
        const bool header = name && SameName(*name, section);
        if (header || (end && !Trim(lines_[i]).empty())) end = i + 1;
    }
    return end;
}

std::optional<std::string> Document::value(std::string_view section, std::string_view key) const {
    const auto found = find(section, key);
    if (!found) return std::nullopt;
    return std::string(found->value);
}

void Document::set(std::string_view section, std::string_view key, std::string_view value) {
    std::string text(value);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');

    if (const auto found = find(section, key)) {
        if (found->value == text) return;
        std::string& line = lines_[found->line];
        line = std::string(Trim(std::string_view(line).substr(0, line.find('=')))) + '=' + text;
        return;
    }
    std::string keyLine = std::string(key) + '=' + text;
    if (const auto end = sectionEnd(section)) {
        lines_.insert(lines_.begin() + std::ptrdiff_t(*end), std::move(keyLine));
        return;
    }
    lines_.push_back('[' + std::string(section) + ']');
    lines_.push_back(std::move(keyLine));
}

std::string Document::bytes() const {
    std::string out(byteOrderMark_ ? kByteOrderMark : std::string_view());
    for (const std::string& line : lines_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

int LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) negative = text[i++] == '-';
    constexpr int64_t kLimit = int64_t(std::numeric_limits<int>::max()) + 1;
    int64_t number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        number = std::min(number * 10 + (text[i] - '0'), kLimit);
    }
    if (negative) return int(-number);
    return int(std::min<int64_t>(number, std::numeric_limits<int>::max()));
}

std::optional<uint16_t> PortNumber(std::string_view text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    unsigned long number = 0;
    for (char digit : text) {
        number = number * 10 + unsigned(digit - '0');
        if (number > 65535) return std::nullopt;
    }
    if (number == 0) return std::nullopt;
    return uint16_t(number);
}

}  // namespace settings_text
