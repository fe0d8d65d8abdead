#include "schedule/calendar.h"

#include <date/tz.h>
#include <libical/ical.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "command_request.h"
#include "zolvane_fleet/inventory_section.h"
#include "zolvane_fleet/text.h"

namespace zolvane::service::schedule {
namespace {

using fleet::inQuotes;
using nlohmann::json;
using std::chrono::minutes;

constexpr std::string_view kDayNames[7] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

// How far the calendar looks for a run before it says there is none: skip dates and closures
// could otherwise cover every day there is.
constexpr int kDaysSearched = 4 * 366;

// The bounds on what one closures file may cost: its size, its events, the repetitions of all
// of them together, and the days they close.
constexpr std::size_t kLargestClosures = std::size_t{4} * 1024 * 1024;
constexpr std::size_t kMostEvents = 10000;
constexpr std::size_t kMostRepetitions = 100000;
constexpr std::size_t kMostExcluded = 1000;  // EXDATEs of one event
constexpr std::size_t kMostDays = 20000;
// Days gone through, counted again where events overlap: long events repeated many times a day
// would otherwise cost far more than the days they close.
constexpr std::size_t kMostDaysVisited = 2000000;

// "YYYY-MM-DD" of a day that exists; empty otherwise.
std::optional<date::local_days> calendarDay(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return {};
    for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (text[i] < '0' || text[i] > '9') return {};
    }
    const auto number = [&](std::size_t at, std::size_t length) {
        int n = 0;
        for (std::size_t i = at; i < at + length; ++i) n = n * 10 + (text[i] - '0');
        return n;
    };
    const date::year_month_day day{date::year(number(0, 4)),
                                   date::month(static_cast<unsigned>(number(5, 2))),
                                   date::day(static_cast<unsigned>(number(8, 2)))};
    if (!day.ok()) return {};
    return date::local_days(day);
}

// A TOML value as the JSON the API would have been sent; dates and times become their text.
json toJson(const toml::node& node) {
    if (const auto* t = node.as_table()) {
        json object = json::object();
        for (const auto& [key, value] : *t) object[std::string(key.str())] = toJson(value);
        return object;
    }
    if (const auto* a = node.as_array()) {
        json array = json::array();
        for (const auto& value : *a) array.push_back(toJson(value));
        return array;
    }
    if (const auto* s = node.as_string()) return s->get();
    if (const auto* i = node.as_integer()) return i->get();
    if (const auto* f = node.as_floating_point()) return f->get();
    if (const auto* b = node.as_boolean()) return b->get();
    std::ostringstream text;
    if (const auto* d = node.as_date()) text << d->get();
    if (const auto* t = node.as_time()) text << t->get();
    if (const auto* dt = node.as_date_time()) text << dt->get();
    return text.str();
}

// The file's text, at most the closures' bound; empty with why when it cannot be had.
std::optional<std::string> readFile(const std::string& path, std::string* why) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        *why = error ? error.message() : "not a regular file";
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = std::strerror(errno);
        return {};
    }
    std::string text(kLargestClosures + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// An iCalendar time as an instant: UTC and zoned times as they say, a floating time (no zone
// libical knows) in the schedule's zone.
std::optional<WallTime> instantOf(icaltimetype time, const date::time_zone* zone) {
    if (icaltime_is_null_time(time) || !icaltime_is_valid_time(time)) return {};
    if (!icaltime_is_utc(time) && time.zone != nullptr) {
        time = icaltime_convert_to_zone(time, icaltimezone_get_utc_timezone());
    }
    const date::year_month_day day{date::year(time.year),
                                   date::month(static_cast<unsigned>(time.month)),
                                   date::day(static_cast<unsigned>(time.day))};
    if (!day.ok()) return {};
    const auto clock = std::chrono::hours(time.hour) + minutes(time.minute) +
                       std::chrono::seconds(std::min(time.second, 59));
    if (icaltime_is_utc(time)) return WallTime(date::sys_days(day) + clock);
    const date::local_seconds local = date::local_days(day) + clock;
    const date::local_info info = zone->get_info(local);
    if (info.result == date::local_info::nonexistent) return WallTime(info.second.begin);
    return WallTime(date::sys_seconds((local - info.first.offset).time_since_epoch()));
}

std::optional<date::local_days> dayOf(icaltimetype time) {
    if (icaltime_is_null_time(time)) return {};
    const date::year_month_day day{date::year(time.year),
                                   date::month(static_cast<unsigned>(time.month)),
                                   date::day(static_cast<unsigned>(time.day))};
    if (!day.ok()) return {};
    return date::local_days(day);
}

date::local_days localDay(WallTime time, const date::time_zone* zone) {
    return date::floor<date::days>(zone->to_local(time));
}

// Collects the days of the calendar's events; false with why when a bound was passed.
class DayCollector {
public:
    DayCollector(Closures& into, const date::time_zone* zone) : into_(into), zone_(zone) {}

    // The days of one occurrence that starts at `start` and lasts `length` (all-day: whole days,
    // the end not among them; timed: every day it touches).
    bool occurrence(icaltimetype start, std::chrono::seconds length) {
        std::optional<date::local_days> first, last;
        if (start.is_date) {
            first = dayOf(start);
            if (first) {
                const auto days = std::max<date::days::rep>(
                    1, date::floor<date::days>(length + std::chrono::hours(23)).count());
                last = *first + date::days(days - 1);
            }
        } else if (const auto begins = instantOf(start, zone_)) {
            first = localDay(*begins, zone_);
            const auto ends =
                *begins + std::max(std::chrono::seconds(1), length) - std::chrono::seconds(1);
            last = localDay(ends, zone_);
        }
        if (!first) return true;  // a date that does not exist closes nothing
        if (*last - *first > date::days(kMostDays)) return fail("an event of more than 20000 days");
        visited_ += static_cast<std::size_t>((*last - *first).count()) + 1;
        if (visited_ > kMostDaysVisited) return fail("events overlapping too often");
        for (auto day = *first; day <= *last; day += date::days(1)) {
            into_.days.insert(day);
            if (into_.days.size() > kMostDays) return fail("more than 20000 closed days");
        }
        return true;
    }

    // One more repetition gone through, taken or left out; false past the bound.
    bool step() {
        return ++repetitions_ <= kMostRepetitions || fail("more than 100000 repetitions");
    }

    bool fail(std::string why) {
        into_.fault = std::move(why);
        return false;
    }

private:
    Closures& into_;
    const date::time_zone* zone_;
    std::size_t repetitions_ = 0;
    std::size_t visited_ = 0;
};

struct Component {
    explicit Component(icalcomponent* c) : c(c) {}
    ~Component() {
        if (c) icalcomponent_free(c);
    }
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;
    icalcomponent* c;
};

struct Iterator {
    explicit Iterator(icalrecur_iterator* i) : i(i) {}
    ~Iterator() {
        if (i) icalrecur_iterator_free(i);
    }
    Iterator(const Iterator&) = delete;
    Iterator& operator=(const Iterator&) = delete;
    icalrecur_iterator* i;
};

icaltimetype icalTimeOf(WallTime time, bool isDate) {
    icaltimetype t = icaltime_from_timet_with_zone(std::chrono::system_clock::to_time_t(time),
                                                   isDate ? 1 : 0, icaltimezone_get_utc_timezone());
    return t;
}

// The days of one event: its start, and every repetition of its rule up to the horizon.
bool eventDays(icalcomponent* event, DayCollector& collect, WallTime horizon,
               const date::time_zone* zone) {
    const icaltimetype start = icalcomponent_get_dtstart(event);
    if (icaltime_is_null_time(start)) return true;  // nothing to close
    const icaltimetype end = icalcomponent_get_dtend(event);
    std::chrono::seconds length{0};
    if (!icaltime_is_null_time(end)) {
        if (start.is_date) {
            const auto a = dayOf(start);
            const auto b = dayOf(end);
            if (a && b && *b > *a) length = *b - *a;
        } else {
            const auto a = instantOf(start, zone);
            const auto b = instantOf(end, zone);
            if (a && b && *b > *a) length = date::floor<std::chrono::seconds>(*b - *a);
        }
    } else if (start.is_date) {
        length = date::days(1);
    }

    icalproperty* rule = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY);
    if (!rule) return collect.step() && collect.occurrence(start, length);
    const icalrecurrencetype recurrence = icalproperty_get_rrule(rule);
    Iterator iterator(icalrecur_iterator_new(recurrence, start));
    if (!iterator.i) return collect.step() && collect.occurrence(start, length);
    // A long-running rule without a count is taken up a year back, not from its first day.
    const WallTime from = horizon - date::days(3 * 366);
    const auto begins = instantOf(start, zone);
    if (recurrence.count == 0 && begins && *begins < from) {
        icalrecur_iterator_set_start(iterator.i, icalTimeOf(from, start.is_date));
    }
    // The repetitions the event leaves out: by their day, or by their instant.
    std::set<date::local_days> excludedDays;
    std::set<WallTime> excludedInstants;
    std::size_t exclusions = 0;
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY);
         p && ++exclusions <= kMostExcluded;
         p = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY)) {
        const icaltimetype ex = icalproperty_get_exdate(p);
        if (ex.is_date) {
            if (const auto day = dayOf(ex)) excludedDays.insert(*day);
        } else if (const auto instant = instantOf(ex, zone)) {
            excludedInstants.insert(*instant);
        }
    }
    while (collect.step()) {
        const icaltimetype next = icalrecur_iterator_next(iterator.i);
        if (icaltime_is_null_time(next)) return true;
        std::optional<WallTime> at;
        if (!next.is_date) {
            at = instantOf(next, zone);
        } else if (const auto day = dayOf(next)) {
            at = WallTime(date::sys_days(day->time_since_epoch()));
        }
        if (!at || *at > horizon) return true;
        const auto day = dayOf(next);
        if ((day && excludedDays.contains(*day)) ||
            (!next.is_date && excludedInstants.contains(*at))) {
            continue;
        }
        if (!collect.occurrence(next, length)) return false;
    }
    return false;
}

