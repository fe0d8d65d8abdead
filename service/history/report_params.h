// The readings' query parameters, checked before any file is opened. Every value comes from a
// request and may be anything: a key given twice, bytes that are not UTF-8, a NUL, a megabyte.
// Each reader throws Refused with the status and the reason the API answers with.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "answer.h"
#include "clock.h"
#include "history/queries.h"

namespace date {
class time_zone;
}

namespace zolvane::service::history {

struct Refused : std::runtime_error {
    Refused(int status, const std::string& reason) : std::runtime_error(reason), status(status) {}
    int status;
};

// What made answers the refusal it threw.
template <class Make>
Answer answering(Make&& make) {
    try {
        return make();
    } catch (const Refused& refused) {
        return refusal(refused.status, refused.what());
    }
}

// The one value of key, or empty when the request has none. Refused (400) when it is given
// twice, is not plain text (ill-formed UTF-8, a NUL, a control character) or is longer than
// any good value.
std::optional<std::string> single(const Params& params, std::string_view key);

// An instant as a request gives it: RFC 3339 ("2026-12-01T10:00:00Z", "...+01:00") or a date
// ("2026-12-01") meaning midnight of that day in zone (UTC when null). Empty when neither.
std::optional<WallTime> parseWhen(std::string_view text, const date::time_zone* zone);

// The range a reading covers: events after `from` and at or before `to`.
struct Range {
    WallTime from;
    WallTime to;
};

// `from` and `to`: to defaults to now, from to `span` before to. Refused when either does not
// read, from is after to, or the range is longer than the history keeps.
Range readRange(const Params& params, const date::time_zone* zone, WallTime now,
                std::chrono::hours span, unsigned retentionDays);

enum class Format { Json, Csv };
Format readFormat(const Params& params);

// A whole number of key within min..max, or fallback when it is absent.
std::uint64_t readCount(const Params& params, std::string_view key, std::uint64_t min,
                        std::uint64_t max, std::uint64_t fallback);

// What a projector's history holds; `kind` is a comma list of them, all when absent.
struct Kinds {
    bool changes = true;
    bool reachability = true;
    bool commands = true;
};
Kinds readKinds(const Params& params);

// `source`: one of the front ends that give commands, or empty for all.
std::optional<std::string> readSource(const Params& params);

// The day of time in zone (UTC when null), "2026-12-01": for the names of downloads.
std::string dayText(WallTime time, const date::time_zone* zone);

}  // namespace zolvane::service::history
