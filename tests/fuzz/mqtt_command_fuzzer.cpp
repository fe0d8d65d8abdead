// Any topic and payload a broker may deliver, retained or not, through the reading of a command
// message and the answer to it. A retained message never runs; a command that runs has a
// setting, a value the setting takes and targets from the inventory; every answer is valid
// UTF-8 JSON naming the topic.
//
// Input: a control byte (bit 0: retained; bit 1: the topic goes under "zolvane/t/", where
// this site's command topics are), then the topic up to the first NUL, then the payload.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "mqtt/command_message.h"
#include "zolvane_fleet/text.h"

namespace {

using namespace zolvane;
using service::mqtt::CommandMessage;

void check(bool condition) {
    if (!condition) std::abort();
}

fleet::ProjectorEntry projector(std::string name, std::vector<std::string> groups) {
    fleet::ProjectorEntry entry;
    entry.name = std::move(name);
    entry.label = entry.name;
    entry.address = "tcp://127.0.0.1:23";
    entry.groups = std::move(groups);
    return entry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fleet::MqttSettings settings = [] {
        fleet::MqttSettings mqtt;
        mqtt.host = "127.0.0.1";
        mqtt.site = "t";
        return mqtt;
    }();
    static const fleet::Inventory inventory = [] {
        fleet::Inventory made;
        made.projectors = {projector("p0", {"halls"}), projector("p1", {"halls", "lobby"}),
                           projector("hall.a", {})};
        return made;
    }();
    if (size == 0) return 0;
    const bool retained = (data[0] & 1) != 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t nul = rest.find('\0');
    const std::string topic =
        ((data[0] & 2) != 0 ? "zolvane/t/" : "") + std::string(rest.substr(0, nul));
    const std::string_view payload =
        nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);

    const CommandMessage read =
        service::mqtt::readCommandMessage(settings, inventory, topic, payload, retained);
    switch (read.kind) {
        case CommandMessage::Kind::NotOurs:
        case CommandMessage::Kind::Ignored:
            check(read.targets.empty() && !read.command);
            break;
        case CommandMessage::Kind::Invalid: {
            check(read.targets.empty() && !read.command && !read.reason.empty());
            check(!read.clearRetained || retained);
            const std::string answer = service::mqtt::invalidAnswer(topic, read);
            check(fleet::validUtf8(answer));
            const nlohmann::json shown = nlohmann::json::parse(answer, nullptr, false);
            check(shown.is_object() && shown["outcome"] == "invalid" && shown["ok"] == false);
            check(shown["topic"] == fleet::validUtf8Copy(topic));
            break;
        }
        case CommandMessage::Kind::Run:
            check(!retained && !read.targets.empty() && read.command);
            check(read.command->setting != nullptr);
            check(payload.size() <= service::mqtt::kLargestMessage);
            if (read.command->operation == fleet::Operation::Set) {
                check(zv_value_valid(read.command->setting, read.command->value));
            }
            for (const std::string& name : read.targets) check(inventory.find(name) != nullptr);
            break;
    }
    return 0;
}
