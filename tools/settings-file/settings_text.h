// The settings file Varnix.txt as text: "[Section]" lines followed by "key=value" lines.
// Section and key names match without regard to case, blanks around names and values do not
// count, and the first matching key wins. Any bytes are accepted: a UTF-8 byte-order mark at
// the start is set aside, and CR, LF and CR LF all end a line. Lines are kept as the bytes they
// were read as, so writing a value changes only its own line; the file is written back with the
// byte-order mark it had and every line ending in CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace settings_text {

// A settings file is a few hundred bytes; a longer one is not read (nor, by the desktop program,
// saved over), so that a device that never ends (/dev/zero named as the file) cannot fill the
// memory.
constexpr std::size_t kMaxFileSize = std::size_t(1) << 20;

class Document {
public:
    explicit Document(std::string_view bytes = {});

    // The value without its surrounding blanks (possibly empty); nothing when the key is
    // missing from its section.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Replaces the key's value where it stands, or appends the key to its section, or the
    // section to the end. Line breaks in the value become blanks.
    void set(std::string_view section, std::string_view key, std::string_view value);

    // The whole file as it is to be written.
    std::string bytes() const;

private:
    struct Found {
        std::size_t line;
        std::string_view value;
    };
    std::optional<Found> find(std::string_view section, std::string_view key) const;
    std::optional<std::size_t> sectionEnd(std::string_view section) const;

    bool byteOrderMark_ = false;
    std::vector<std::string> lines_;
};

// The decimal number at the start of the text, with an optional sign: 0 when the text does not
// start with one. Numbers beyond the range of int are held at its limits.
int LeadingNumber(std::string_view text);

// A TCP port number written as decimal digits only, 1 to 65535; nothing for anything else.
std::optional<uint16_t> PortNumber(std::string_view text);

}  // namespace settings_text
