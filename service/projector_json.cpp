#include "projector_json.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

#include "zolvane_fleet/driver_results.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::service {
namespace {

using nlohmann::json;

json timeJson(std::chrono::system_clock::time_point when) {
    if (when.time_since_epoch().count() == 0) return nullptr;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

struct ResultWord {
    zv_result result;
    std::string_view word;
};

constexpr std::array resultWords{
    ResultWord{ZV_RESULT_BAD_REPLY, "refused"},
    ResultWord{ZV_RESULT_NO_REPLY, "no-reply"},
    ResultWord{ZV_RESULT_NETWORK_TIMEOUT, "time-out"},
    ResultWord{ZV_RESULT_PORT_REPLY_TIMEOUT, "time-out"},
    ResultWord{ZV_RESULT_HOST_NOT_FOUND, "host-not-found"},
    ResultWord{ZV_RESULT_CONNECT_FAILED, "connect-failed"},
    ResultWord{ZV_RESULT_SOCKET_FAILED, "connect-failed"},
    ResultWord{ZV_RESULT_PORT_OPEN_FAILED, "port-failed"},
    ResultWord{ZV_RESULT_SEND_FAILED, "send-failed"},
    ResultWord{ZV_RESULT_PORT_WRITE_FAILED, "send-failed"},
    ResultWord{ZV_RESULT_RECEIVE_FAILED, "receive-failed"},
    ResultWord{ZV_RESULT_PORT_READ_FAILED, "receive-failed"},
    ResultWord{ZV_RESULT_PORT_REPLY_TOO_LONG, "bad-reply"},
    ResultWord{ZV_RESULT_LINK_CLOSED, "stopping"},
    ResultWord{fleet::kQueueFull, "busy"},
    ResultWord{fleet::kUnsupported, "unsupported"},
    ResultWord{fleet::kUnavailable, "unavailable"},
    ResultWord{fleet::kProjectorFailure, "projector-failure"},
    ResultWord{fleet::kAuthFailed, "auth-failed"},
    ResultWord{fleet::kBadAnswer, "bad-reply"},
};

}  // namespace

std::string_view resultName(zv_result result) {
    if (result == ZV_RESULT_OK) return "ok";
    for (const ResultWord& word : resultWords) {
        if (word.result == result) return word.word;
    }
    return (result >= ZV_RESULT_PORT_OPEN_FAILED && result <= ZV_RESULT_PORT_REPLY_TIMEOUT)
               ? "port-failed"
               : "failed";
}

// Each watched value the projector has, with its name where the projector or the catalogue has
// one; a value it does not have is not listed. Those asked only while the projector is on cannot
// be asked of one that is not: what the state holds of them then is from the last time they were
// read, and says so.
json stateJson(const fleet::ProjectorState& state) {
    json shown = json::object();
    for (const fleet::WatchedValue& row : fleet::watchedValues()) {
        if (!fleet::has(state, row)) continue;
        json& one = shown[std::string(row.key)];
        const std::optional<std::uint16_t>& value = state.*row.member;
        if (!value) continue;
        one = {{"value", *value}};
        if (const char* name = fleet::valueName(state, row, *value)) one["name"] = name;
        if (row.cadence == fleet::Cadence::WhileOn && state.power != std::uint16_t{1}) {
            one["last_known"] = true;
            one["read_at"] = timeJson(state.inputReadAt);
        }
    }
    return shown;
}

json projectorJson(const fleet::ProjectorEntry& entry, const fleet::ProjectorState& state) {
    json shown = {
        {"name", entry.name},
        {"label", entry.label},
        {"address", entry.address},
        {"groups", entry.groups},
        {"reach", fleet::reachName(state.reach)},
        {"last_seen", timeJson(state.lastSeen)},
        {"last_failure", state.lastFailure},
        {"failed_polls", state.failedPolls},
        {"state", stateJson(state)},
        {"version", state.version},
        {"protocol", state.abilities.protocol},
    };
    if (!state.abilities.about.empty()) {
        json& about = shown["about"] = json::object();
        for (const auto& [key, text] : state.abilities.about) about[key] = text;
    }
    if (!state.abilities.inputs.empty()) {
        json& inputs = shown["inputs"] = json::array();
        for (const fleet::InputName& input : state.abilities.inputs) {
            inputs.push_back({{"value", input.value}, {"name", input.name}});
        }
    }
    return shown;
}

json outcomeJson(const fleet::Fleet::Outcome& outcome, const fleet::Command& command,
                 const fleet::ProjectorQueue* queue) {
    const fleet::CommandResult& result = outcome.result;
    json shown = {{"projector", outcome.projector}, {"ok", result.ok()}};
    if (!result.ok()) {
        shown["result"] = resultName(result.result);
        shown["reason"] =
            result.reason.empty() ? fleet::resultReason(result.result) : result.reason;
        return shown;
    }
    const fleet::WatchedValue* row = fleet::watchedByType(command.setting->type);
    // The projector's own names, where the value is one it watches and it is at hand.
    const std::optional<fleet::ProjectorState> state =
        row && queue ? std::optional(queue->state()) : std::nullopt;
    std::optional<std::uint16_t> value = result.value;
    if (!value && command.operation == fleet::Operation::Set) {
        if (command.ownValue.empty()) {
            value = static_cast<std::uint16_t>(command.value);
        } else if (state) {
            // An input as it was given, a name or a number, as the projector's queue took it.
            value = fleet::valueByName(*state, *row, command.ownValue);
            for (const fleet::InputName& input : state->abilities.inputs) {
                if (!value && std::to_string(input.value) == command.ownValue) value = input.value;
            }
        }
    }
    if (value) {
        shown["value"] = *value;
        const char* name =
            state ? fleet::valueName(*state, *row, *value) : zv_value_name(command.setting, *value);
        if (name) shown["name"] = name;
    }
    const bool powerOn =
        command.operation == fleet::Operation::Set &&
        command.setting->type == fleet::watchedByMember(&fleet::ProjectorState::power).type() &&
        command.value == 1;
    if (powerOn) shown["waited_ms"] = result.waited.count();
    return shown;
}

}  // namespace zolvane::service
