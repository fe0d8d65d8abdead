// Text that came from outside (a socket, the broker, a file): how long it is in characters,
// whether it is UTF-8, and how to show it safely in a log line or a JSON string.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zolvane::fleet {

// Whether text is well-formed UTF-8: no stray continuation bytes, no over-long forms (C0 80),
// no surrogates, nothing above U+10FFFF.
bool validUtf8(std::string_view text);

// The number of characters of well-formed UTF-8; empty when text is not UTF-8.
std::optional<std::size_t> characterCount(std::string_view text);

// Whether text holds a control character: C0 (NUL, tab, line ends ...), DEL or C1.
bool hasControl(std::string_view text);

// Well-formed UTF-8 without control characters: a name or value as a front end may take it.
// Lookups that take C strings would read a NUL as the end of another, valid name.
bool plainText(std::string_view text);

// The text for a log line or a message: well-formed characters as they are, every byte of an
// ill-formed sequence and every control character as \xNN. Always valid UTF-8 and one line.
std::string printable(std::string_view text);

// Well-formed UTF-8 with each ill-formed sequence replaced by U+FFFD, as a JSON string may
// hold it; control characters are kept (JSON escapes them).
std::string validUtf8Copy(std::string_view text);

}  // namespace zolvane::fleet
