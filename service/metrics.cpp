#include "metrics.h"

#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

namespace zolvane::service {
namespace {

using fleet::ProjectorState;

struct Sample {
    std::string suffix;  // "_sum", "_count" of a summary; else empty
    std::string labels;  // without braces: projector="hall-a",state="on"
    double value;
};

// One metric family: its name, type, help and the samples one projector gives.
struct Family {
    const char* name;
    const char* type;
    const char* help;
    std::function<void(const std::string& projector, const ProjectorState&, std::vector<Sample>&)>
        samples;
};

std::string label(const std::string& projector) {
    std::string text = "projector=\"";
    for (const char c : projector) {
        if (c == '\\' || c == '"') text += '\\';
        text += c == '\n' ? 'n' : c;
    }
    return text + '"';
}

double seconds(std::chrono::nanoseconds duration) {
    return std::chrono::duration<double>(duration).count();
}

auto gauge(std::optional<std::uint16_t> ProjectorState::*value) {
    return [value](const std::string& projector, const ProjectorState& state,
                   std::vector<Sample>& out) {
        if (state.*value)
            out.push_back({"", label(projector), static_cast<double>(*(state.*value))});
    };
}

auto number(std::function<double(const ProjectorState&)> value) {
    return [value](const std::string& projector, const ProjectorState& state,
                   std::vector<Sample>& out) {
        out.push_back({"", label(projector), value(state)});
    };
}

void powerStates(const std::string& projector, const ProjectorState& state,
                 std::vector<Sample>& out) {
    constexpr std::array<const char*, 3> names{"off", "on", "cooling down"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool is = state.power && *state.power == i;
        out.push_back({"", label(projector) + ",state=\"" + names[i] + '"', is ? 1.0 : 0.0});
    }
}

void pollDurations(const std::string& projector, const ProjectorState& state,
                   std::vector<Sample>& out) {
    out.push_back({"_sum", label(projector), seconds(state.pollDurationSum)});
    out.push_back({"_count", label(projector), static_cast<double>(state.polls)});
}

const std::vector<Family>& families() {
    static const std::vector<Family> table{
        {"zolvaned_projector_up", "gauge", "1 when the projector answers its polls, else 0",
         number([](const ProjectorState& s) { return s.reach == fleet::Reach::Online ? 1 : 0; })},
        {"zolvaned_projector_power_state", "gauge", "1 for the projector's last known power state",
         powerStates},
        {"zolvaned_projector_lamp_hours", "gauge", "Lamp hours, as last read",
         gauge(&ProjectorState::lampHours)},
        {"zolvaned_projector_filter_hours", "gauge", "Filter hours, as last read",
         gauge(&ProjectorState::filterHours)},
        {"zolvaned_projector_error_status", "gauge", "Error status code, 0 when normal",
         gauge(&ProjectorState::errorStatus)},
        {"zolvaned_projector_polls_total", "counter", "Polls sent to the projector",
         number([](const ProjectorState& s) { return static_cast<double>(s.polls); })},
        {"zolvaned_projector_poll_failures_total", "counter", "Polls that were not answered",
         number([](const ProjectorState& s) { return static_cast<double>(s.pollFailures); })},
        {"zolvaned_projector_poll_duration_seconds", "summary", "Time spent in polls",
         pollDurations},
        {"zolvaned_projector_last_poll_duration_seconds", "gauge", "How long the latest poll took",
         number([](const ProjectorState& s) { return seconds(s.lastPollDuration); })},
    };
    return table;
}

}  // namespace

std::string metricsText(const fleet::Fleet& fleet) {
    std::vector<std::pair<std::string, ProjectorState>> states;
    for (const auto& queue : fleet.projectors()) {
        states.emplace_back(queue->entry().name, queue->state());
    }
    std::string text;
    std::vector<Sample> samples;
    char number[64];
    for (const Family& family : families()) {
        text += std::string("# HELP ") + family.name + ' ' + family.help + '\n';
        text += std::string("# TYPE ") + family.name + ' ' + family.type + '\n';
        for (const auto& [name, state] : states) {
            samples.clear();
            family.samples(name, state, samples);
            for (const Sample& sample : samples) {
                std::snprintf(number, sizeof number, "%.9g", sample.value);
                text += family.name + sample.suffix + '{' + sample.labels + "} " + number + '\n';
            }
        }
    }
    return text;
}

}  // namespace zolvane::service
