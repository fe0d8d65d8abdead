// Any bytes a PJLink controller may send, through the gateway's line handler, against any state
// the service may know: every line taken shortens what waits, every reply is one PJLink line,
// and nothing is answered or run before the hash. Input: a control byte (bit 0: a hash is
// expected; bits 1-2: the reach; bit 3: map a command result instead), five state bytes (power,
// input, blank, mute, error status; 0xff: not known), then the bytes sent.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pjlink/protocol.h"
#include "zolvane_fleet/text.h"

namespace {

using namespace zolvane::service::pjlink;

void check(bool condition) {
    if (!condition) std::abort();
}

std::optional<std::uint16_t> known(std::uint8_t byte) {
    return byte == 0xff ? std::nullopt : std::optional<std::uint16_t>(byte);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    if (data[0] & 8) {
        zolvane::fleet::CommandResult result;
        result.result = data[1] | data[2] << 8 | data[3] << 16 | std::uint32_t{data[4]} << 24;
        const std::string_view answer = answerFor(result);
        check(result.ok() ? answer == "OK" : answer == "ERR3" || answer == "ERR4");
        return 0;
    }
    zolvane::fleet::ProjectorState state;
    state.reach = static_cast<zolvane::fleet::Reach>((data[0] >> 1 & 3) % 3);
    state.power = known(data[1]);
    state.input = known(data[2]);
    state.blank = known(data[3]);
    state.mute = known(data[4]);
    state.errorStatus = known(data[5]);
    state.lampHours = 1234;
    Identity who;
    // Control characters to be left out, and a two-byte character across the 64-byte cut.
    who.name = "Hall\r\n\x7f with a label longer than 64 bytes, cut before the A.......\xc3\x84";
    Session session;
    if (data[0] & 1) session.expectedHash = "0123456789abcdef0123456789abcdef";
    std::string in(reinterpret_cast<const char*>(data + 6), size - 6);
    for (;;) {
        const std::size_t before = in.size();
        const bool authenticating = !session.expectedHash.empty();
        const Taken taken = takeLine(in, session, state, who);
        if (taken.kind == Taken::Wait)
            check(in.size() == before && before < kMaxLine + kHashLength);
        if (taken.kind == Taken::Wait || taken.kind == Taken::TooLong) break;
        check(in.size() < before && (taken.kind != Taken::Denied || authenticating));
        if (taken.kind == Taken::Denied) break;
        const Step& step = taken.step;
        if (taken.kind == Taken::Answer) {
            const std::string reply = step.header + step.answer;
            check(session.expectedHash.empty() && step.commands.empty());
            check(step.header.size() == 7 && step.header[0] == '%' && step.header[6] == '=');
            check(reply.size() < kMaxLine && zolvane::fleet::validUtf8(reply));
            for (const char ch : reply) check(static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7f);
        }
        if (taken.kind == Taken::Run) {
            check(session.expectedHash.empty() && step.answer.empty());
            check(!step.commands.empty() && step.commands.size() <= 2);
            for (const auto& command : step.commands) check(command.setting != nullptr);
        }
    }
    return 0;
}
