// JSON text of anything that may hold a peer's bytes: a string that is not UTF-8 is written
// with U+FFFD in place of each ill-formed byte instead of throwing.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace zolvane::service {

inline std::string jsonText(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace zolvane::service