struct Pending {
    Schedule schedule;
    std::optional<toml::source_region> targets;
    std::optional<toml::source_region> closures;
    bool ownZone = false;
    bool ownCatchUp = false;
    bool sound = true;
};

class Reader final : public fleet::InventorySection {
public:
    Reader(const Settings& service, std::vector<Schedule>& into) : service_(service), into_(into) {}

    bool table(const toml::key& key, const toml::node& node,
               fleet::InventoryChecks& checks) override {
        if (key.str() != "schedule") return false;
        for (const toml::table* schedule : checks.tables(key, node)) read(*schedule, checks);
        return true;
    }

    void projectorRead(const fleet::ProjectorEntry& entry, const toml::table&,
                       fleet::InventoryChecks&) override {
        projectors_.push_back({entry.name, entry.groups});
    }

    void finish(fleet::InventoryChecks& checks) override {
        for (Pending& pending : pending_) {
            Schedule& schedule = pending.schedule;
            if (!pending.ownZone) {
                LocalZone zone = serviceZone(service_);
                schedule.zone = zone.zone;
                schedule.zoneName = std::move(zone.name);
            }
            if (!pending.ownCatchUp) schedule.catchUp = service_.catchUp;
            if (pending.targets) resolveTargets(pending, *pending.targets, checks);
            if (pending.closures && schedule.zone) {
                std::string why;
                const auto text = readFile(schedule.closures, &why);
                if (!text) {
                    checks.fault(*pending.closures, "closures " + inQuotes(schedule.closures) +
                                                        " cannot be read: " + why);
                    pending.sound = false;
                } else {
                    Closures read = readClosures(*text, schedule.zone);
                    if (!read.fault.empty()) {
                        checks.fault(*pending.closures,
                                     "closures " + inQuotes(schedule.closures) + ": " + read.fault);
                        pending.sound = false;
                    }
                    schedule.skipDates.insert(read.days.begin(), read.days.end());
                }
            }
            if (pending.sound && schedule.zone) into_.push_back(std::move(schedule));
        }
        pending_.clear();
    }

private:
    void read(const toml::table& table, fleet::InventoryChecks& checks) {
        Pending& pending = pending_.emplace_back();
        Schedule& schedule = pending.schedule;
        schedule.line = table.source().begin.line;
        schedule.days.fill(true);
        const auto bad = [&](const toml::source_region& where, std::string reason) {
            checks.fault(where, std::move(reason));
            pending.sound = false;
        };
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            if (name == "name") {
                const auto text = checks.string(key, node);
                if (!text) {
                    pending.sound = false;
                } else if (!validName(*text)) {
                    bad(node.source(), "schedule name " + inQuotes(*text) +
                                           " must be 1 to 64 letters, digits, '.', '_' or '-'");
                } else if (std::any_of(pending_.begin(), pending_.end() - 1, [&](const Pending& p) {
                               return p.schedule.name == *text;
                           })) {
                    bad(node.source(), "schedule " + inQuotes(*text) + " is named twice");
                } else {
                    schedule.name = *text;
                }
            } else if (name == "targets") {
                const auto list = checks.strings(key, node);
                if (!list || list->empty()) {
                    if (list) bad(node.source(), "\"targets\" must name a projector or group");
                    pending.sound = false;
                } else {
                    schedule.targets = *list;
                    pending.targets = node.source();
                }
            } else if (name == "days") {
                readDays(key, node, pending, checks);
            } else if (name == "at") {
                const auto list = checks.strings(key, node);
                if (!list || list->empty()) {
                    if (list) bad(node.source(), "\"at\" must give a time");
                    pending.sound = false;
                    continue;
                }
                for (const std::string& text : *list) {
                    const auto time = timeOfDay(text);
                    if (!time) {
                        bad(node.source(),
                            "time " + inQuotes(text) + " is not HH:MM (00:00 to 23:59)");
                    } else {
                        schedule.at.push_back(*time);
                    }
                }
                std::sort(schedule.at.begin(), schedule.at.end());
                schedule.at.erase(std::unique(schedule.at.begin(), schedule.at.end()),
                                  schedule.at.end());
            } else if (name == "command") {
                const toml::table* command = node.as_table();
                if (!command) {
                    bad(node.source(), "\"command\" must be a table, as the API's command body");
                    continue;
                }
                schedule.commandBody = toJson(*command);
                const CheckedCommand checked = commandFromBody(schedule.commandBody.dump());
                if (!checked.command) {
                    bad(node.source(), "\"command\" is refused: " + checked.fault.reason);
                } else {
                    schedule.command = *checked.command;
                }
            } else if (name == "skip_dates") {
                const auto list = checks.strings(key, node);
                if (!list) {
                    pending.sound = false;
                    continue;
                }
                for (const std::string& text : *list) {
                    if (const auto day = calendarDay(text)) {
                        schedule.skipDates.insert(*day);
                        schedule.skipWritten.push_back(text);
                    } else {
                        bad(node.source(), "skip date " + inQuotes(text) + " is not YYYY-MM-DD");
                    }
                }
            } else if (name == "closures") {
                const auto text = checks.string(key, node);
                if (!text || text->empty() || text->find('\0') != std::string::npos) {
                    if (text) bad(node.source(), "\"closures\" must name a file");
                    pending.sound = false;
                } else {
                    schedule.closures = *text;
                    pending.closures = node.source();
                }
            } else if (name == "timezone") {
                const auto text = checks.string(key, node);
                if (!text) {
                    pending.sound = false;
                } else if (!(schedule.zone = namedZone(*text))) {
                    bad(node.source(), unknownZone(*text));
                } else {
                    schedule.zoneName = *text;
                    pending.ownZone = true;
                }
            } else if (name == "catch_up_minutes") {
                if (const auto v = checks.integer(key, node, 0, 1440)) {
                    schedule.catchUp = minutes(*v);
                    pending.ownCatchUp = true;
                } else {
                    pending.sound = false;
                }
            } else {
                checks.unknownKey(key, node, " in [[schedule]]");
                pending.sound = false;
            }
        }
        const std::string which =
            schedule.name.empty() ? "[[schedule]]" : "schedule " + inQuotes(schedule.name);
        for (const char* required : {"name", "targets", "at", "command"}) {
            if (!table.contains(required)) {
                bad(table.source(), which + " needs " + inQuotes(required));
            }
        }
        schedule.command.origin = {"schedule", schedule.name};
    }

    void readDays(const toml::key& key, const toml::node& node, Pending& pending,
                  fleet::InventoryChecks& checks) {
        const auto list = checks.strings(key, node);
        if (!list || list->empty()) {
            if (list) checks.fault(node.source(), "\"days\" must name a day");
            pending.sound = false;
            return;
        }
        std::array<bool, 7> days{};
        for (const std::string& word : *list) {
            if (word == "daily") {
                days.fill(true);
            } else if (word == "weekdays") {
                for (int d = 1; d <= 5; ++d) days[d] = true;
            } else if (word == "weekends") {
                days[0] = days[6] = true;
            } else if (const auto at = std::find(std::begin(kDayNames), std::end(kDayNames), word);
                       at != std::end(kDayNames)) {
                days[at - std::begin(kDayNames)] = true;
            } else {
                checks.fault(node.source(),
                             "day " + inQuotes(word) +
                                 " is not mon, tue, wed, thu, fri, sat, sun, daily, weekdays or "
                                 "weekends");
                pending.sound = false;
            }
        }
        pending.schedule.days = days;
    }

    void resolveTargets(Pending& pending, const toml::source_region& where,
                        fleet::InventoryChecks& checks) {
        Schedule& schedule = pending.schedule;
        schedule.projectors =
            fleet::resolveTargets(schedule.targets, projectors_, [&](const std::string& reason) {
                checks.fault(where, reason + " for schedule " + inQuotes(schedule.name));
                pending.sound = false;
            });
    }

    const Settings& service_;
    std::vector<Schedule>& into_;
    std::vector<Pending> pending_;
    std::vector<fleet::TargetedProjector> projectors_;
};

}  // namespace

