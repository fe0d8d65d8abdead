// PJLink as lines of text, with no socket in sight: the command lines the driver sends, the
// greeting and answers it reads, how each catalogue setting maps onto a PJLink command and its
// values, the authentication hash, and what a projector's own texts may hold once shown.
// Everything read here comes from the network: any bytes at all give an answer or a refusal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zolvane_link.h"

namespace zolvane::fleet::pjlink {

// The longest line a projector may send, its CR not counted.
inline constexpr std::size_t kMaxLine = 136;
// The longest text of a projector's own kept (its name, its maker, an input's name).
inline constexpr std::size_t kMaxText = 64;

// "%1POWR ?\r": the class digit, the four letters, a space and the parameter, and the CR.
std::string commandLine(int projectorClass, std::string_view body, std::string_view parameter);

struct Greeting {
    enum class Kind {
        Open,       // "PJLINK 0": no password
        Challenge,  // "PJLINK 1 <random>": the first command carries md5(random + password)
        Refused,    // "PJLINK ERRA"
        Bad,        // anything else
    };
    Kind kind = Kind::Bad;
    std::string random;
};
// The greeting line, without its CR.
Greeting parseGreeting(std::string_view line);

struct Answer {
    enum class Kind {
        Value,  // "%1POWR=1": value holds "1" ("OK" too, for a set)
        Err1,   // no such command
        Err2,   // out of parameter
        Err3,   // unavailable time
        Err4,   // projector failure
        ErrA,   // "PJLINK ERRA" (or "=ERRA"): the password was refused
        Bad,    // not an answer to this command
    };
    Kind kind = Kind::Bad;
    std::string value;
};
// The answer line, without its CR, to the command of this class and body.
Answer parseAnswer(std::string_view line, int projectorClass, std::string_view body);

// Whether bytes received so far, up to before any CR, can still begin an answer to the command
// (or "PJLINK ERRA"): false as soon as they cannot, so that garbage fails at once.
bool answerMayFollow(std::string_view start, int projectorClass, std::string_view body);
// The same for a greeting.
bool greetingMayFollow(std::string_view start);

// How a catalogue setting is spoken in PJLink.
enum class Mapping { Power, Input, Video, Audio, Lamp, Filter, Errors, Freeze };
struct Row {
    std::uint16_t type;  // the catalogue's type code
    const char* body;    // "POWR"
    int projectorClass;  // the least class that has it
    Mapping mapping;
};
// The command for a catalogue type code; null when PJLink has none.
const Row* rowFor(std::uint16_t type);

// The parameter of a set ("1" for POWR on); empty when the value maps onto no PJLink value.
std::optional<std::string> setParameter(const Row& row, std::int32_t value);
// The value an answer to a get means; empty when it means none.
std::optional<std::uint16_t> getValue(const Row& row, std::string_view answer);

// An input's code ("31", "3A") as the catalogue's value (31, 310), and back.
std::optional<std::uint16_t> inputValue(std::string_view code);
std::optional<std::string> inputCode(std::int32_t value);
// "RGB 1", "DIGITAL A", ... for an input code the projector gave no name; empty for no code.
std::string defaultInputName(std::string_view code);

// The result an answer of an error kind ends an exchange with; 0 for a value.
zv_result resultOf(Answer::Kind kind);
// "PJLink ERR3: unavailable now (...)" for the error kinds; empty for others.
std::string errorWords(Answer::Kind kind);

// A projector's text as it may be shown: valid UTF-8 only, no control characters, at most
// kMaxText bytes, cut at a character's end; space at either end dropped.
std::string sanitised(std::string_view text);
// Bytes as they may be quoted in a reason: printable ASCII as it is, the rest as \xNN, at most
// limit bytes shown, then "...".
std::string quoted(std::string_view bytes, std::size_t limit = 40);

}  // namespace zolvane::fleet::pjlink
