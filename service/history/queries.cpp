// A projector's history and the audit trail, read from the history's file.
#include "history/queries.h"

#include <algorithm>
#include <vector>

#include "history/csv.h"
#include "history/report_file.h"
#include "history/report_params.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::service::history {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// Most rows one answer holds of each kind: a projector that flapped for a year stays readable.
constexpr int kMostRows = 100000;

const char* reachWord(std::optional<std::int64_t> value) {
    if (value == 1) return "online";
    if (value == 2) return "offline";
    return "unknown";
}

// The name of a watched value's value as the projector names it now (its own inputs, else the
// catalogue's); null when it has none. Valid while state lives.
const char* valueName(const fleet::ProjectorState& state, std::string_view key,
                      std::optional<std::int64_t> value) {
    const fleet::WatchedValue* watched = fleet::watchedByKey(key);
    if (!watched || !value || *value < 0 || *value > 0xFFFF) return nullptr;
    return fleet::valueName(state, *watched, static_cast<std::uint16_t>(*value));
}

json orNull(std::optional<std::int64_t> value) { return value ? json(*value) : json(nullptr); }
json orNull(const char* text) { return text ? json(text) : json(nullptr); }
std::string field(std::optional<std::int64_t> value) {
    return value ? std::to_string(*value) : std::string();
}

// The projector's state as it is now, for the names of its values.
fleet::ProjectorState requireProjector(const fleet::Fleet& fleet, const std::string& name) {
    const fleet::QueueRef queue = fleet.find(name);
    if (!queue) throw Refused(404, "no projector \"" + name + "\"");
    return queue->state();
}

// One row of a projector's history as its CSV writes it, whatever its kind.
struct HistoryRow {
    WallTime time{};
    const char* kind = "";  // "start" (the state at from), "change", "reachability", "command"
    std::string key{}, value{}, name{}, source{}, who{}, operation{}, setting{}, ok{}, result{};
};

std::string downloadName(const std::string& stem, const Range& range, const date::time_zone* zone) {
    return stem + "-" + dayText(range.from, zone) + "-" + dayText(range.to, zone) + ".csv";
}

}  // namespace

Answer projectorHistory(const Store& store, const fleet::Fleet& fleet, const std::string& projector,
                        const Params& params, const date::time_zone* zone) {
    return answering([&] {
        const Kinds kinds = readKinds(params);
        const Format format = readFormat(params);
        const Range range = readRange(params, zone, wallNow(), 7 * 24h, store.retentionDays());
        const fleet::ProjectorState state = requireProjector(fleet, projector);
        ReportFile file(store);
        const auto ids = file.projectors();
        const auto found = ids.find(projector);
        // A projector the file does not name yet has no history: -1 is no projector's id.
        const std::int64_t id = found == ids.end() ? -1 : found->second;
        const std::int64_t from = toMillis(range.from);
        const std::int64_t to = toMillis(range.to);

        json atStart = json::object();
        std::vector<HistoryRow> rows;
        Statement last(file,
                       "SELECT value FROM changes WHERE projector = ?1 AND key = ?2 AND time <= ?3 "
                       "ORDER BY time DESC, rowid DESC LIMIT 1");
        const auto startOf = [&](std::string_view key) {
            last.reset();
            last.bind(1, id).bind(2, key).bind(3, from);
            if (!last.step()) return;
            const auto value = last.maybe(0);
            atStart[std::string(key)] = key == "reach" ? json(reachWord(value)) : orNull(value);
            const char* name = key == "reach" ? reachWord(value) : valueName(state, key, value);
            rows.push_back({.time = range.from,
                            .kind = "start",
                            .key = std::string(key),
                            .value = field(value),
                            .name = name ? name : ""});
        };
        if (kinds.changes) {
            for (const fleet::WatchedValue& watched : fleet::watchedValues()) startOf(watched.key);
        }
        if (kinds.reachability) startOf("reach");

        json body = {{"projector", projector},
                     {"from", instantText(range.from)},
                     {"to", instantText(range.to)},
                     {"at_start", atStart}};
        if (kinds.changes) {
            json& changes = body["changes"] = json::array();
            Statement read(file,
                           "SELECT time, key, value FROM changes WHERE projector = ?1 AND "
                           "key <> 'reach' AND time > ?2 AND time <= ?3 ORDER BY time, rowid "
                           "LIMIT ?4");
            read.bind(1, id).bind(2, from).bind(3, to).bind(4, kMostRows);
            while (read.step()) {
                const std::string key = read.text(1);
                const auto value = read.maybe(2);
                const char* name = valueName(state, key, value);
                changes.push_back({{"time", instantText(read.time(0))},
                                   {"key", key},
                                   {"value", orNull(value)},
                                   {"name", orNull(name)}});
                rows.push_back({.time = read.time(0),
                                .kind = "change",
                                .key = key,
                                .value = field(value),
                                .name = name ? name : ""});
            }
        }
        if (kinds.reachability) {
            json& reachability = body["reachability"] = json::array();
            Statement read(file,
                           "SELECT time, value, note FROM changes WHERE projector = ?1 AND "
                           "key = 'reach' AND time > ?2 AND time <= ?3 ORDER BY time, rowid "
                           "LIMIT ?4");
            read.bind(1, id).bind(2, from).bind(3, to).bind(4, kMostRows);
            while (read.step()) {
                const auto value = read.maybe(1);
                reachability.push_back({{"time", instantText(read.time(0))},
                                        {"reach", reachWord(value)},
                                        {"reason", read.text(2)}});
                rows.push_back({.time = read.time(0),
                                .kind = "reachability",
                                .key = "reach",
                                .value = field(value),
                                .name = reachWord(value),
                                .result = read.text(2)});
            }
        }
        if (kinds.commands) {
            json& commands = body["commands"] = json::array();
            Statement read(file,
                           "SELECT time, source, who, operation, setting, value, ok, result "
                           "FROM commands WHERE projector = ?1 AND time > ?2 AND time <= ?3 "
                           "ORDER BY time, id LIMIT ?4");
            read.bind(1, id).bind(2, from).bind(3, to).bind(4, kMostRows);
            while (read.step()) {
                const bool ok = read.integer(6) != 0;
                commands.push_back({{"time", instantText(read.time(0))},
                                    {"source", read.text(1)},
                                    {"who", read.text(2)},
                                    {"operation", read.text(3)},
                                    {"setting", read.text(4)},
                                    {"value", orNull(read.maybe(5))},
                                    {"ok", ok},
                                    {"result", read.text(7)}});
                rows.push_back({.time = read.time(0),
                                .kind = "command",
                                .value = field(read.maybe(5)),
                                .source = read.text(1),
                                .who = read.text(2),
                                .operation = read.text(3),
                                .setting = read.text(4),
                                .ok = ok ? "true" : "false",
                                .result = read.text(7)});
            }
        }
        if (format == Format::Json) return jsonAnswer(body);

        // The kinds' rows merged oldest first, the state at the start before them.
        std::stable_sort(rows.begin(), rows.end(),
                         [](const HistoryRow& a, const HistoryRow& b) { return a.time < b.time; });
        Csv csv{"time", "kind",      "key",     "value", "name",  "source",
                "who",  "operation", "setting", "ok",    "result"};
        for (const HistoryRow& row : rows) {
            csv.row({instantText(row.time), row.kind, row.key, row.value, row.name, row.source,
                     row.who, row.operation, row.setting, row.ok, row.result});
        }
        return Answer{200, csv.text(), kCsvType, downloadName("history-" + projector, range, zone)};
    });
}

