#include "metrics.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "alert/alerts.h"
#include "history/store.h"
#include "schedule/scheduler.h"
#include "zolvane_fleet/watched.h"

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

// name="value", the value escaped as the exposition format reads it.
std::string labelPair(std::string_view name, std::string_view value) {
    std::string text = std::string(name) + "=\"";
    for (const char c : value) {
        if (c == '\\' || c == '"' || c == '\n') text += '\\';
        text += c == '\n' ? 'n' : c;
    }
    return text + '"';
}

std::string label(const std::string& projector) { return labelPair("projector", projector); }

double seconds(std::chrono::nanoseconds duration) {
    return std::chrono::duration<double>(duration).count();
}

// A watched value's family, from its row: the value, or 1 for the name of the value it has and 0
// for each other name the projector has for the setting, in its order. A projector that does not
// have the value gives no sample.
Family watchedFamily(const fleet::WatchedValue& row) {
    return {row.metric.name, "gauge", row.metric.help,
            [&row](const std::string& projector, const ProjectorState& state,
                   std::vector<Sample>& out) {
                if (!fleet::has(state, row)) return;
                const std::optional<std::uint16_t>& value = state.*row.member;
                if (row.metric.kind == fleet::MetricKind::Gauge) {
                    if (value) out.push_back({"", label(projector), static_cast<double>(*value)});
                    return;
                }
                for (const fleet::InputName& named : fleet::valueNames(state, row)) {
                    out.push_back({"", label(projector) + ',' + labelPair("state", named.name),
                                   value == named.value ? 1.0 : 0.0});
                }
            }};
}

auto number(const std::function<double(const ProjectorState&)>& value) {
    return [value](const std::string& projector, const ProjectorState& state,
                   std::vector<Sample>& out) {
        out.push_back({"", label(projector), value(state)});
    };
}

void pollDurations(const std::string& projector, const ProjectorState& state,
                   std::vector<Sample>& out) {
    out.push_back({"_sum", label(projector), seconds(state.pollDurationSum)});
    out.push_back({"_count", label(projector), static_cast<double>(state.polls)});
}

// Whether the projector is up, then the watched values, then its polling.
const std::vector<Family>& families() {
    static const std::vector<Family> table = [] {
        std::vector<Family> all{
            {"zolvaned_projector_up", "gauge", "1 when the projector answers its polls, else 0",
             number(
                 [](const ProjectorState& s) { return s.reach == fleet::Reach::Online ? 1 : 0; })},
            {"zolvaned_projector_info", "gauge",
             "1, with how the service speaks to the projector: protocol=\"native\" or \"pjlink\"",
             [](const std::string& projector, const ProjectorState& state,
                std::vector<Sample>& out) {
                 out.push_back(
                     {"", label(projector) + ',' + labelPair("protocol", state.abilities.protocol),
                      1.0});
             }},
        };
        for (const fleet::WatchedValue& row : fleet::watchedValues()) {
            if (row.metric.kind != fleet::MetricKind::None) all.push_back(watchedFamily(row));
        }
        const Family polling[] = {
            {"zolvaned_projector_polls_total", "counter", "Polls sent to the projector",
             number([](const ProjectorState& s) { return static_cast<double>(s.polls); })},
            {"zolvaned_projector_poll_failures_total", "counter", "Polls that were not answered",
             number([](const ProjectorState& s) { return static_cast<double>(s.pollFailures); })},
            {"zolvaned_projector_poll_duration_seconds", "summary", "Time spent in polls",
             pollDurations},
            {"zolvaned_projector_last_poll_duration_seconds", "gauge",
             "How long the latest poll took",
             number([](const ProjectorState& s) { return seconds(s.lastPollDuration); })},
        };
        all.insert(all.end(), std::begin(polling), std::end(polling));
        return all;
    }();
    return table;
}

// The service's own families, one sample each, from the history's and the schedules' counters.
struct Counted {
    history::Counters history;
    schedule::Scheduler::Counters schedules;
    alert::Engine::Counters alerts;
    AuthCounters auth;
};
struct ServiceFamily {
    const char* name;
    const char* type;
    const char* help;
    double (*value)(const Counted&);
};
constexpr ServiceFamily kHistoryFamilies[] = {
    {"zolvaned_history_available", "gauge", "1 while the history's database is being written",
     [](const Counted& c) { return c.history.available ? 1.0 : 0.0; }},
    {"zolvaned_history_rows_written_total", "counter", "Rows written to the history",
     [](const Counted& c) { return static_cast<double>(c.history.rowsWritten); }},
    {"zolvaned_history_write_failures_total", "counter", "Writes to the history that failed",
     [](const Counted& c) { return static_cast<double>(c.history.writeFailures); }},
    {"zolvaned_history_rows_dropped_total", "counter",
     "Rows the history could not keep (unavailable, or too many waiting)",
     [](const Counted& c) { return static_cast<double>(c.history.rowsDropped); }},
};
constexpr ServiceFamily kScheduleFamilies[] = {
    {"zolvaned_schedule_runs_total", "counter", "Runs of schedules, by time, catch-up or by hand",
     [](const Counted& c) { return static_cast<double>(c.schedules.runs); }},
    {"zolvaned_schedule_failures_total", "counter", "Runs of schedules where a target failed",
     [](const Counted& c) { return static_cast<double>(c.schedules.failures); }},
    {"zolvaned_schedule_missed_total", "counter",
     "Runs of schedules missed while the service was down",
     [](const Counted& c) { return static_cast<double>(c.schedules.missed); }},
};
constexpr ServiceFamily kAlertFamilies[] = {
    {"zolvaned_alerts_firing", "gauge", "Alerts firing and not acknowledged",
     [](const Counted& c) { return static_cast<double>(c.alerts.firing); }},
    {"zolvaned_alerts_acknowledged", "gauge", "Alerts acknowledged and not resolved",
     [](const Counted& c) { return static_cast<double>(c.alerts.acknowledged); }},
    {"zolvaned_alerts_critical", "gauge", "Open alerts at the critical level",
     [](const Counted& c) { return static_cast<double>(c.alerts.firingCritical); }},
    {"zolvaned_alerts_raised_total", "counter", "Alerts raised since the service started",
     [](const Counted& c) { return static_cast<double>(c.alerts.raised); }},
};

