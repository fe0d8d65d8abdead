#include "pjlink/protocol.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <optional>

#include "zolvane_fleet/watched.h"

namespace zolvane::service::pjlink {
namespace {

using fleet::ProjectorState;
using fleet::Reach;

// Our six inputs and the PJLink input each one is: type 1 RGB, 2 video, 3 digital (4 storage
// and 5 network are none of ours), numbered within its type. INST ? lists them in this order.
struct InputMap {
    std::uint16_t ours;  // our input
    std::string_view pjlink;
};
constexpr std::array kInputs{
    InputMap{0, "11"},  // RGB
    InputMap{4, "12"},  // BNC
    InputMap{5, "13"},  // Component
    InputMap{1, "21"},  // Video
    InputMap{2, "22"},  // S-Video
    InputMap{3, "31"},  // M1-D
};

// AV mute: the PJLink parameter, the blank and mute it sets (empty: left alone).
struct MuteMap {
    std::string_view pjlink;
    std::optional<std::uint16_t> blank;
    std::optional<std::uint16_t> mute;
};
constexpr std::array kMutes{
    MuteMap{"10", 0, {}}, MuteMap{"11", 1, {}}, MuteMap{"20", {}, 0},
    MuteMap{"21", {}, 1}, MuteMap{"30", 0, 0},  MuteMap{"31", 1, 1},
};

// ERST ? gives six digits: fan, lamp, temperature, cover, filter, other; 0 none, 1 warning,
// 2 error. Our error status names one fault at a time.
struct ErrorMap {
    std::uint16_t ours;  // our error status
    std::string_view digits;
};
constexpr std::array kErrors{
    ErrorMap{0, "000000"},  // Normal
    ErrorMap{1, "000200"},  // Cover Error
    ErrorMap{2, "200000"},  // Fan Error
    ErrorMap{3, "020000"},  // Lamp Error
    ErrorMap{4, "002000"},  // Temp Error
    ErrorMap{5, "200000"},  // Airflow Error: the fan's
    ErrorMap{6, "010000"},  // Lamp Time Over: a warning
    ErrorMap{7, "002000"},  // Cool Error
    ErrorMap{8, "000020"},  // Filter Error
    ErrorMap{9, "000020"},  // Filter Missing
};
constexpr std::string_view kOtherError = "000002";

// A set of the watched value the state keeps in this member.
fleet::Command set(std::optional<std::uint16_t> ProjectorState::*member, std::uint16_t value) {
    return {fleet::Operation::Set, &fleet::watchedByMember(member).described(), value, {}, {}};
}

// A value known of an online projector, or the error that stands for it.
struct Known {
    std::optional<std::uint16_t> value;
    std::string_view error;
};
Known known(const ProjectorState& state, const std::optional<std::uint16_t>& value) {
    if (state.reach == Reach::Offline) return {{}, "ERR4"};
    if (state.reach != Reach::Online || !value) return {{}, "ERR3"};
    return {value, {}};
}

// At most that many bytes of text, not cut inside a character, and without the control
// characters that would end or break the reply's line.
std::string upTo(std::string_view text, std::size_t bytes) {
    std::string kept;
    for (const char ch : text) {
        if (static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7f) kept += ch;
    }
    if (kept.size() > bytes) {
        std::size_t end = bytes;
        while (end > 0 && (static_cast<unsigned char>(kept[end]) & 0xc0) == 0x80) --end;
        kept.resize(end);
    }
    return kept;
}

struct Context {
    std::string_view parameter;
    const ProjectorState& state;
    const Identity& who;
};

void power(const Context& c, Step& step) {
    if (c.parameter == "?") {
        const Known k = known(c.state, c.state.power);
        // Our power: 0 off, 1 on, 2 cooling down; PJLink's the same, 3 warming up unused.
        step.answer = k.value ? std::to_string(std::min<std::uint16_t>(*k.value, 2)) : k.error;
    } else if (c.parameter == "1" && c.state.power == std::optional<std::uint16_t>(2)) {
        // A controller waits seconds for an answer, not the minutes of a cool-down: not now.
        step.answer = "ERR3";
    } else if (c.parameter == "0" || c.parameter == "1") {
        step.commands = {set(&ProjectorState::power, c.parameter == "1")};
        step.words = c.parameter == "1" ? "power on" : "power off";
    } else {
        step.answer = "ERR2";
    }
}

void input(const Context& c, Step& step) {
    if (c.parameter == "?") {
        const Known k = known(c.state, c.state.input);
        if (!k.value) {
            step.answer = k.error;
            return;
        }
        const auto it = std::find_if(kInputs.begin(), kInputs.end(),
                                     [&](const InputMap& m) { return m.ours == *k.value; });
        step.answer = it != kInputs.end() ? std::string(it->pjlink) : "ERR3";
        return;
    }
    const auto it = std::find_if(kInputs.begin(), kInputs.end(),
                                 [&](const InputMap& m) { return m.pjlink == c.parameter; });
    if (it == kInputs.end()) {
        step.answer = "ERR2";
    } else if (c.state.power != std::optional<std::uint16_t>(1)) {
        step.answer = c.state.reach == Reach::Offline ? "ERR4" : "ERR3";  // not on: no input
    } else {
        step.commands = {set(&ProjectorState::input, it->ours)};
        step.words = "input " + std::string(it->pjlink);
    }
}

void avMute(const Context& c, Step& step) {
    if (c.parameter == "?") {
        const Known blank = known(c.state, c.state.blank);
        const Known mute = known(c.state, c.state.mute);
        if (!blank.value || !mute.value) {
            step.answer = !blank.value ? blank.error : mute.error;
        } else if (*blank.value && *mute.value) {
            step.answer = "31";
        } else {
            step.answer = *blank.value ? "11" : *mute.value ? "21" : "30";
        }
        return;
    }
    const auto it = std::find_if(kMutes.begin(), kMutes.end(),
                                 [&](const MuteMap& m) { return m.pjlink == c.parameter; });
    if (it == kMutes.end()) {
        step.answer = "ERR2";
    } else if (c.state.power != std::optional<std::uint16_t>(1)) {
        step.answer = c.state.reach == Reach::Offline ? "ERR4" : "ERR3";
    } else {
        if (it->blank) step.commands.push_back(set(&ProjectorState::blank, *it->blank));
        if (it->mute) step.commands.push_back(set(&ProjectorState::mute, *it->mute));
        step.words = "av mute " + std::string(it->pjlink);
    }
}

void errors(const Context& c, Step& step) {
    const Known k = known(c.state, c.state.errorStatus);
    if (!k.value) {
        step.answer = k.error;
        return;
    }
    const auto it = std::find_if(kErrors.begin(), kErrors.end(),
                                 [&](const ErrorMap& m) { return m.ours == *k.value; });
    step.answer = it != kErrors.end() ? it->digits : kOtherError;
}

void lamp(const Context& c, Step& step) {
    const Known hours = known(c.state, c.state.lampHours);
    const Known power = known(c.state, c.state.power);
    if (!hours.value || !power.value) {
        step.answer = !hours.value ? hours.error : power.error;
    } else {
        step.answer = std::to_string(*hours.value) + (*power.value == 1 ? " 1" : " 0");
    }
}

void inputList(const Context&, Step& step) {
    for (const InputMap& m : kInputs) {
        if (!step.answer.empty()) step.answer += ' ';
        step.answer += m.pjlink;
    }
}

// Every class 1 command: its body, whether it may be set, and what it does.
struct Verb {
    std::string_view body;
    bool settable;
    void (*handle)(const Context&, Step&);
};
const std::array kVerbs{
    Verb{"POWR", true, power},
    Verb{"INPT", true, input},
    Verb{"AVMT", true, avMute},
    Verb{"ERST", false, errors},
    Verb{"LAMP", false, lamp},
    Verb{"INST", false, inputList},
    Verb{"NAME", false, [](const Context& c, Step& s) { s.answer = upTo(c.who.name, 64); }},
    Verb{"INF1", false, [](const Context& c, Step& s) { s.answer = upTo(c.who.maker, 32); }},
    Verb{"INF2", false, [](const Context& c, Step& s) { s.answer = upTo(c.who.product, 32); }},
    Verb{"INFO", false, [](const Context& c, Step& s) { s.answer = upTo(c.who.info, 32); }},
    Verb{"CLSS", false, [](const Context&, Step& s) { s.answer = "1"; }},
};

bool printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char ch) {
        return static_cast<unsigned char>(ch) >= 0x20 && static_cast<unsigned char>(ch) < 0x7f;
    });
}

