// Any topic and payload a broker may deliver through the reading of a command message and its
// answer: a retained message never runs; a command that runs has a setting, a value it takes
// and targets from the inventory; every answer is UTF-8 JSON naming the topic.
//
// Input: a control byte (bit 0: retained; bit 1: the topic goes under "zolvane/t/"), the topic
// up to the first NUL, then the payload.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "mqtt/command_message.h"
#include "zolvane_fleet/text.h"

namespace {

using namespace zolvane;
using Kind = service::mqtt::CommandMessage::Kind;

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const service::mqtt::Settings settings = [] {
        service::mqtt::Settings mqtt;
        mqtt.site = "t";
        return mqtt;
    }();
    static const fleet::Inventory inventory = [] {
        fleet::Inventory made;
        for (const char* name : {"p0", "p1", "hall.a"}) {
            fleet::ProjectorEntry entry;
            entry.name = name;
            entry.address = "tcp://127.0.0.1:23";
            entry.groups = {"halls"};
            made.projectors.push_back(entry);
        }
        return made;
    }();
    if (size == 0) return 0;
    const bool retained = (data[0] & 1) != 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t nul = rest.find('\0');
    const std::string topic =
        ((data[0] & 2) ? "zolvane/t/" : "") + std::string(rest.substr(0, nul));
    const std::string_view payload = nul == rest.npos ? "" : rest.substr(nul + 1);

    const auto read =
        service::mqtt::readCommandMessage(settings, inventory, topic, payload, retained);
    check((read.kind == Kind::Run) == (read.command && !read.targets.empty()));
    if (read.kind == Kind::Invalid) {
        check(!read.reason.empty() && (retained || !read.clearRetained));
        const std::string answer = service::mqtt::invalidAnswer(topic, read);
        const nlohmann::json shown = nlohmann::json::parse(answer, nullptr, false);
        check(fleet::validUtf8(answer) && shown.is_object() && shown["outcome"] == "invalid");
        check(shown["topic"] == fleet::validUtf8Copy(topic));
    } else if (read.kind == Kind::Run) {
        check(!retained && payload.size() <= service::mqtt::kLargestMessage);
        check(read.command->setting != nullptr);
        check(read.command->operation != fleet::Operation::Set ||
              zv_value_valid(read.command->setting, read.command->value));
        for (const std::string& name : read.targets) check(inventory.find(name) != nullptr);
    }
    return 0;
}
