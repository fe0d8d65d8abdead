#include "check_command.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "power_state.h"
#include "result_kind.h"
#include "target_runner.h"
#include "text.h"
#include "value_text.h"
#include "zolvane.h"
#include "zolvane_fleet/driver_results.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::cli {
namespace {

// How much each state weighs when many projectors make one: a fault found outranks a projector
// that could not be asked.
int Weight(CheckState state) {
    switch (state) {
        case CheckOk:
            return 0;
        case CheckUnknown:
            return 1;
        case CheckWarning:
            return 2;
        case CheckCritical:
            return 3;
    }
    return 1;
}

CheckState Worse(CheckState a, CheckState b) { return Weight(a) >= Weight(b) ? a : b; }

const char* StateWord(CheckState state) {
    switch (state) {
        case CheckOk:
            return "OK";
        case CheckWarning:
            return "WARNING";
        case CheckCritical:
            return "CRITICAL";
        case CheckUnknown:
            return "UNKNOWN";
    }
    return "UNKNOWN";
}

// The watched values counted in hours, each with its thresholds.
struct Counter {
    std::string_view key;  // of the watched value
    std::string word;      // in the text, the perfdata and the options: "lamp 1200 h"
    unsigned CheckLimits::*warning;
    unsigned CheckLimits::*critical;
};

const Counter kCounters[] = {
    {"lamp_hours", "lamp", &CheckLimits::lampWarning, &CheckLimits::lampCritical},
    {"filter_hours", "filter", &CheckLimits::filterWarning, &CheckLimits::filterCritical},
};

struct Reading {
    CheckState state = CheckOk;
    std::string text;
    std::vector<std::pair<const Counter*, uint16_t>> hours;  // each counter that was read
};

void Add(Reading& reading, CheckState state, const std::string& text) {
    reading.state = Worse(reading.state, state);
    reading.text += (reading.text.empty() ? "" : ", ") + text;
}

// The setting of the watched value of this key.
const SettingRow& Watched(std::string_view key) {
    return RequireSetting(fleet::watchedByKey(key)->setting, Operation::Get);
}

Outcome Get(Session& session, const SettingRow& row) {
    return session.run(Command{&row, Operation::Get, 0, {}});
}

// Lamp and filter hours count in standby as when on (projectors keep them readable), and hours
// that cannot be read leave the projector unjudged, whatever its power. An error status that the
// projector refuses is no fault of the projector's, so it is left out.
Reading ReadProjector(CommandContext& context, const CheckLimits& limits) {
    Reading reading;
    Session* session = nullptr;
    try {
        session = &context.session();
    } catch (const std::exception& error) {
        Add(reading, CheckUnknown, error.what());
        return reading;
    }
    const auto unreachable = [&](const Outcome& outcome) {
        reading = Reading{};
        Add(reading, CheckUnknown, "unreachable: " + session->failureText(outcome));
        return reading;
    };
    const SettingRow& powerRow = Watched("power");
    const Outcome power = Get(*session, powerRow);
    if (ExitStatusFor(power.result) == ExitLinkFailed) return unreachable(power);
    const bool on = power.ok() && power.value == 1;
    std::vector<std::string> unreadable;
    Outcome refusal;
    for (const Counter& counter : kCounters) {
        const Outcome hours = Get(*session, Watched(counter.key));
        if (ExitStatusFor(hours.result) == ExitLinkFailed) return unreachable(hours);
        // A PJLink projector without the counter (a filter, on class 1) is not judged by it.
        if (session->pjlink() && hours.result == fleet::kUnsupported) continue;
        if (!hours.ok()) {
            unreadable.push_back(counter.word);
            refusal = hours;
            continue;
        }
        reading.hours.emplace_back(&counter, hours.value);
        const CheckState state = hours.value >= limits.*counter.critical  ? CheckCritical
                                 : hours.value >= limits.*counter.warning ? CheckWarning
                                                                          : CheckOk;
        Add(reading, state, counter.word + " " + std::to_string(hours.value) + " h");
    }
    if (!unreadable.empty()) {
        // A projector that is not on says why; it is then not named a second time below.
        const std::string why =
            power.ok() && !on ? PowerStateWords(power.value) : session->failureText(refusal);
        Add(reading, CheckUnknown, Listed(unreadable) + " hours unreadable: " + why);
    }
    const SettingRow& errorRow = Watched("error_status");
    const Outcome error = Get(*session, errorRow);
    if (ExitStatusFor(error.result) == ExitLinkFailed) return unreachable(error);
    if (error.ok() && error.value != 0) {
        Add(reading, CheckCritical, "error " + NamedValue(errorRow, error.value));
    }
    if (power.ok() && !on && unreadable.empty()) {
        Add(reading, CheckOk, std::string(ValueName(powerRow, power.value)));
    }
    return reading;
}

std::string Perfdata(const std::string& name, const Reading& reading, const CheckLimits& limits) {
    std::string text;
    for (const auto& [counter, hours] : reading.hours) {
        text += (text.empty() ? "" : " ") + (name.empty() ? "" : name + "_") + counter->word + "=" +
                std::to_string(hours) + "h;" + std::to_string(limits.*counter->warning) + ";" +
                std::to_string(limits.*counter->critical);
    }
    return text;
}

}  // namespace

