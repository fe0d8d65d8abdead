// The history readings' query parameters of any bytes, as the API reads them before the file is
// opened, and every value written as a CSV field. Whatever comes, a reader either answers or
// refuses with 400 and a reason in UTF-8; a range it answers runs forwards and fits the history;
// a CSV field is UTF-8 without NUL, quoted when it must be, and never starts a formula.
//
// Input: one control byte (bits 0-2: the zone, bits 3-7: the days the history keeps), then
// key=value pairs separated by '&', as they are once the query's %-escapes are decoded.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "clock.h"
#include "history/csv.h"
#include "history/report_params.h"
#include "zolvane_fleet/text.h"

namespace {

namespace history = zolvane::service::history;
using namespace std::chrono_literals;

void require(bool condition) {
    if (!condition) std::abort();
}

// Runs one reader: what it throws must be a 400 with a reason in UTF-8.
template <class Read>
void reading(Read&& read) {
    try {
        read();
    } catch (const history::Refused& refused) {
        require(refused.status == 400);
        require(zolvane::fleet::validUtf8(refused.what()));
    }
}

void checkField(std::string_view value) {
    const std::string field = history::csvField(value);
    require(zolvane::fleet::validUtf8(field));
    require(field.find('\0') == std::string::npos);
    const bool quoted = field.size() >= 2 && field.front() == '"' && field.back() == '"';
    require(quoted || field.find_first_of(",\"\r\n") == std::string::npos);
    const std::string_view inner =
        quoted ? std::string_view(field).substr(1, field.size() - 2) : std::string_view(field);
    if (!inner.empty() && std::string_view("=+@\t\r").find(inner.front()) != std::string::npos) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const kZones[] = {
        nullptr,        "UTC",          "Europe/Berlin",    "America/Santiago",
        "Pacific/Apia", "Asia/Kolkata", "America/New_York", "Australia/Lord_Howe"};
    const char* zoneName = kZones[data[0] & 7];
    const date::time_zone* zone = zoneName ? zolvane::service::findZone(zoneName) : nullptr;
    const unsigned retention = 1 + (data[0] >> 3) * 20u;

    history::Params params;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    while (!rest.empty()) {
        const std::string_view pair = rest.substr(0, rest.find('&'));
        const std::size_t equals = pair.find('=');
        params.emplace(std::string(pair.substr(0, equals)),
                       equals == std::string_view::npos ? std::string()
                                                        : std::string(pair.substr(equals + 1)));
        checkField(pair);
        rest.remove_prefix(std::min(rest.size(), pair.size() + 1));
    }

    const zolvane::service::WallTime now = zolvane::service::WallClock::now();
    for (const auto span : {7 * 24h, 30 * 24h}) {
        reading([&] {
            const history::Range range = history::readRange(params, zone, now, span, retention);
            require(range.from <= range.to);
            require(range.to - range.from <= std::chrono::hours(24) * retention);
            require(zolvane::fleet::validUtf8(zolvane::service::instantText(range.from)));
            require(zolvane::fleet::validUtf8(history::dayText(range.to, zone)));
        });
    }
    reading([&] { history::readKinds(params); });
    reading([&] { history::readFormat(params); });
    reading([&] { history::readSource(params); });
    reading([&] {
        const auto page = history::readCount(params, "page", 1, 1000000000, 1);
        require(page >= 1 && page <= 1000000000);
    });
    for (const char* key : {"projector", "group"}) {
        reading([&] {
            if (const auto value = history::single(params, key)) {
                require(zolvane::fleet::plainText(*value));
            }
        });
    }
    return 0;
}
