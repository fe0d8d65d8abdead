#include "history/report_params.h"

#include <date/date.h>
#include <date/tz.h>

#include <array>
#include <iterator>
#include <span>

#include "zolvane_fleet/text.h"

namespace zolvane::service::history {
namespace {

using namespace std::chrono_literals;

// Longer than any good value of any parameter: a projector's or group's name is the longest.
constexpr std::size_t kLongestValue = 200;

std::string named(std::string_view key) { return "the parameter \"" + std::string(key) + "\""; }

bool digits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

int number(std::string_view text) {
    int value = 0;
    for (const char c : text) value = value * 10 + (c - '0');
    return value;
}

// The years a wall-clock time point (nanoseconds since 1970 in 64 bits) holds with room to
// spare; an instant outside them is refused before it is converted, which would overflow.
constexpr int kFirstYear = 1900;
constexpr int kLastYear = 2200;

bool yearInRange(std::string_view text) {
    if (text.size() < 4 || !digits(text.substr(0, 4))) return false;
    const int year = number(text.substr(0, 4));
    return year >= kFirstYear && year <= kLastYear;
}

std::optional<WallTime> parseDay(std::string_view text, const date::time_zone* zone) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !digits(text.substr(5, 2)) ||
        !digits(text.substr(8, 2))) {
        return {};
    }
    const date::year_month_day day{date::year(number(text.substr(0, 4))),
                                   date::month(static_cast<unsigned>(number(text.substr(5, 2)))),
                                   date::day(static_cast<unsigned>(number(text.substr(8, 2))))};
    if (!day.ok()) return {};
    const date::local_seconds midnight{date::local_days(day).time_since_epoch()};
    if (!zone) return WallTime(midnight.time_since_epoch());
    // A midnight that the clocks skip is the moment they jump; one they pass twice, the first.
    return WallTime(zone->to_sys(midnight, date::choose::earliest));
}

std::string list(std::span<const std::string_view> words) {
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i) text += i + 1 == words.size() ? " or " : ", ";
        text += words[i];
    }
    return text;
}

}  // namespace

std::optional<std::string> single(const Params& params, std::string_view key) {
    const auto [first, last] = params.equal_range(std::string(key));
    if (first == last) return {};
    if (std::next(first) != last) throw Refused(400, named(key) + " is given more than once");
    const std::string& value = first->second;
    if (value.size() > kLongestValue) throw Refused(400, named(key) + " is too long");
    if (!fleet::plainText(value)) throw Refused(400, named(key) + " is not plain text");
    return value;
}

std::optional<WallTime> parseWhen(std::string_view text, const date::time_zone* zone) {
    if (!yearInRange(text)) return {};
    if (text.size() == 10) return parseDay(text, zone);
    // A '+' typed into a query string arrives as a space: "...T11:00:00 01:00".
    if (text.size() > 6 && text[text.size() - 6] == ' ') {
        std::string offset(text);
        offset[offset.size() - 6] = '+';
        return parseInstant(offset);
    }
    return parseInstant(text);
}

Range readRange(const Params& params, const date::time_zone* zone, WallTime now,
                std::chrono::hours span, unsigned retentionDays) {
    const auto read = [&](std::string_view key) -> std::optional<WallTime> {
        const auto text = single(params, key);
        if (!text) return {};
        const auto when = parseWhen(*text, zone);
        if (!when) {
            throw Refused(400, named(key) +
                                   " is neither a time (2026-12-01T10:00:00Z, "
                                   "2026-12-01T11:00:00+01:00) nor a day (2026-12-01)");
        }
        return when;
    };
    const auto from = read("from");
    const auto to = read("to");
    Range range;
    range.to = to ? *to : now;
    range.from = from ? *from : range.to - span;
    if (range.from > range.to) throw Refused(400, "from is after to");
    if (range.to - range.from > std::chrono::hours(24) * retentionDays) {
        throw Refused(400, "the range is longer than the " + std::to_string(retentionDays) +
                               " days the history keeps");
    }
    return range;
}

Format readFormat(const Params& params) {
    const auto text = single(params, "format");
    if (!text || *text == "json") return Format::Json;
    if (*text == "csv") return Format::Csv;
    throw Refused(400, named("format") + " is neither json nor csv");
}

std::uint64_t readCount(const Params& params, std::string_view key, std::uint64_t min,
                        std::uint64_t max, std::uint64_t fallback) {
    const auto text = single(params, key);
    if (!text) return fallback;
    std::uint64_t value = 0;
    bool fits = digits(*text) && text->size() <= 18;  // below 10^18: no overflow
    if (fits) {
        for (const char c : *text) value = value * 10 + static_cast<std::uint64_t>(c - '0');
        fits = value >= min && value <= max;
    }
    if (!fits) {
        throw Refused(400, named(key) + " is not a whole number from " + std::to_string(min) +
                               " to " + std::to_string(max));
    }
    return value;
}

Kinds readKinds(const Params& params) {
    const auto text = single(params, "kind");
    if (!text) return {};
    static constexpr std::array<std::string_view, 3> kNames{"changes", "reachability", "commands"};
    Kinds kinds{false, false, false};
    std::string_view rest = *text;
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view word = rest.substr(0, comma);
        if (word == kNames[0]) {
            kinds.changes = true;
        } else if (word == kNames[1]) {
            kinds.reachability = true;
        } else if (word == kNames[2]) {
            kinds.commands = true;
        } else {
            throw Refused(400, named("kind") + " names \"" + std::string(word) +
                                   "\", which is not " + list(kNames));
        }
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return kinds;
}

std::optional<std::string> readSource(const Params& params) {
    static constexpr std::array<std::string_view, 4> kSources{"http", "mqtt", "pjlink", "schedule"};
    auto text = single(params, "source");
    if (!text) return {};
    for (const std::string_view source : kSources) {
        if (*text == source) return text;
    }
    throw Refused(400, named("source") + " is not " + list(kSources));
}

std::string dayText(WallTime time, const date::time_zone* zone) {
    const auto seconds = date::floor<std::chrono::seconds>(time);
    if (!zone) return date::format("%F", seconds);
    return date::format("%F", date::zoned_time<std::chrono::seconds>(zone, seconds));
}

}  // namespace zolvane::service::history
