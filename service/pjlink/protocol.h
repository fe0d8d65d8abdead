// PJLink class 1 as one projector of the fleet speaks it: a command line is answered from the
// state the service knows, or becomes commands for the projector's queue. No sockets here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "zolvane.h"
#include "zolvane_fleet/projector_queue.h"
#include "zolvane_fleet/state.h"

namespace zolvane::service::pjlink {

// The longest line the PJLink standard allows, its CR included.
constexpr std::size_t kMaxLine = 136;

// What the gateway says of itself (INF1, INF2, INFO) and of the projector (NAME).
struct Identity {
    std::string name;  // at most 64 bytes are sent
    std::string maker = "Zolvane";
    std::string product = "zolvaned gateway";
    std::string info;  // at most 32 bytes are sent
};

// What one line asks for.
struct Step {
    bool parsed = false;  // false: no "%1" line at all; nothing is answered or run
    std::string header;   // "%1POWR=": the reply is header + answer
    std::string answer;   // when commands is empty: the whole answer, e.g. "1" or "ERR2"
    std::vector<fleet::Command> commands;  // run in order; the answer is OK or the first error
    std::string words;                     // for the log: "power on", "mute 1", ...
};

Step interpret(std::string_view line, const fleet::ProjectorState& state, const Identity& who);

// The answer to a command that ran: OK, or the error the standard gives for the failure.
std::string_view answerFor(const fleet::CommandResult& result);

// The hash before the first command: 32 hexadecimal digits of MD5(random digits + password).
constexpr std::size_t kHashLength = 32;

// What one connection carries from one line to the next.
struct Session {
    std::string expectedHash;  // lowercase; empty when none is asked (or it has been given)
};

// What became of the first complete line of what a connection sent.
struct Taken {
    enum Kind {
        Wait,     // no complete line yet: nothing was taken
        Ignored,  // not a command at all (or an empty line): nothing to answer or run
        Answer,   // step.header + step.answer is the reply
        Run,      // step.commands go to the projector; the reply follows their results
        Denied,   // a wrong or missing hash: PJLINK ERRA, then the connection is closed
        TooLong,  // a line longer than PJLink allows: the connection is closed unanswered
    };
    Kind kind = Wait;
    Step step;
};

// Takes the first complete line (up to CR) off the front of in and says what to do with it.
// A LF after a CR is taken with the next line. The first line of a session with an expected
// hash must start with it. No sockets, no clock: what a connection sent and the state known.
Taken takeLine(std::string& in, Session& session, const fleet::ProjectorState& state,
               const Identity& who);

}  // namespace zolvane::service::pjlink
