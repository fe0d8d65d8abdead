// What the service benchmarks read from the service's HTTP API.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "service_harness.h"

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

// ---- the API under load

// A load of API clients: each a thread with a keep-alive connection of its own, sending GETs
// for `length` and timing each.
struct ApiLoad {
    int clients = 50;
    std::chrono::milliseconds length{5000};
    // The path of client c's n-th request (n from 0).
    std::function<std::string(int client, long n)> path;
    // Zero: one request after another. Otherwise one request every period, the clients' beats
    // spread evenly over it.
    std::chrono::milliseconds period{};
    // Run just before the clients are let go and just after the last of them has ended, so
    // that what they measure covers the load and nothing of the clients' setting up.
    std::function<void()> before, after;
};

// The times of the requests answered 200 with a body, the others counted.
struct Latency {
    std::vector<double> ms;
    long failures = 0;
    double seconds = 0;  // from the clients' start to the last one's end
};

inline Latency LoadApi(uint16_t port, const ApiLoad& load) {
    std::vector<std::vector<double>> perClient(static_cast<size_t>(load.clients));
    std::atomic<long> failures{0};
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> clients;
    for (int c = 0; c < load.clients; ++c) {
        clients.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);  // as browsers do
            client.set_read_timeout(10, 0);
            auto& samples = perClient[static_cast<size_t>(c)];
            ++ready;
            while (!go) std::this_thread::yield();
            const auto began = Clock::now();
            const auto end = began + load.length;
            auto beat = began + load.period * c / load.clients;
            for (long n = 0; Clock::now() < end; ++n) {
                if (load.period.count() > 0) {
                    std::this_thread::sleep_until(beat);
                    beat += load.period;
                }
                const std::string path = load.path(c, n);
                const auto start = Clock::now();
                const auto answer = client.Get(path.c_str());
                const auto took = Clock::now() - start;
                if (answer && answer->status == 200 && !answer->body.empty()) {
                    samples.push_back(Ms(took));
                } else {
                    ++failures;
                }
            }
        });
    }
    while (ready < load.clients) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (load.before) load.before();
    Latency latency;
    const auto start = Clock::now();
    go = true;
    for (auto& client : clients) client.join();
    latency.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (load.after) load.after();
    for (const auto& samples : perClient) {
        latency.ms.insert(latency.ms.end(), samples.begin(), samples.end());
    }
    latency.failures = failures;
    return latency;
}

// Paths for ApiLoad: one projector of the first `count` after another, scattered over them, a
// different order for each client.
inline std::function<std::string(int, long)> AnyProjector(int count) {
    return [count](int client, long n) {
        // splitmix64's finaliser over the client and the request's number
        uint64_t x = (static_cast<uint64_t>(client) << 32) ^ static_cast<uint64_t>(n);
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
        x ^= x >> 31;
        return "/api/projectors/" + Name(static_cast<int>(x % static_cast<uint64_t>(count)));
    };
}

}  // namespace zolvane::bench
