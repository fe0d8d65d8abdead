#include "pjlink_lines.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "zolvane.h"
#include "zolvane_fleet/driver_results.h"
#include "zolvane_fleet/pjlink_inputs.h"
#include "zolvane_fleet/text.h"

namespace zolvane::fleet::pjlink {
namespace {

constexpr std::string_view kRefused = "PJLINK ERRA";
constexpr std::string_view kGreeting = "PJLINK ";

// One row per catalogue setting PJLink has.
constexpr std::array kRows{
    Row{0x6000, "POWR", 1, Mapping::Power},  Row{0x2000, "INPT", 1, Mapping::Input},
    Row{0x3020, "AVMT", 1, Mapping::Video},  Row{0x2002, "AVMT", 1, Mapping::Audio},
    Row{0x1090, "LAMP", 1, Mapping::Lamp},   Row{0x10A0, "FILT", 2, Mapping::Filter},
    Row{0x6020, "ERST", 1, Mapping::Errors}, Row{0x3002, "FREZ", 2, Mapping::Freeze},
};

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return upper(x) == upper(y); });
}

bool control(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool anyControl(std::string_view text) { return std::any_of(text.begin(), text.end(), control); }

bool digits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits as a number of hours, clamped to what a value holds.
std::uint16_t clampedHours(std::string_view text) {
    std::uint32_t hours = 0;
    for (const char c : text) {
        hours = std::min<std::uint32_t>(hours * 10 + static_cast<std::uint32_t>(c - '0'), 65535);
    }
    return static_cast<std::uint16_t>(hours);
}

// Whether start is a beginning of whole, compared letter by letter in any case.
bool beginsOf(std::string_view start, std::string_view whole) {
    const std::size_t n = std::min(start.size(), whole.size());
    return sameLetters(start.substr(0, n), whole.substr(0, n));
}

std::string header(int projectorClass, std::string_view body) {
    std::string h = "%";
    h += static_cast<char>('0' + projectorClass);
    h += body;
    h += '=';
    return h;
}

}  // namespace

std::string commandLine(int projectorClass, std::string_view body, std::string_view parameter) {
    std::string line = "%";
    line += static_cast<char>('0' + projectorClass);
    line += body;
    line += ' ';
    line += parameter;
    line += '\r';
    return line;
}

Greeting parseGreeting(std::string_view line) {
    Greeting greeting;
    if (sameLetters(line, kRefused)) {
        greeting.kind = Greeting::Kind::Refused;
    } else if (sameLetters(line, "PJLINK 0")) {
        greeting.kind = Greeting::Kind::Open;
    } else if (line.size() > 9 && sameLetters(line.substr(0, 9), "PJLINK 1 ")) {
        const std::string_view random = line.substr(9);
        const bool plain =
            std::all_of(random.begin(), random.end(), [](char c) { return c > 0x20 && c < 0x7F; });
        if (plain && random.size() <= 32) {
            greeting.kind = Greeting::Kind::Challenge;
            greeting.random = std::string(random);
        }
    }
    return greeting;
}

Answer parseAnswer(std::string_view line, int projectorClass, std::string_view body) {
    Answer answer;
    if (sameLetters(line, kRefused)) {
        answer.kind = Answer::Kind::ErrA;
        return answer;
    }
    const std::string expected = header(projectorClass, body);
    if (line.size() < expected.size() || !sameLetters(line.substr(0, expected.size()), expected) ||
        line.size() > kMaxLine) {
        return answer;
    }
    const std::string_view value = line.substr(expected.size());
    if (anyControl(value)) return answer;
    static constexpr std::array<std::pair<std::string_view, Answer::Kind>, 5> kErrors{{
        {"ERR1", Answer::Kind::Err1},
        {"ERR2", Answer::Kind::Err2},
        {"ERR3", Answer::Kind::Err3},
        {"ERR4", Answer::Kind::Err4},
        {"ERRA", Answer::Kind::ErrA},
    }};
    for (const auto& [word, kind] : kErrors) {
        if (sameLetters(value, word)) {
            answer.kind = kind;
            return answer;
        }
    }
    answer.kind = Answer::Kind::Value;
    answer.value = std::string(value);
    return answer;
}

bool answerMayFollow(std::string_view start, int projectorClass, std::string_view body) {
    if (start.size() > kMaxLine) return false;
    const std::string expected = header(projectorClass, body);
    if (beginsOf(start, expected)) {
        return start.size() <= expected.size() || !anyControl(start.substr(expected.size()));
    }
    return start.size() <= kRefused.size() && beginsOf(start, kRefused);
}

bool greetingMayFollow(std::string_view start) {
    return start.size() <= kMaxLine && beginsOf(start, kGreeting) && !anyControl(start);
}

const Row* rowFor(std::uint16_t type) {
    const auto found =
        std::find_if(kRows.begin(), kRows.end(), [type](const Row& r) { return r.type == type; });
    return found == kRows.end() ? nullptr : &*found;
}

