#include "projector_json.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>

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

// Each watched value with its name where the catalogue has one. Those asked only while the
// projector is on cannot be asked of one that is not: what the state holds of them then is from
// the last time they were read, and says so.
json stateJson(const fleet::ProjectorState& state) {
    json shown = json::object();
    for (const fleet::WatchedValue& row : fleet::watchedValues()) {
        json& one = shown[std::string(row.key)];
        const std::optional<std::uint16_t>& value = state.*row.member;
        if (!value) continue;
        one = {{"value", *value}};
        if (const char* name = row.valueName(*value)) one["name"] = name;
        if (row.cadence == fleet::Cadence::WhileOn && state.power != std::uint16_t{1}) {
            one["last_known"] = true;
            one["read_at"] = timeJson(state.inputReadAt);
        }
    }
    return shown;
}

json projectorJson(const fleet::ProjectorEntry& entry, const fleet::ProjectorState& state) {
    return {
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
    };
}

json outcomeJson(const fleet::Fleet::Outcome& outcome, const fleet::Command& command) {
    const fleet::CommandResult& result = outcome.result;
    json shown = {{"projector", outcome.projector}, {"ok", result.ok()}};
    if (!result.ok()) {
        shown["result"] = resultName(result.result);
        shown["reason"] =
            result.reason.empty() ? fleet::resultReason(result.result) : result.reason;
        return shown;
    }
    std::optional<std::uint16_t> value = result.value;
    if (!value && command.operation == fleet::Operation::Set) {
        value = static_cast<std::uint16_t>(command.value);
    }
    if (value) {
        shown["value"] = *value;
        if (const char* name = zv_value_name(command.setting, *value)) shown["name"] = name;
    }
    const bool powerOn =
        command.operation == fleet::Operation::Set &&
        command.setting->type == fleet::watchedByMember(&fleet::ProjectorState::power).type() &&
        command.value == 1;
    if (powerOn) shown["waited_ms"] = result.waited.count();
    return shown;
}

}  // namespace zolvane::service
