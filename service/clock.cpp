#include "clock.h"

#include <date/date.h>
#include <date/tz.h>

#include <cstdlib>
#include <sstream>
#include <string>

namespace zolvane::service {
namespace {

// Set once before the threads start, read only after.
std::optional<WallClock::duration> offset;

}  // namespace

WallTime wallNow() {
    const WallTime now = WallClock::now();
    return offset ? now + *offset : now;
}

void startWallClockAt(WallTime start) { offset = start - WallClock::now(); }

std::optional<WallTime> parseInstant(std::string_view text) {
    if (text.size() < 20 || text.size() > 40) return {};
    // The years a wall-clock time point (nanoseconds since 1970 in 64 bits) holds with room to
    // spare; outside them the conversion would overflow.
    int year = 0;
    for (const char c : text.substr(0, 4)) {
        if (c < '0' || c > '9') return {};
        year = year * 10 + (c - '0');
    }
    if (year < 1900 || year > 2200) return {};
    // A fraction of a second ("12:00:00.250Z") is read to the millisecond and the rest dropped.
    std::string copy(text);
    std::chrono::milliseconds fraction{0};
    if (copy.size() > 19 && copy[19] == '.') {
        std::size_t end = 20;
        int scale = 100;
        while (end < copy.size() && copy[end] >= '0' && copy[end] <= '9') {
            fraction += std::chrono::milliseconds((copy[end] - '0') * scale);
            scale /= 10;
            ++end;
        }
        if (end == 20) return {};
        copy.erase(19, end - 19);
    }
    for (const char* format : {"%FT%TZ", "%FT%T%Ez"}) {
        std::istringstream in(copy);
        date::sys_seconds time;
        in >> date::parse(format, time);
        if (in && in.peek() == std::char_traits<char>::eof()) return WallTime(time) + fraction;
    }
    return {};
}

std::string instantText(WallTime time) {
    return date::format("%FT%TZ", date::floor<std::chrono::seconds>(time));
}

const date::time_zone* findZone(std::string_view name) {
    const auto locate = [](std::string_view wanted) -> const date::time_zone* {
        if (wanted.empty() || wanted.size() > 64 || wanted.find('\0') != std::string_view::npos) {
            return nullptr;
        }
        try {
            return date::locate_zone(wanted);
        } catch (const std::exception&) {
            return nullptr;
        }
    };
    if (!name.empty()) return locate(name);
    if (const char* tz = std::getenv("TZ")) {
        std::string_view wanted(tz);
        if (!wanted.empty() && wanted.front() == ':') wanted.remove_prefix(1);
        if (const date::time_zone* zone = locate(wanted)) return zone;
    }
    try {
        return date::current_zone();
    } catch (const std::exception&) {
        return locate("UTC");
    }
}

}  // namespace zolvane::service
