#include "zolvane_fleet/pjlink_address.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace zolvane::fleet {
namespace {

std::optional<PjlinkAddress> refuse(std::string* why, std::string reason) {
    if (why) *why = std::move(reason);
    return std::nullopt;
}

bool nameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_';
}

// What follows the host or port, worded as a refusal; empty when nothing follows.
std::string trailing(std::string_view rest, const char* after) {
    if (rest.empty()) return {};
    const std::string where = std::string(" after the ") + after;
    switch (rest.front()) {
        case '/':
            return "a path" + where;
        case '?':
            return "a query" + where;
        case '#':
            return "a fragment" + where;
        default:
            return "unexpected characters" + where;
    }
}

}  // namespace

bool isPjlinkAddress(std::string_view address) {
    return address.size() >= kPjlinkScheme.size() &&
           std::equal(
               kPjlinkScheme.begin(), kPjlinkScheme.end(), address.begin(),
               [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

std::optional<PjlinkAddress> parsePjlinkAddress(std::string_view address, std::string* why) {
    if (!isPjlinkAddress(address)) return refuse(why, "not a pjlink:// address");
    std::string_view rest = address.substr(kPjlinkScheme.size());
    PjlinkAddress parsed;
    if (rest.find('@') != std::string_view::npos) return refuse(why, "a user before the host");
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return refuse(why, "an IPv6 address without its ']'");
        parsed.host = std::string(rest.substr(1, close - 1));
        in6_addr ip{};
        if (parsed.host.empty()) return refuse(why, "no host");
        if (::inet_pton(AF_INET6, parsed.host.c_str(), &ip) != 1) {
            return refuse(why, "\"" + parsed.host + "\" is not an IPv6 address");
        }
        rest.remove_prefix(close + 1);
    } else {
        const auto end = std::find_if_not(rest.begin(), rest.end(), nameCharacter);
        parsed.host = std::string(rest.begin(), end);
        rest.remove_prefix(parsed.host.size());
        if (parsed.host.empty()) {
            return refuse(why, rest.empty() || rest.front() == ':' || rest.front() == '/'
                                   ? "no host"
                                   : "a character that no host name has");
        }
        if (parsed.host.size() > 253) return refuse(why, "a host name over 253 characters");
    }
    if (!rest.empty() && rest.front() == ':') {
        rest.remove_prefix(1);
        const auto end =
            std::find_if_not(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
        const std::string_view number(rest.data(), static_cast<std::size_t>(end - rest.begin()));
        rest.remove_prefix(number.size());
        if (number.empty()) return refuse(why, "no port after ':'");
        unsigned long port = 0;
        for (const char c : number) {
            port = std::min<unsigned long>(port * 10 + static_cast<unsigned long>(c - '0'), 100000);
        }
        if (port == 0 || port > 65535) {
            return refuse(why, "port " + std::string(number.substr(0, 8)) +
                                   (number.size() > 8 ? "..." : "") + " is out of range 1..65535");
        }
        parsed.port = static_cast<std::uint16_t>(port);
        if (const std::string reason = trailing(rest, "port"); !reason.empty()) {
            return refuse(why, reason);
        }
    } else if (const std::string reason = trailing(rest, "host"); !reason.empty()) {
        return refuse(why, reason);
    }
    return parsed;
}

std::optional<std::string> readPjlinkPassword(const std::string& file, std::string* why) {
    const auto fail = [why](std::string reason) -> std::optional<std::string> {
        if (why) *why = std::move(reason);
        return std::nullopt;
    };
    std::ifstream in(file, std::ios::binary);
    if (!in) return fail(std::string("cannot be read: ") + std::strerror(errno));
    // More than a password and its line end is too long whatever follows.
    std::string line;
    char c = 0;
    while (line.size() <= kPjlinkMaxPassword + 1 && in.get(c) && c != '\n') line += c;
    if (in.bad()) return fail("cannot be read");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return fail("is empty");
    if (line.size() > kPjlinkMaxPassword) {
        return fail("holds more than " + std::to_string(kPjlinkMaxPassword) + " characters");
    }
    if (std::any_of(line.begin(), line.end(), [](char ch) {
            const auto byte = static_cast<unsigned char>(ch);
            return byte < 0x20 || byte == 0x7F;
        })) {
        return fail("holds a control character");
    }
    return line;
}

}  // namespace zolvane::fleet