// The hash as sent, in either case, against the expected one in lowercase.
bool sameHex(std::string_view sent, std::string_view expected) {
    return sent.size() == expected.size() &&
           std::equal(sent.begin(), sent.end(), expected.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == y;
           });
}

}  // namespace

Step interpret(std::string_view line, const ProjectorState& state, const Identity& who) {
    Step step;
    // "%1" then a four-letter body, a space and the parameter. A line that is not even that
    // much is not answered: there is no body to answer for.
    if (line.size() < 6 || line[0] != '%' || !printable(line.substr(0, 6))) return step;
    step.parsed = true;
    step.header = std::string(line.substr(0, 6)) + "=";
    const auto verb = std::find_if(kVerbs.begin(), kVerbs.end(),
                                   [&](const Verb& v) { return v.body == line.substr(2, 4); });
    if (line[1] != '1' || verb == kVerbs.end()) {
        step.answer = "ERR1";
        return step;
    }
    if (line.size() < 8 || line[6] != ' ' || !printable(line.substr(7))) {
        step.answer = "ERR2";
        return step;
    }
    const Context context{line.substr(7), state, who};
    if (!verb->settable && context.parameter != "?") {
        step.answer = "ERR2";
        return step;
    }
    verb->handle(context, step);
    return step;
}