Answer auditLog(const Store& store, const fleet::Fleet& fleet, const Params& params,
                const date::time_zone* zone) {
    return answering([&] {
        const auto source = readSource(params);
        const auto projector = single(params, "projector");
        // Far past any log's end, yet the offset it makes stays a small number.
        const std::uint64_t page = readCount(params, "page", 1, 1000000000, 1);
        const std::uint64_t perPage = readCount(params, "per_page", 1, 1000, 100);
        const Format format = readFormat(params);
        const Range range = readRange(params, zone, wallNow(), 7 * 24h, store.retentionDays());
        if (projector) requireProjector(fleet, *projector);
        ReportFile file(store);

        std::optional<std::int64_t> id;
        if (projector) {
            const auto ids = file.projectors();
            const auto found = ids.find(*projector);
            id = found == ids.end() ? -1 : found->second;
        }
        // The CSV is every entry of the range, up to kMostRows; JSON one page and whether
        // there is another.
        const std::int64_t limit =
            format == Format::Csv ? kMostRows : static_cast<std::int64_t>(perPage) + 1;
        const std::int64_t offset =
            format == Format::Csv ? 0 : static_cast<std::int64_t>((page - 1) * perPage);
        std::string sql =
            "SELECT c.time, p.name, c.source, c.who, c.operation, c.setting, c.value, c.ok, "
            "c.result FROM commands c JOIN projectors p ON p.id = c.projector "
            "WHERE c.time > ?1 AND c.time <= ?2";
        if (source) sql += " AND c.source = ?3";
        if (id) sql += " AND c.projector = ?4";
        sql += " ORDER BY c.time DESC, c.id DESC LIMIT ?5 OFFSET ?6";
        Statement read(file, sql.c_str());
        read.bind(1, toMillis(range.from)).bind(2, toMillis(range.to));
        if (source) read.bind(3, *source);
        if (id) read.bind(4, *id);
        read.bind(5, limit).bind(6, offset);

        json entries = json::array();
        Csv csv{"time",    "projector", "source", "who",   "operation",
                "setting", "value",     "ok",     "result"};
        bool more = false;
        while (read.step()) {
            if (format == Format::Json && entries.size() == perPage) {
                more = true;
                break;
            }
            const bool ok = read.integer(7) != 0;
            const auto value = read.maybe(6);
            if (format == Format::Csv) {
                csv.row({instantText(read.time(0)), read.text(1), read.text(2), read.text(3),
                         read.text(4), read.text(5), field(value), ok ? "true" : "false",
                         read.text(8)});
                continue;
            }
            entries.push_back({{"time", instantText(read.time(0))},
                               {"projector", read.text(1)},
                               {"source", read.text(2)},
                               {"who", read.text(3)},
                               {"operation", read.text(4)},
                               {"setting", read.text(5)},
                               {"value", orNull(value)},
                               {"ok", ok},
                               {"result", read.text(8)}});
        }
        if (format == Format::Csv) {
            return Answer{200, csv.text(), kCsvType, downloadName("log", range, zone)};
        }
        return jsonAnswer(
            {{"entries", entries}, {"page", page}, {"per_page", perPage}, {"more", more}});
    });
}

}  // namespace zolvane::service::history
