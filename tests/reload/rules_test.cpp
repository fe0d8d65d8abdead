// Schedules and alerts across reloads of the real zolvaned: the inventory rewritten under it,
// SIGHUP, then GET /api/schedules and GET /api/alerts against emulated projectors on loopback.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// Offline alerts on every projector, and on p2 alone.
const std::string kGone =
    "[[alert]]\nname = \"gone\"\nkind = \"offline\"\ntargets = [\"@all\"]\nfor_minutes = 0\n"
    "notifiers = [\"journal\"]\n";
const std::string kDark =
    "[[alert]]\nname = \"dark\"\nkind = \"offline\"\ntargets = [\"p2\"]\nfor_minutes = 0\n"
    "notifiers = [\"journal\"]\n";

// The list GET /api/NAME answers, once `holds` is true of it or after 20 s.
json list(httplib::Client& client, const std::string& name,
          const std::function<bool(const json&)>& holds) {
    json items;
    for (const auto until = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(100ms)) {
        const auto answer = client.Get(("/api/" + name).c_str());
        items = json::parse(answer ? answer->body : "{}").value(name, json::array());
        if (holds(items)) break;
    }
    return items;
}

// The first of the items with every field of the pattern as the pattern has it; null if none.
json first(const json& items, const json& pattern) {
    for (const json& item : items) {
        json merged = item;
        merged.update(pattern);
        if (merged == item) return item;
    }
    return nullptr;
}

TEST(Reload, SchedulesAndAlertsFollowTheInventory) {
    zolvane::emulator::Options options;
    options.count = 3;
    zolvane::emulator::Emulator emulator(options);
    ASSERT_TRUE(emulator.start());
    zolvane::emulator::FaultConfig silent;
    silent.kind = zolvane::emulator::FaultKind::NoReply;
    for (const int p : {1, 2}) emulator.setFault(silent, p);  // p1 and p2 offline throughout
    const std::filesystem::path folder =
        ::mkdtemp((std::filesystem::temp_directory_path() / "zolvaned-XXXXXX").string().data());
    std::ofstream(folder / "token") << "s3cret-token\n";
    const httplib::Headers token{{"Authorization", "Bearer s3cret-token"}};
    const auto write = [&](const std::vector<int>& projectors,
                           const std::vector<std::string>& schedules, const std::string& rules) {
        std::ofstream file(folder / "inventory.toml");
        file << "[service]\ntoken_file = \"" << (folder / "token").string()
             << "\"\n[defaults]\npoll_interval_ms = 200\noffline_after = 2\n"
             << "connect_timeout_ms = 300\nreceive_timeout_ms = 300\n";
        for (const int p : projectors) {
            file << "[[projector]]\nname = \"p" << p
                 << "\"\naddress = \"tcp://127.0.0.1:" << emulator.tcpPort(p) << "\"\n";
        }
        for (const std::string& name : schedules) {
            file << "[[schedule]]\nname = \"" << name << "\"\ntargets = [\"p0\"]\nat = \"12:00\"\n"
                 << "command = { command = \"power\", value = \"on\" }\n";
        }
        file << "[[notifier]]\nname = \"journal\"\nkind = \"journal\"\n" << rules;
    };
    write({0, 1, 2}, {"morning", "evening"}, kGone);
    service_testing::ServiceProcess service(
        {ZOLVANED, "--inventory", (folder / "inventory.toml").string(), "--listen", "127.0.0.1:0",
         "--test-clock", "2026-06-01T08:00:00Z"});
    const auto port = service.port();
    ASSERT_TRUE(port) << service.log();
    httplib::Client client("127.0.0.1", *port);

    // Before any reload: morning switched off, p2's offline alert acknowledged.
    const auto names = [](const json& items) {
        std::vector<std::string> names;
        for (const json& item : items) names.push_back(item["name"]);
        return names;
    };
    const auto off = client.Put("/api/schedules/morning", token, R"({"enabled": false})", "");
    ASSERT_TRUE(off && off->status == 200);
    const json p2 = {{"rule", "gone"}, {"projector", "p2"}, {"state", "firing"}};
    const json id = first(
        list(client, "alerts", [&](const json& l) { return first(l, p2) != nullptr; }), p2)["id"];
    const auto ack = client.Post("/api/alerts/" + id.dump() + "/ack", token, "", "");
    ASSERT_TRUE(ack && ack->status == 200) << id;
    const json kept = json::parse(ack->body)["alert"];  // as it stays through every reload
    struct Row {
        std::string what;
        std::vector<int> projectors;
        std::vector<std::string> schedules;  // as written, and as GET /api/schedules lists them
        std::string rules;
        const char* alert;  // a pattern of one, besides p2's acknowledged one kept as it was
    };
    // clang-format off
    const Row rows[] = {
        {"a schedule added", {0, 1, 2}, {"morning", "evening", "noon"}, kGone,
         R"({"rule": "gone", "projector": "p1", "state": "firing"})"},
        {"a schedule removed", {0, 1, 2}, {"morning", "noon"}, kGone,
         R"({"rule": "gone", "projector": "p1", "state": "firing"})"},
        {"a projector removed", {0, 2}, {"morning", "noon"}, kGone,
         R"({"state": "resolved", "sentence": "p1 is no longer watched: removed from the inventory"})"},
        {"a rule added", {0, 2}, {"morning", "noon"}, kGone + kDark,
         R"({"rule": "dark", "projector": "p2", "state": "firing"})"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        write(row.projectors, row.schedules, row.rules);
        service.signal(SIGHUP);
        const json schedules =
            list(client, "schedules", [&](const json& l) { return names(l) == row.schedules; });
        EXPECT_EQ(names(schedules), row.schedules);
        for (const json& s : schedules) {
            EXPECT_EQ(s["enabled"], s["name"] != "morning") << s;
            EXPECT_EQ(s["next_run"].is_null(), s["name"] == "morning") << s;
        }
        const auto both = [&](const json& l) {
            return first(l, json::parse(row.alert)) != nullptr && first(l, kept) != nullptr;
        };
        EXPECT_TRUE(both(list(client, "alerts", both))) << service.log();
    }
    EXPECT_TRUE(service.waitForLog("RESOLVED warning: p1 gone", 20s)) << service.log();
    service.signal(SIGTERM);
    EXPECT_EQ(service.wait(20s), 0);
    std::filesystem::remove_all(folder);
}

}  // namespace
