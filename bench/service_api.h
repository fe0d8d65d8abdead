// What the service benchmarks read from the service's HTTP API.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
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

// An API time stamp ("2026-12-08T06:30:12.345Z") in milliseconds since the epoch; -1 for null
// or anything else.
inline long long StampMs(const nlohmann::json& stamp) {
    if (!stamp.is_string()) return -1;
    std::tm t{};
    int ms = 0;
    if (std::sscanf(stamp.get_ref<const std::string&>().c_str(), "%d-%d-%dT%d:%d:%d.%dZ",
                    &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec, &ms) < 6) {
        return -1;
    }
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<long long>(::timegm(&t)) * 1000 + ms;
}

// The lines of /metrics with a projector label: per line name ("zolvaned_projector_polls_total",
// "..._sum"), the value of each projector's line.
using ProjectorMetrics = std::map<std::string, std::map<std::string, double>>;

// /metrics as ProjectorMetrics; nullopt when it cannot be read.
inline std::optional<ProjectorMetrics> ReadProjectorMetrics(httplib::Client& api) {
    const auto answer = api.Get("/metrics");
    if (!answer || answer->status != 200) return std::nullopt;
    ProjectorMetrics metrics;
    std::istringstream lines(answer->body);
    const std::string key = "projector=\"";
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        const size_t brace = line.find('{'), close = line.find('}');
        if (brace == std::string::npos || close == std::string::npos || close < brace) continue;
        const size_t at = line.find(key, brace);
        if (at == std::string::npos || at > close) continue;
        const size_t from = at + key.size();
        const std::string projector = line.substr(from, line.find('"', from) - from);
        metrics[line.substr(0, brace)][projector] = std::atof(line.c_str() + close + 1);
    }
    return metrics;
}

}  // namespace zolvane::bench