std::optional<std::string> setParameter(const Row& row, std::int32_t value) {
    const bool onOff = value == 0 || value == 1;
    switch (row.mapping) {
        case Mapping::Power:
        case Mapping::Freeze:
            if (onOff) return std::string(1, static_cast<char>('0' + value));
            return std::nullopt;
        case Mapping::Input:
            return inputCode(value);
        case Mapping::Video:
            if (onOff) return value == 1 ? "11" : "10";
            return std::nullopt;
        case Mapping::Audio:
            if (onOff) return value == 1 ? "21" : "20";
            return std::nullopt;
        case Mapping::Lamp:
        case Mapping::Filter:
        case Mapping::Errors:
            break;
    }
    return std::nullopt;
}

std::optional<std::uint16_t> getValue(const Row& row, std::string_view answer) {
    switch (row.mapping) {
        case Mapping::Power:
            if (answer.size() == 1 && answer[0] >= '0' && answer[0] <= '3') {
                return answer[0] == '3' ? 1 : static_cast<std::uint16_t>(answer[0] - '0');
            }
            return std::nullopt;
        case Mapping::Input:
            return inputValue(answer);
        case Mapping::Video:
        case Mapping::Audio: {
            static constexpr std::array<std::string_view, 6> kStates{"10", "11", "20",
                                                                     "21", "30", "31"};
            if (std::find(kStates.begin(), kStates.end(), answer) == kStates.end()) break;
            const char muted = row.mapping == Mapping::Video ? '1' : '2';
            return answer[1] == '1' && (answer[0] == muted || answer[0] == '3') ? 1 : 0;
        }
        case Mapping::Lamp: {
            // "hours on" for each lamp; the first lamp's hours.
            const std::string_view first = answer.substr(0, answer.find(' '));
            if (digits(first)) return clampedHours(first);
            return std::nullopt;
        }
        case Mapping::Filter:
            if (digits(answer)) return clampedHours(answer);
            return std::nullopt;
        case Mapping::Errors: {
            // fan, lamp, temperature, cover, filter, other: 0 fine, 1 warning, 2 error.
            if (answer.size() != 6) return std::nullopt;
            std::uint16_t status = 0;
            for (std::size_t i = 0; i < 6; ++i) {
                if (answer[i] < '0' || answer[i] > '2') return std::nullopt;
                status = static_cast<std::uint16_t>(status | (answer[i] - '0') << (2 * (5 - i)));
            }
            return status;
        }
        case Mapping::Freeze:
            if (answer == "0" || answer == "1") return static_cast<std::uint16_t>(answer[0] - '0');
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::uint16_t> inputValue(std::string_view code) { return pjlinkInputValue(code); }

std::optional<std::string> inputCode(std::int32_t value) { return pjlinkInputCode(value); }

std::string defaultInputName(std::string_view code) {
    static constexpr std::array<std::string_view, 6> kKinds{"RGB",     "VIDEO",   "DIGITAL",
                                                            "STORAGE", "NETWORK", "INTERNAL"};
    if (!inputValue(code)) return {};
    const auto kind = static_cast<std::size_t>(code[0] - '1');
    std::string name = kind < kKinds.size() ? std::string(kKinds[kind]) : "INPUT";
    name += ' ';
    name += code[1];
    return name;
}

zv_result resultOf(Answer::Kind kind) {
    switch (kind) {
        case Answer::Kind::Value:
            return ZV_RESULT_OK;
        case Answer::Kind::Err1:
            return kUnsupported;
        case Answer::Kind::Err2:
            return ZV_RESULT_BAD_REPLY;
        case Answer::Kind::Err3:
            return kUnavailable;
        case Answer::Kind::Err4:
            return kProjectorFailure;
        case Answer::Kind::ErrA:
            return kAuthFailed;
        case Answer::Kind::Bad:
            break;
    }
    return kBadAnswer;
}

std::string errorWords(Answer::Kind kind) {
    switch (kind) {
        case Answer::Kind::Err1:
            return "PJLink ERR1: the projector has no such command";
        case Answer::Kind::Err2:
            return "PJLink ERR2: the projector refused the value (out of its range)";
        case Answer::Kind::Err3:
            return "PJLink ERR3: unavailable now (warming up, cooling down or standby)";
        case Answer::Kind::Err4:
            return "PJLink ERR4: the projector reports a failure";
        case Answer::Kind::ErrA:
            return "the projector refused the password";
        case Answer::Kind::Value:
        case Answer::Kind::Bad:
            break;
    }
    return {};
}

std::string sanitised(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        // The shortest well-formed beginning is one character; none: a stray byte, dropped.
        std::size_t length = 1;
        while (length <= 4 && at + length <= text.size() && !validUtf8(text.substr(at, length))) {
            ++length;
        }
        if (length > 4 || at + length > text.size()) {
            ++at;
            continue;
        }
        const std::string_view character = text.substr(at, length);
        at += length;
        if (hasControl(character)) continue;
        if (out.size() + length > kMaxText) break;
        out += character;
    }
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

std::string quoted(std::string_view bytes, std::size_t limit) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    if (bytes.size() > limit) out += "...";
    out += '"';
    return out;
}

}  // namespace zolvane::fleet::pjlink
