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
    const std::string copy(text);
    for (const char* format : {"%FT%TZ", "%FT%T%Ez"}) {
        std::istringstream in(copy);
        date::sys_seconds time;
        in >> date::parse(format, time);
        if (in && in.peek() == std::char_traits<char>::eof()) return WallTime(time);
    }
    return {};
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
