#include "zolvane_fleet/watched.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace zolvane::fleet {
namespace {

// Power comes first; the poll asks the others only when it has answered.
// clang-format off
constexpr WatchedValue kWatched[] = {
    {"power", "Power", Cadence::EveryPoll, &ProjectorState::power, "power", "Power", Shown::Plain,
     {"switch", "Power", "mdi:projector", nullptr, nullptr, nullptr, nullptr},
     {MetricKind::StateSet, "zolvaned_projector_power_state", "1 for the projector's last known power state"}, {"POWR", 1}},
    {"input", "InputSource", Cadence::WhileOn, &ProjectorState::input, "input", "Input", Shown::Plain,
     {"select", "Input", "mdi:video-input-component", nullptr, nullptr, nullptr, nullptr},
     {MetricKind::None, nullptr, nullptr}, {"INPT", 1}},
    {"blank", "Blank", Cadence::WhileOn, &ProjectorState::blank, "blank", "Blank", Shown::Plain,
     {"switch", "Blank", "mdi:monitor-off", nullptr, nullptr, nullptr, nullptr},
     {MetricKind::None, nullptr, nullptr}, {"AVMT", 1}},
    {"mute", "Mute", Cadence::WhileOn, &ProjectorState::mute, "mute", "Mute", Shown::Plain,
     {"switch", "Mute", "mdi:volume-off", nullptr, nullptr, nullptr, nullptr},
     {MetricKind::None, nullptr, nullptr}, {"AVMT", 1}},
    {"lamp_hours", "LampTime", Cadence::Slow, &ProjectorState::lampHours, nullptr, "Lamp time", Shown::Hours,
     {"sensor", "Lamp hours", "mdi:lightbulb-on-outline", "duration", "h", "total_increasing", "diagnostic"},
     {MetricKind::Gauge, "zolvaned_projector_lamp_hours", "Lamp hours, as last read"}, {"LAMP", 1}},
    {"filter_hours", "FilterTime", Cadence::Slow, &ProjectorState::filterHours, nullptr, "Filter time", Shown::Hours,
     {"sensor", "Filter hours", "mdi:air-filter", "duration", "h", "total_increasing", "diagnostic"},
     {MetricKind::Gauge, "zolvaned_projector_filter_hours", "Filter hours, as last read"}, {"FILT", 2}},
    {"error_status", "ErrorStatus", Cadence::Slow, &ProjectorState::errorStatus, nullptr, "Error status", Shown::Code,
     {"sensor", "Error status", "mdi:alert-circle-outline", nullptr, nullptr, nullptr, "diagnostic"},
     {MetricKind::Gauge, "zolvaned_projector_error_status", "Error status code, 0 when normal"}, {"ERST", 1}},
};
// clang-format on

}  // namespace

const zv_setting& WatchedValue::described() const {
    // The table names settings of the library's own catalogue; a row naming anything else is a
    // fault of this file, found by the first test that polls.
    const zv_setting* entry = zv_catalogue_find(setting);
    if (entry == nullptr) throw std::logic_error(std::string("no setting ") + setting);
    return *entry;
}

const char* WatchedValue::valueName(std::uint16_t value) const {
    return zv_value_name(&described(), value);
}

std::span<const WatchedValue> watchedValues() { return kWatched; }

const WatchedValue* watchedByKey(std::string_view key) {
    for (const WatchedValue& row : kWatched) {
        if (row.key == key) return &row;
    }
    return nullptr;
}

const WatchedValue* watchedByType(std::uint16_t type) {
    for (const WatchedValue& row : kWatched) {
        if (row.type() == type) return &row;
    }
    return nullptr;
}

const WatchedValue* watchedByCommand(std::string_view word) {
    for (const WatchedValue& row : kWatched) {
        if (row.command != nullptr && word == row.command) return &row;
    }
    return nullptr;
}

const WatchedValue& watchedByMember(std::optional<std::uint16_t> ProjectorState::*member) {
    for (const WatchedValue& row : kWatched) {
        if (row.member == member) return row;
    }
    throw std::logic_error("a value of ProjectorState without its row");
}

std::uint32_t lackingBit(const WatchedValue& row) {
    return std::uint32_t{1} << static_cast<unsigned>(&row - kWatched);
}

bool has(const ProjectorState& state, const WatchedValue& row) {
    return (state.abilities.lacking & lackingBit(row)) == 0;
}

namespace {

bool ownInputs(const ProjectorState& state, const WatchedValue& row) {
    return row.member == &ProjectorState::input && !state.abilities.inputs.empty();
}

bool sameWord(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

const char* valueName(const ProjectorState& state, const WatchedValue& row, std::uint16_t value) {
    if (!ownInputs(state, row)) return row.valueName(value);
    for (const InputName& input : state.abilities.inputs) {
        if (input.value == value) return input.name.c_str();
    }
    return nullptr;
}

std::optional<std::uint16_t> valueByName(const ProjectorState& state, const WatchedValue& row,
                                         std::string_view name) {
    for (const InputName& named : valueNames(state, row)) {
        if (sameWord(named.name, name)) return named.value;
    }
    return std::nullopt;
}

std::vector<InputName> valueNames(const ProjectorState& state, const WatchedValue& row) {
    if (ownInputs(state, row)) return state.abilities.inputs;
    std::vector<InputName> names;
    const zv_setting& setting = row.described();
    for (std::size_t i = 0; i < setting.name_count; ++i) {
        names.push_back({setting.names[i].value, setting.names[i].name});
    }
    return names;
}

}  // namespace zolvane::fleet
