// What a PJLink controller sends, any bytes at all, through the gateway's line handler, against
// any state the service may know of the projector. Every line taken must shorten what waits,
// every reply must be one printable PJLink line, and no command may reach the queue without a
// setting or before the hash was given.
//
// Input: a control byte (bit 0: the session expects kHash first; bits 1-2: the reach; bit 3:
// a command result to map instead), five state bytes (power, input, blank, mute, error status;
// 0xff: not known), then the bytes the controller sent.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pjlink/protocol.h"

namespace {

using namespace zolvane::service::pjlink;

constexpr const char* kHash = "0123456789abcdef0123456789abcdef";

void check(bool condition) {
    if (!condition) std::abort();
}

bool printableLine(const std::string& text) {
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte >= 0x7f) return false;
    }
    return true;
}

std::optional<std::uint16_t> value(std::uint8_t byte) {
    if (byte == 0xff) return {};
    return byte;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    const std::uint8_t control = data[0];
    if (control & 8) {
        zolvane::fleet::CommandResult result;
        result.result = static_cast<zv_result>(data[1] | data[2] << 8 | data[3] << 16 |
                                               static_cast<std::uint32_t>(data[4]) << 24);
        const std::string_view answer = answerFor(result);
        check(answer == "OK" ? result.ok()
                             : (answer == "ERR3" || answer == "ERR4") && !result.ok());
        return 0;
    }
    zolvane::fleet::ProjectorState state;
    state.reach = static_cast<zolvane::fleet::Reach>(((control >> 1) & 3) % 3);
    state.power = value(data[1]);
    state.input = value(data[2]);
    state.blank = value(data[3]);
    state.mute = value(data[4]);
    state.errorStatus = value(data[5]);
    state.lampHours = 1234;
    Identity who;
    who.name = "Hall \xc3\x84 with a label far longer than sixty-four bytes, which is cut short";
    who.info = "zolvaned 1.0 hall-a";
    Session session;
    if (control & 1) session.expectedHash = kHash;

    std::string in(reinterpret_cast<const char*>(data + 6), size - 6);
    for (;;) {
        const std::size_t before = in.size();
        const bool authenticating = !session.expectedHash.empty();
        Taken taken = takeLine(in, session, state, who);
        if (taken.kind == Taken::Wait) {
            check(in.size() == before && in.size() < kMaxLine + kHashLength);
            break;
        }
        if (taken.kind == Taken::TooLong) break;
        check(in.size() < before);  // a line taken is gone
        if (taken.kind == Taken::Denied) {
            check(authenticating);
            break;
        }
        // Nothing is answered or run before the hash was given.
        if (taken.kind == Taken::Answer || taken.kind == Taken::Run)
            check(session.expectedHash.empty());
        const Step& step = taken.step;
        if (taken.kind == Taken::Answer) {
            const std::string reply = step.header + step.answer;
            check(step.header.size() == 7 && step.header[0] == '%' && step.header[6] == '=');
            check(!step.answer.empty() && reply.size() + 1 <= kMaxLine);
            // The label is the operator's; everything else is ASCII of PJLink's own.
            check(step.header.substr(2, 4) == "NAME" || printableLine(reply));
            check(step.commands.empty());
        }
        if (taken.kind == Taken::Run) {
            check(!step.commands.empty() && step.commands.size() <= 2 && step.answer.empty());
            for (const auto& command : step.commands) check(command.setting != nullptr);
        }
    }
    return 0;
}
