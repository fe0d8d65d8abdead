// The closures reader on any bytes: never a crash, and either days or a fault, never both.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "clock.h"
#include "schedule/calendar.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const date::time_zone* const zone = zolvane::service::findZone("Europe/Berlin");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto closures = zolvane::service::schedule::readClosures(text, zone);
    if (!closures.fault.empty() && !closures.days.empty()) std::abort();
    return 0;
}
