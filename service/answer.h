// An answer to an API call built away from the HTTP server (the history's, the schedules'):
// status, body and its type, sent as it is.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "json_text.h"

namespace zolvane::service {

inline constexpr const char* kJsonType = "application/json; charset=utf-8";
inline constexpr const char* kCsvType = "text/csv; charset=utf-8";

struct Answer {
    int status = 200;
    std::string body;
    std::string contentType = kJsonType;
    std::string filename;  // set: offered as a download of this name
};

inline Answer jsonAnswer(const nlohmann::json& body, int status = 200) {
    return {status, jsonText(body), kJsonType, {}};
}

// A refusal as every error answer of the API: {"error": reason}.
inline Answer refusal(int status, const std::string& reason) {
    return jsonAnswer({{"error", reason}}, status);
}

}  // namespace zolvane::service
