#include "status_command.h"

#include <cctype>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "result_kind.h"
#include "text.h"
#include "value_text.h"
#include "zolvane.h"
#include "zolvane_fleet/driver_results.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::cli {
namespace {

struct Reading {
    const fleet::WatchedValue* item;
    const SettingRow* row;
    Outcome outcome;
    // Refused while the projector is off, which is what projectors do, not a fault.
    bool offDuty = false;
    std::string failure{};  // why it could not be read
    bool pjlink = false;    // the projector speaks PJLink
};

std::string Text(const Reading& reading) {
    if (reading.offDuty) return "not available while the projector is off";
    if (!reading.outcome.ok()) {
        return "unreadable: " + reading.failure;
    }
    // As get shows it: "S-Video (2)", "Cover Error (1)", a PJLink input's code.
    if (!ShownName(*reading.row, reading.outcome.value, reading.pjlink).empty()) {
        return ShownValue(*reading.row, reading.outcome.value, reading.pjlink);
    }
    switch (reading.item->shown) {
        case fleet::Shown::Hours:
            return std::to_string(reading.outcome.value) + " h";
        case fleet::Shown::Code:
            // A state the catalogue does not name is shown as the projector sent it.
            return HexCode(reading.outcome.value);
        case fleet::Shown::Plain:
            break;
    }
    return std::to_string(reading.outcome.value);
}

nlohmann::ordered_json Json(const Reading& reading) {
    nlohmann::ordered_json entry;
    if (reading.outcome.ok()) {
        entry["value"] = reading.outcome.value;
        const std::string name = ShownName(*reading.row, reading.outcome.value, reading.pjlink);
        if (!name.empty()) entry["name"] = name;
    } else {
        entry["value"] = nullptr;
        entry["error"] =
            reading.offDuty ? "not available while the projector is off" : reading.failure;
        entry["result"] = reading.outcome.result;
    }
    return entry;
}

}  // namespace

int RunStatus(CommandContext& context, bool json) {
    Session& session = context.session();
    std::vector<Reading> readings;
    std::optional<uint16_t> power;
    // Power comes first: whether the projector is on explains why the others may not answer.
    for (const fleet::WatchedValue& item : fleet::watchedValues()) {
        // A PJLink projector is asked only what PJLink carries.
        if (session.pjlink() && item.pjlink.command == nullptr) continue;
        const SettingRow& row = RequireSetting(item.setting, Operation::Get);
        const Command command{&row, Operation::Get, 0, {}};
        Reading reading{&item, &row, session.run(command)};
        reading.pjlink = session.pjlink();
        if (ExitStatusFor(reading.outcome.result) == ExitLinkFailed) {
            return context.report(command, reading.outcome);
        }
        // What its class lacks (the filter, on class 1) it says it has no such command for.
        if (reading.pjlink && reading.outcome.result == fleet::kUnsupported &&
            item.pjlink.projectorClass > 1) {
            continue;
        }
        if (item.member == &fleet::ProjectorState::power && reading.outcome.ok()) {
            power = reading.outcome.value;
        }
        reading.offDuty = !reading.outcome.ok() && power.has_value() && *power != 1;
        if (!reading.outcome.ok()) reading.failure = session.failureText(reading.outcome);
        readings.push_back(reading);
    }

    std::vector<std::string> unreadable;
    const Reading* failed = nullptr;  // the first
    for (const Reading& reading : readings) {
        if (reading.outcome.ok() || reading.offDuty) continue;
        if (failed == nullptr) failed = &reading;
        std::string title = reading.item->title;
        title[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(title[0])));
        unreadable.push_back(title);
    }
    const int status = failed == nullptr ? ExitOk : ExitRefused;
    if (json) {
        // The text shows each failure beside its reading; a script reading JSON needs the
        // reason where every other command gives it. A link failure has ended status already,
        // so each failure here is a refusal, all in the same words.
        if (failed != nullptr) {
            context.err << "zolvane: status: " << Listed(unreadable)
                        << " unreadable: " << failed->failure << '\n';
        }
        nlohmann::ordered_json document = nlohmann::ordered_json::object();
        for (const Reading& reading : readings) {
            document[std::string(reading.item->key)] = Json(reading);
        }
        context.out << document.dump(2) << '\n';
    } else {
        for (const Reading& reading : readings) {
            context.out << std::left << std::setw(14) << (std::string(reading.item->title) + ":")
                        << Text(reading) << '\n';
        }
    }
    return status;
}

}  // namespace zolvane::cli
