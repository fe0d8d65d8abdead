// The usage report: for each projector of a group, how long it was on and how often switched on,
// how long it was offline, its lamp hours at either end and the commands each front end gave.
// Over hundreds of projectors and a year it reads only the power, reach and lamp rows, each
// through the index on (projector, key, time) and each in one pass.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "history/csv.h"
#include "history/queries.h"
#include "history/report_file.h"
#include "history/report_params.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::service::history {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr std::int64_t kOn = 1;       // power
constexpr std::int64_t kOffline = 2;  // reach
constexpr std::array<const char*, 4> kSources{"http", "mqtt", "pjlink", "schedule"};

struct Usage {
    std::int64_t onMillis = 0;
    std::int64_t powerOns = 0;
    std::int64_t offlineMillis = 0;
    std::optional<std::int64_t> lampStart, lampEnd;
    std::array<std::int64_t, kSources.size()> commands{};
};

// Hours to two decimals, as a number.
double hours(std::int64_t millis) {
    return std::round(static_cast<double>(millis) / 36000.0) / 100.0;
}

std::string hoursText(std::int64_t millis) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", hours(millis));
    return text;
}

// The statements one report runs for every projector, prepared once.
class Reader {
public:
    Reader(ReportFile& file, std::int64_t from, std::int64_t end)
        : from_(from),
          end_(end),
          before_(file,
                  "SELECT value FROM changes WHERE projector = ?1 AND key = ?2 AND time <= ?3 "
                  "ORDER BY time DESC, rowid DESC LIMIT 1"),
          during_(file,
                  "SELECT time, value FROM changes WHERE projector = ?1 AND key = ?2 AND "
                  "time > ?3 AND time <= ?4 ORDER BY time, rowid"),
          lastKnown_(file,
                     "SELECT value FROM changes WHERE projector = ?1 AND key = ?2 AND "
                     "time <= ?3 AND value IS NOT NULL ORDER BY time DESC, rowid DESC LIMIT 1"),
          firstKnown_(file,
                      "SELECT value FROM changes WHERE projector = ?1 AND key = ?2 AND "
                      "time > ?3 AND time <= ?4 AND value IS NOT NULL ORDER BY time, rowid "
                      "LIMIT 1"),
          commands_(file,
                    "SELECT source, count(*) FROM commands WHERE projector = ?1 AND time > ?2 "
                    "AND time <= ?3 GROUP BY source") {}

    Usage read(std::int64_t id) {
        Usage usage;
        const std::string_view power = fleet::watchedByMember(&fleet::ProjectorState::power).key;
        const std::string_view lamp = fleet::watchedByMember(&fleet::ProjectorState::lampHours).key;
        usage.onMillis = timeAt(id, power, kOn, &usage.powerOns);
        usage.offlineMillis = timeAt(id, "reach", kOffline, nullptr);

        usage.lampStart = known(lastKnown_, id, lamp, from_);
        if (!usage.lampStart) usage.lampStart = known(firstKnown_.bind(4, end_), id, lamp, from_);
        usage.lampEnd = known(lastKnown_, id, lamp, end_);

        commands_.reset();
        commands_.bind(1, id).bind(2, from_).bind(3, end_);
        while (commands_.step()) {
            const std::string source = commands_.text(0);
            for (std::size_t i = 0; i < kSources.size(); ++i) {
                if (source == kSources[i]) usage.commands[i] = commands_.integer(1);
            }
        }
        return usage;
    }

private:
    // How long key held value within the range, its state at the start the last change before
    // it; with switchedTo, also how often it became value after a known other one.
    std::int64_t timeAt(std::int64_t id, std::string_view key, std::int64_t value,
                        std::int64_t* switchedTo) {
        before_.reset();
        before_.bind(1, id).bind(2, key).bind(3, from_);
        std::optional<std::int64_t> state;
        if (before_.step()) state = before_.maybe(0);
        std::optional<std::int64_t> lastKnown = state;
        std::int64_t since = from_;
        std::int64_t held = 0;
        during_.reset();
        during_.bind(1, id).bind(2, key).bind(3, from_).bind(4, end_);
        while (during_.step()) {
            const std::int64_t time = during_.integer(0);
            const auto next = during_.maybe(1);
            if (state == value) held += time - since;
            if (switchedTo && next == value && lastKnown && *lastKnown != value) ++*switchedTo;
            if (next) lastKnown = next;
            state = next;
            since = time;
        }
        if (state == value) held += end_ - since;
        return held;
    }