const date::time_zone* namedZone(const std::string& name) {
    return name.empty() ? nullptr : findZone(name);
}

std::string unknownZone(const std::string& name) {
    return "time zone " + fleet::inQuotes(name) +
           " is not in the system's zone database (e.g. \"Europe/Berlin\", \"UTC\")";
}

LocalZone serviceZone(const Settings& service) {
    const date::time_zone* zone = findZone(service.timezone);
    if (!zone) zone = findZone("");
    return {zone, zone ? std::string(zone->name()) : "UTC"};
}

bool validName(std::string_view name) {
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    });
}

std::optional<minutes> timeOfDay(std::string_view text) {
    if (text.size() != 5 || text[2] != ':') return {};
    for (const std::size_t i : {0, 1, 3, 4}) {
        if (text[i] < '0' || text[i] > '9') return {};
    }
    const int hours = (text[0] - '0') * 10 + (text[1] - '0');
    const int mins = (text[3] - '0') * 10 + (text[4] - '0');
    if (hours > 23 || mins > 59) return {};
    return minutes(hours * 60 + mins);
}

std::optional<WallTime> nextRun(const Schedule& schedule, WallTime after) {
    if (!schedule.zone || schedule.at.empty()) return {};
    const date::local_days first = localDay(after, schedule.zone);
    for (int offset = 0; offset < kDaysSearched; ++offset) {
        const date::local_days day = first + date::days(offset);
        if (!schedule.days[date::weekday(day).c_encoding()] || schedule.skipDates.contains(day)) {
            continue;
        }
        for (const minutes at : schedule.at) {
            const date::local_seconds local = day + at;
            const date::local_info info = schedule.zone->get_info(local);
            // A time the change to summer time skips runs at the first minute after the gap; a
            // time the change back passes twice runs at the first of the two only.
            const WallTime run =
                info.result == date::local_info::nonexistent
                    ? WallTime(info.second.begin)
                    : WallTime(date::sys_seconds((local - info.first.offset).time_since_epoch()));
            if (run > after) return run;
        }
    }
    return {};
}

