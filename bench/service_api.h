// What the service benchmarks read from the service's HTTP API.
#pragma once

#include <httplib.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

namespace zolvane::bench {

// The body of a GET answered 200, parsed (a discarded value where it is no JSON).
inline std::optional<nlohmann::json> GetJson(httplib::Client& client, const std::string& path) {
    const auto answer = client.Get(path.c_str());
    if (!answer || answer->status != 200) return std::nullopt;
    return nlohmann::json::parse(answer->body, nullptr, false);
}

// How many projectors have the reach given; -1 when the list cannot be read.
inline int CountReach(httplib::Client& api, const std::string& reach) {
    const auto all = GetJson(api, "/api/projectors");
    if (!all || !all->is_object()) return -1;
    int count = 0;
    for (const auto& p : all->value("projectors", nlohmann::json::array())) {
        count += p.value("reach", "") == reach;
    }
    return count;
}

inline bool WaitForReach(httplib::Client& api, const std::string& reach, int count,
                         std::chrono::seconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (CountReach(api, reach) == count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
}

}  // namespace zolvane::bench