std::string_view answerFor(const fleet::CommandResult& result) {
    if (result.ok()) return "OK";
    // Refused by the projector, still cooling down, the service stopping, or too many commands
    // already waiting for the projector: not now. Anything else is a projector that does not
    // answer.
    if (result.result == ZV_RESULT_BAD_REPLY || result.result == ZV_RESULT_LINK_CLOSED ||
        result.result == fleet::kQueueFull) {
        return "ERR3";
    }
    return "ERR4";
}

Taken takeLine(std::string& in, Session& session, const ProjectorState& state,
               const Identity& who) {
    Taken taken;
    // The first line after a greeting with a random number carries the hash before it.
    const std::size_t limit = kMaxLine + (session.expectedHash.empty() ? 0 : kHashLength);
    const auto end = in.find('\r');
    if (end == std::string::npos) {
        if (in.size() >= limit) taken.kind = Taken::TooLong;
        return taken;
    }
    if (end + 1 > limit) {
        taken.kind = Taken::TooLong;
        return taken;
    }
    std::string_view line(in.data(), end);
    // A controller ending its lines with CR LF: the LF starts the next one.
    while (!line.empty() && line.front() == '\n') line.remove_prefix(1);
    taken.kind = Taken::Ignored;
    if (!line.empty() && !session.expectedHash.empty()) {
        if (line.size() < kHashLength ||
            !sameHex(line.substr(0, kHashLength), session.expectedHash)) {
            taken.kind = Taken::Denied;
            in.erase(0, end + 1);
            return taken;
        }
        session.expectedHash.clear();
        line.remove_prefix(kHashLength);
    }
    if (!line.empty()) {
        taken.step = interpret(line, state, who);
        if (taken.step.parsed) {
            taken.kind = taken.step.commands.empty() ? Taken::Answer : Taken::Run;
        }
    }
    in.erase(0, end + 1);  // line points into in until here
    return taken;
}

}  // namespace zolvane::service::pjlink