Closures readClosures(std::string_view text, const date::time_zone* zone) {
    Closures closures;
    if (!zone) return {{}, "no time zone"};
    if (text.size() > kLargestClosures) return {{}, "larger than 4 MiB: not a calendar"};
    if (text.find('\0') != std::string_view::npos) return {{}, "holds a NUL byte: not a calendar"};
    if (!fleet::validUtf8(text)) return {{}, "is not UTF-8: not a calendar"};
    const std::string copy(text);
    icalerror_set_errors_are_fatal(0);  // a bad calendar is a fault of the file, never an abort
    Component root(icalparser_parse_string(copy.c_str()));
    if (!root.c || icalcomponent_isa(root.c) != ICAL_VCALENDAR_COMPONENT) {
        return {{}, "is not an iCalendar file (BEGIN:VCALENDAR ... END:VCALENDAR)"};
    }
    DayCollector collect(closures, zone);
    const WallTime horizon = wallNow() + date::days(2 * 366);
    std::size_t events = 0;
    for (icalcomponent* event = icalcomponent_get_first_component(root.c, ICAL_VEVENT_COMPONENT);
         event; event = icalcomponent_get_next_component(root.c, ICAL_VEVENT_COMPONENT)) {
        if (++events > kMostEvents) {
            collect.fail("more than 10000 events");
            break;
        }
        if (!eventDays(event, collect, horizon, zone)) break;
    }
    if (!closures.fault.empty()) closures.days.clear();
    return closures;
}

std::unique_ptr<fleet::InventorySection> schedulesReader(const Settings& service,
                                                         std::vector<Schedule>& into) {
    return std::make_unique<Reader>(service, into);
}

}  // namespace zolvane::service::schedule
