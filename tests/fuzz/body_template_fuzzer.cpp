// A webhook's body template from any bytes: never a crash, and a template that parses renders
// JSON for any notification, here one whose texts hold what JSON must escape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "alert/body_template.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const nlohmann::json notification = {
        {"event", "resolved"},
        {"alert",
         {{"id", 7},
          {"rule", "r\"1"},
          {"kind", "offline"},
          {"projector", nullptr},
          {"schedule", "s\\off"},
          {"severity", "critical"},
          {"state", "resolved"},
          {"value", "\x7f\x1f"},
          {"sentence", "a\r\nb \xc0\x80 \xed\xa0\x80 \xf4\x90\x80\x80 \"}"},
          {"started", "2026-12-09T15:00:00.000Z"},
          {"changed", nullptr},
          {"resolved", 3.5},
          {"acknowledged_by", true}}},
        {"projector", nullptr},
        {"sentence", "</script>\u2028\t{{sentence}}"}};
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string fault;
    const auto body = zolvane::service::alert::BodyTemplate::parse(text, &fault);
    if (!body) {
        if (fault.empty()) std::abort();
        return 0;
    }
    if (!nlohmann::json::accept(body->render(notification))) std::abort();
    return 0;
}
