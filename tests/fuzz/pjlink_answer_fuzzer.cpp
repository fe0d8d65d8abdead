// Any bytes a projector may send to the fleet's PJLink driver, through its codec: as a greeting,
// as the answer to each command it sends, and as a text it shows. Every answer is one kind, every
// value read is the catalogue's, and every text kept is plain and short. Input: a selector byte
// (which command the answer is to), then the line.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pjlink_lines.h"
#include "zolvane_fleet/pjlink_hash.h"
#include "zolvane_fleet/text.h"

namespace {

namespace pj = zolvane::fleet::pjlink;

void check(bool condition) {
    if (!condition) std::abort();
}

constexpr std::uint16_t kTypes[] = {0x6000, 0x2000, 0x3020, 0x2002, 0x1090, 0x10A0, 0x6020, 0x3002};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const pj::Row* row = pj::rowFor(kTypes[data[0] % 8]);
    check(row != nullptr);
    const int projectorClass = data[0] & 0x80 ? 2 : 1;
    const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);

    const pj::Greeting greeting = pj::parseGreeting(line);
    if (greeting.kind == pj::Greeting::Kind::Challenge) {
        check(!greeting.random.empty() && greeting.random.size() <= 32);
        check(zolvane::fleet::pjlinkHash(greeting.random, "secret").size() == 32);
    }
    if (greeting.kind != pj::Greeting::Kind::Bad) check(pj::greetingMayFollow(line));

    const pj::Answer answer = pj::parseAnswer(line, projectorClass, row->body);
    if (answer.kind == pj::Answer::Kind::Value) {
        check(pj::answerMayFollow(line, projectorClass, row->body));
        check(pj::resultOf(answer.kind) == 0);
        for (const char c : answer.value) check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    } else {
        check(pj::resultOf(answer.kind) != 0);
        check(answer.value.empty());
    }
    if (const auto value = pj::getValue(*row, line)) {
        if (row->mapping == pj::Mapping::Input) check(pj::inputCode(*value) == std::string(line));
        if (row->mapping == pj::Mapping::Errors) check(*value < 1u << 12);
    }
    if (const auto code = pj::inputCode(static_cast<std::int32_t>(size) * 7 + data[0])) {
        check(pj::inputValue(*code) == static_cast<std::int32_t>(size) * 7 + data[0]);
        check(!pj::defaultInputName(*code).empty());
    }

    const std::string text = pj::sanitised(line);
    check(text.size() <= pj::kMaxText && zolvane::fleet::plainText(text));
    const std::string shown = pj::quoted(line);
    check(shown.size() <= 2 + 40 * 4 + 3 && zolvane::fleet::plainText(shown));
    return 0;
}