    static std::optional<std::int64_t> known(Statement& statement, std::int64_t id,
                                             std::string_view key, std::int64_t time) {
        statement.bind(1, id).bind(2, key).bind(3, time);
        std::optional<std::int64_t> value;
        if (statement.step()) value = statement.maybe(0);
        statement.reset();
        return value;
    }

    std::int64_t from_, end_;
    Statement before_, during_, lastKnown_, firstKnown_, commands_;
};

json orNull(std::optional<std::int64_t> value) { return value ? json(*value) : json(nullptr); }
std::string field(std::optional<std::int64_t> value) {
    return value ? std::to_string(*value) : std::string();
}

}  // namespace

Answer usageReport(const Store& store, const fleet::Fleet& fleet, const Params& params,
                   const date::time_zone* zone) {
    return answering([&] {
        const auto group = single(params, "group");
        const Format format = readFormat(params);
        const WallTime now = wallNow();
        const Range range = readRange(params, zone, now, 30 * 24h, store.retentionDays());
        const auto members = fleet.group(group ? *group : "all");
        if (group && members.empty()) throw Refused(404, "no group \"" + *group + "\"");
        ReportFile file(store);
        const auto ids = file.projectors();

        // Time still to come counts for nothing: the range ends now when it ends later.
        const std::int64_t from = toMillis(range.from);
        const std::int64_t end = std::max(from, std::min(toMillis(range.to), toMillis(now)));
        Reader reader(file, from, end);

        json projectors = json::array();
        Csv csv{"name",
                "hours_on",
                "power_ons",
                "hours_offline",
                "lamp_hours_start",
                "lamp_hours_end",
                "commands_http",
                "commands_mqtt",
                "commands_pjlink",
                "commands_schedule"};
        for (const fleet::QueueRef& queue : members) {
            const std::string& name = queue->entry().name;
            const auto found = ids.find(name);
            const Usage usage = found == ids.end() ? Usage{} : reader.read(found->second);
            if (format == Format::Csv) {
                csv.row({name, hoursText(usage.onMillis), std::to_string(usage.powerOns),
                         hoursText(usage.offlineMillis), field(usage.lampStart),
                         field(usage.lampEnd), std::to_string(usage.commands[0]),
                         std::to_string(usage.commands[1]), std::to_string(usage.commands[2]),
                         std::to_string(usage.commands[3])});
                continue;
            }
            json commands = json::object();
            for (std::size_t i = 0; i < kSources.size(); ++i) {
                commands[kSources[i]] = usage.commands[i];
            }
            projectors.push_back({{"name", name},
                                  {"hours_on", hours(usage.onMillis)},
                                  {"power_ons", usage.powerOns},
                                  {"hours_offline", hours(usage.offlineMillis)},
                                  {"lamp_hours_start", orNull(usage.lampStart)},
                                  {"lamp_hours_end", orNull(usage.lampEnd)},
                                  {"commands", commands}});
        }
        if (format == Format::Csv) {
            const std::string stem = group && *group != "all" ? "usage-" + *group : "usage";
            return Answer{
                200, csv.text(), kCsvType,
                stem + "-" + dayText(range.from, zone) + "-" + dayText(range.to, zone) + ".csv"};
        }
        return jsonAnswer({{"from", instantText(range.from)},
                           {"to", instantText(range.to)},
                           {"group", group ? *group : "all"},
                           {"projectors", projectors}});
    });
}

}  // namespace zolvane::service::history
