#include "token.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace zolvane::service {
namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<std::string> readToken(const std::filesystem::path& file, std::string* why) {
    std::ifstream in(file);
    if (!in) {
        if (why) *why = file.string() + ": " + std::strerror(errno);
        return {};
    }
    std::string line;
    std::getline(in, line);
    const std::string token(trimmed(line));
    if (token.empty()) {
        if (why) *why = file.string() + ": holds no token";
        return {};
    }
    return token;
}

bool bearerMatches(std::string_view header, std::string_view token) {
    constexpr std::string_view scheme = "Bearer ";
    if (header.size() < scheme.size() || token.empty()) return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        const auto a = static_cast<unsigned char>(header[i]);
        const auto b = static_cast<unsigned char>(scheme[i]);
        differ |= static_cast<unsigned char>((a | 0x20) ^ (b | 0x20));  // the scheme in any case
    }
    const std::string_view given = trimmed(header.substr(scheme.size()));
    differ |= given.size() == token.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i) {
        differ |= static_cast<unsigned char>(given[i] ^ token[i % token.size()]);
    }
    return differ == 0;
}

}  // namespace zolvane::service