void AddCheckCommand(CLI::App& app, CheckLimits& limits, bool& chosen) {
    CLI::App* check = app.add_subcommand(
        "check", "One line for a monitoring system: lamp and filter hours, and the error status");
    check->footer(
        "check exits as monitoring plug-ins do: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (the\n"
        "projector could not be asked or its hours could not be read, with the reason, and\n"
        "every usage error of check). Over several projectors: the worst, CRITICAL above\n"
        "WARNING above UNKNOWN. A projector in standby is checked as one that is on; an error\n"
        "status that the projector refuses is no fault.");
    const auto hours = [&](const std::string& name, unsigned& value, const std::string& what) {
        check->add_option(name, value, what)
            ->check(CLI::Range(0, 65535))
            ->type_name("H")
            ->capture_default_str();
    };
    for (const Counter& counter : kCounters) {
        hours("--" + counter.word + "-warning", limits.*counter.warning,
              "WARNING from this many " + counter.word + " hours");
        hours("--" + counter.word + "-critical", limits.*counter.critical,
              "CRITICAL from this many " + counter.word + " hours");
    }
    check->callback([&chosen] { chosen = true; });
}

int RunCheck(const std::vector<NamedTarget>& targets, unsigned jobs, const GlobalOptions& options,
             const CheckLimits& limits, std::ostream& out) {
    for (const Counter& counter : kCounters) {
        if (limits.*counter.warning > limits.*counter.critical) {
            throw UsageError("the " + counter.word +
                             " warning threshold is above the critical one");
        }
    }
    std::string line;
    CheckState state = CheckOk;
    if (targets.empty()) {
        Reading reading;
        RunCaptured(
            [&](CommandContext& context) {
                reading = ReadProjector(context, limits);
                return 0;
            },
            options, std::nullopt);
        state = reading.state;
        line = reading.text;
        const std::string perfdata = Perfdata("", reading, limits);
        if (!perfdata.empty()) line += " | " + perfdata;
    } else {
        std::vector<Reading> readings(targets.size());
        RunEach(
            targets, jobs, options,
            [&](std::size_t index, CommandContext& context) {
                readings[index] = ReadProjector(context, limits);
                return 0;
            },
            [](const NamedTarget&, const CapturedRun&) {});
        // The projectors in trouble, worst first and otherwise in target order.
        std::vector<std::size_t> order(targets.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return Weight(readings[a].state) > Weight(readings[b].state);
        });
        std::size_t fine = 0;
        std::string perfdata;
        for (const std::size_t i : order) {
            state = Worse(state, readings[i].state);
            if (readings[i].state == CheckOk) {
                ++fine;
            } else {
                line += (line.empty() ? "" : "; ") + targets[i].name + " " +
                        StateWord(readings[i].state) + ": " + readings[i].text;
            }
        }
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const std::string one = Perfdata(targets[i].name, readings[i], limits);
            if (!one.empty()) perfdata += (perfdata.empty() ? "" : " ") + one;
        }
        line += (line.empty() ? "" : "; ") + std::to_string(fine) + " of " +
                std::to_string(targets.size()) + " OK";
        if (!perfdata.empty()) line += " | " + perfdata;
    }
    out << "ZOLVANE " << StateWord(state) << " - " << line << '\n';
    return state;
}

}  // namespace zolvane::cli