// Each has one sample per label; the labelled family's samples, one per status.
struct LabelledSample {
    const char* labels;
    double (*value)(const Counted&);
};
struct LabelledFamily {
    const char* name;
    const char* type;
    const char* help;
    std::span<const LabelledSample> samples;
};
constexpr LabelledSample kRefusedSamples[] = {
    {"status=\"401\"", [](const Counted& c) { return static_cast<double>(c.auth.refused401); }},
    {"status=\"403\"", [](const Counted& c) { return static_cast<double>(c.auth.refused403); }},
    {"status=\"429\"", [](const Counted& c) { return static_cast<double>(c.auth.refused429); }},
};
constexpr ServiceFamily kAuthFamilies[] = {
    {"zolvaned_http_auth_failures_total", "counter",
     "Tokens presented to the HTTP API that matched none",
     [](const Counted& c) { return static_cast<double>(c.auth.failures); }},
};
constexpr LabelledFamily kAuthLabelledFamilies[] = {
    {"zolvaned_http_auth_refused_total", "counter",
     "Requests the HTTP API refused for their token: none or unknown, not allowed, too many "
     "failures",
     kRefusedSamples},
};

// Each notifier's families, one sample per notifier.
struct NotifierFamily {
    const char* name;
    const char* type;
    const char* help;
    double (*value)(const alert::Delivery::Counters&);
};
constexpr NotifierFamily kNotifierFamilies[] = {
    {"zolvaned_notifier_up", "gauge", "1 when the notifier's last try succeeded, else 0",
     [](const alert::Delivery::Counters& c) { return c.up ? 1.0 : 0.0; }},
    {"zolvaned_notifier_deliveries_total", "counter", "Notifications delivered",
     [](const alert::Delivery::Counters& c) { return static_cast<double>(c.delivered); }},
    {"zolvaned_notifier_failures_total", "counter", "Tries that failed",
     [](const alert::Delivery::Counters& c) { return static_cast<double>(c.failed); }},
    {"zolvaned_notifier_given_up_total", "counter",
     "Notifications dropped once their attempts were spent",
     [](const alert::Delivery::Counters& c) { return static_cast<double>(c.givenUp); }},
    {"zolvaned_notifier_pending", "gauge", "Notifications waiting to be delivered",
     [](const alert::Delivery::Counters& c) { return static_cast<double>(c.pending); }},
};

void addNotifierFamilies(const std::vector<alert::Delivery::Counters>& notifiers,
                         std::string& text) {
    char number[64];
    for (const NotifierFamily& family : kNotifierFamilies) {
        text += std::string("# HELP ") + family.name + ' ' + family.help + '\n' + "# TYPE " +
                family.name + ' ' + family.type + '\n';
        for (const alert::Delivery::Counters& notifier : notifiers) {
            std::snprintf(number, sizeof number, "%.17g", family.value(notifier));
            text += std::string(family.name) + "{notifier=\"" + notifier.name + "\",kind=\"" +
                    notifier.kind + "\"} " + number + '\n';
        }
    }
}

void addFamilies(std::span<const ServiceFamily> families, const Counted& counted,
                 std::string& text) {
    char number[64];
    for (const ServiceFamily& family : families) {
        std::snprintf(number, sizeof number, "%.17g", family.value(counted));
        text += std::string("# HELP ") + family.name + ' ' + family.help + '\n' + "# TYPE " +
                family.name + ' ' + family.type + '\n' + family.name + ' ' + number + '\n';
    }
}

void addLabelledFamilies(std::span<const LabelledFamily> families, const Counted& counted,
                         std::string& text) {
    char number[64];
    for (const LabelledFamily& family : families) {
        text += std::string("# HELP ") + family.name + ' ' + family.help + '\n' + "# TYPE " +
                family.name + ' ' + family.type + '\n';
        for (const LabelledSample& sample : family.samples) {
            std::snprintf(number, sizeof number, "%.17g", sample.value(counted));
            text += std::string(family.name) + '{' + sample.labels + "} " + number + '\n';
        }
    }
}

}  // namespace

std::string metricsText(const fleet::Fleet& fleet, const history::Store* history,
                        const schedule::Scheduler* schedules, const alert::Alerts* alerts,
                        const AuthCounters* auth) {
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
    Counted counted;
    if (history) counted.history = history->counters();
    if (schedules) counted.schedules = schedules->counters();
    if (history) addFamilies(kHistoryFamilies, counted, text);
    if (schedules) addFamilies(kScheduleFamilies, counted, text);
    if (alerts) {
        counted.alerts = alerts->engineCounters();
        addFamilies(kAlertFamilies, counted, text);
        addNotifierFamilies(alerts->deliveryCounters(), text);
    }
    if (auth) {
        counted.auth = *auth;
        addFamilies(kAuthFamilies, counted, text);
        addLabelledFamilies(kAuthLabelledFamilies, counted, text);
    }
    return text;
}

}  // namespace zolvane::service
