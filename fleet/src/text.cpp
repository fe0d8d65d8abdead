#include "zolvane_fleet/text.h"

#include <cstdint>

namespace zolvane::fleet {
namespace {

// The length of the well-formed sequence at text[at], or 0 when the byte there starts none.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // over-long
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // over-long
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(at + i);
        const unsigned char min = i == 1 ? low : 0x80;
        const unsigned char max = i == 1 ? high : 0xBF;
        if (next < min || next > max) return 0;
    }
    return length;
}

bool isControl(std::string_view text, std::size_t at, std::size_t length) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (length == 1) return lead < 0x20 || lead == 0x7F;
    // U+0080 to U+009F: C2 80 to C2 9F.
    return length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

void appendEscaped(std::string& out, unsigned char byte) {
    static constexpr char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

}  // namespace

bool validUtf8(std::string_view text) { return characterCount(text).has_value(); }

std::optional<std::size_t> characterCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); ++count) {
        const std::size_t length = sequenceLength(text, at);
        if (length == 0) return std::nullopt;
        at += length;
    }
    return count;
}

bool hasControl(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at);
        if (length == 0) {
            ++at;
            continue;
        }
        if (isControl(text, at, length)) return true;
        at += length;
    }
    return false;
}

bool plainText(std::string_view text) { return validUtf8(text) && !hasControl(text); }

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at);
        if (length == 0 || isControl(text, at, length)) {
            const std::size_t bytes = length == 0 ? 1 : length;
            for (std::size_t i = 0; i < bytes; ++i) {
                appendEscaped(out, static_cast<unsigned char>(text[at + i]));
            }
            at += bytes;
            continue;
        }
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

std::string validUtf8Copy(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceLength(text, at);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

}  // namespace zolvane::fleet
