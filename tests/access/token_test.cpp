// Tokens with a name, a role and a scope, through the real zolvaned against emulated projectors:
// who may read and command what, that a refused command reaches no projector, the audit trail's
// names, --hash-token, the inventory's faults and the wait after repeated unknown tokens.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "child_process.h"
#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// sha256("viewer-secret") in upper case: either case is taken.
constexpr const char* kViewerHash =
    "F6AA3A0AABBB721B4AA7763A987A47688A702B1BCF4850CB4BA5BDAB26F9CC4B";

class Tokens : public ::testing::Test {
protected:
    void SetUp() override {
        zolvane::emulator::Options options;
        options.count = 2;
        options.initialPower = zolvane::emulator::PowerState::Off;
        emulator_ = std::make_unique<zolvane::emulator::Emulator>(options);
        ASSERT_TRUE(emulator_->start());
        folder_ =
            ::mkdtemp((std::filesystem::temp_directory_path() / "zolvaned-XXXXXX").string().data());
    }
    void TearDown() override {
        if (service_) {
            service_->signal(SIGTERM);
            EXPECT_EQ(service_->wait(20s), 0);
        }
        std::filesystem::remove_all(folder_);
    }

    std::string file(const std::string& name, const std::string& text) {
        std::ofstream(folder_ / name) << text;
        return (folder_ / name).string();
    }

    // p0 in group "room", p1 in "hall"; a token of each kind; schedule "x".
    std::string inventory(const std::string& tokens) {
        std::string text = "[service]\nread_requires_token = true\ndatabase = \"" +
                           (folder_ / "h.sqlite").string() + "\"\n" + tokens;
        const char* groups[] = {"room", "hall"};
        for (std::size_t i = 0; i < 2; ++i) {
            text += "[[projector]]\nname = \"p" + std::to_string(i) +
                    "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(emulator_->tcpPort(i)) +
                    "\"\ngroups = [\"" + groups[i] + "\"]\n";
        }
        return text +
               "[[schedule]]\nname = \"x\"\ntargets = [\"p0\"]\nat = \"12:00\"\n"
               "command = { command = \"power\", value = \"off\" }\n";
    }

    std::unique_ptr<zolvane::emulator::Emulator> emulator_;
    std::filesystem::path folder_;
    std::unique_ptr<service_testing::ServiceProcess> service_;
};

// Frames other than reads (action 2) the projectors were sent since the last clearFrames().
std::size_t commandsSent(const zolvane::emulator::Emulator& emulator) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < 2; ++i) {
        for (const auto& frame : emulator.frames(i)) count += frame.action != 2;
    }
    return count;
}

TEST_F(Tokens, RolesAndScopesDecideEveryCallAndRefusedCommandsReachNoProjector) {
    const std::string tokens =
        "[[token]]\nname = \"viewer\"\nrole = \"read\"\nsha256 = \"" + std::string(kViewerHash) +
        "\"\n[[token]]\nname = \"room-op\"\nrole = \"operate\"\ngroups = \"room\"\nfile = \"" +
        file("room", "\nroom-secret\n\n") +
        "\"\n[[token]]\nname = \"p1-op\"\nrole = \"operate\"\nprojectors = [\"p1\"]\nfile = \"" +
        file("p1", "p1-secret\n") + "\"\n[[token]]\nname = \"boss\"\nrole = \"admin\"\nfile = \"" +
        file("boss", "boss-secret") + "\"\n";
    const std::string path = file("inventory.toml", inventory(tokens));
    service_ = std::make_unique<service_testing::ServiceProcess>(
        std::vector<std::string>{ZOLVANED, "--inventory", path, "--listen", "127.0.0.1:0"});
    const auto port = service_->port();
    ASSERT_TRUE(port) << service_->log();
    httplib::Client client("127.0.0.1", *port);
    client.set_read_timeout(30s);
    const auto send = [&](const char* method, const char* target, const std::string& body,
                          const std::string& token) {
        httplib::Request request;
        request.method = method;
        request.path = target;
        request.body = body;
        request.set_header("Content-Type", "application/json");
        if (!token.empty()) request.set_header("Authorization", "Bearer " + token);
        return client.send(request);
    };

    const std::string off = R"({"command":"power","value":"off"})";
    struct Call {
        const char* method;
        const char* path;
        std::string body;
    };
    const Call calls[] = {
        {"GET", "/api/projectors", ""},
        {"POST", "/api/projectors/p0/commands", off},
        {"POST", "/api/projectors/p1/commands", off},
        {"POST", "/api/groups/room/commands", off},
        {"PUT", "/api/schedules/x", R"({"enabled":false})"},
        {"POST", "/api/alerts/1/ack", "{}"},  // no such alert: past the token, 404
    };
    struct Row {
        const char* token;  // empty: none
        int status[std::size(calls)];
    };
    // The unknown token last: after five of them its address is made to wait, whatever token
    // it presents, for a second at first.
    const Row rows[] = {
        {"", {401, 401, 401, 401, 401, 401}},
        {"viewer-secret", {200, 403, 403, 403, 403, 403}},
        {"room-secret", {200, 200, 403, 200, 403, 404}},
        {"p1-secret", {200, 403, 200, 403, 403, 404}},
        {"boss-secret", {200, 200, 200, 200, 200, 404}},
        {"unknown", {401, 401, 401, 401, 401, 429}},
    };
    // The audit trail names the token that sent each command; the session tells its scope.
    const auto auditAndSession = [&] {
        const std::set<std::string> senders{"room-op", "p1-op", "boss"};
        std::set<std::string> who;
        std::string body;
        // The history writes a little later than the commands are answered.
        for (int i = 0; i < 200 && who != senders; ++i) {
            if (i) std::this_thread::sleep_for(100ms);
            const auto log = send("GET", "/api/log", "", "viewer-secret");
            ASSERT_TRUE(log);
            body = log->body;
            who.clear();
            for (const json& entry : json::parse(body).value("entries", json::array())) {
                who.insert(entry.value("who", ""));
            }
        }
        EXPECT_EQ(who, senders) << body;
        const auto session = send("GET", "/api/session", "", "room-secret");
        ASSERT_TRUE(session);
        EXPECT_EQ(json::parse(session->body),
                  json::parse(R"({"token":"room-op","role":"operate","projectors":["p0"],)"
                              R"("tokens_required":{"read":true,"write":true}})"));
    };
    for (const Row& row : rows) {
        if (row.token == std::string("unknown")) auditAndSession();
        for (std::size_t i = 0; i < std::size(calls); ++i) {
            for (std::size_t p = 0; p < 2; ++p) emulator_->clearFrames(p);
            const auto answer = send(calls[i].method, calls[i].path, calls[i].body, row.token);
            ASSERT_TRUE(answer) << calls[i].path;
            EXPECT_EQ(answer->status, row.status[i]) << row.token << " " << calls[i].method << " "
                                                     << calls[i].path << ": " << answer->body;
            if (answer->status == 429) {
                EXPECT_EQ(answer->get_header_value("Retry-After"), "1");
            }
            if (answer->status == 401) {
                EXPECT_EQ(answer->get_header_value("WWW-Authenticate"), "Bearer");
            }
            if (answer->status == 401 || answer->status == 403) {
                EXPECT_EQ(commandsSent(*emulator_), 0u) << row.token << " " << calls[i].path;
            }
        }
    }
}

TEST_F(Tokens, HashesAndInventoryFaults) {
    const std::string hashed = ZOLVANED + std::string(" --hash-token");
    struct Row {
        std::vector<std::string> argv;
        int status;
        std::string output;
    };
    const std::string two = file("two", "a\nb\n");
    const std::string none = file("none", "\n \n");
    const std::string one = file("one", "a\n");
    const auto check = [&](const std::string& name, const std::string& tokens) {
        return std::vector<std::string>{ZOLVANED, "--check", file(name, inventory(tokens))};
    };
    const Row rows[] = {
        {{"/bin/sh", "-c", "printf 'abc\\n' | " + hashed},
         0,
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n"},
        {{"/bin/sh", "-c", "printf '\\n' | " + hashed}, 1, "no token"},
        {check("a.toml", "[[token]]\nname = \"t\"\nrole = \"read\"\nfile = \"" + two + "\"\n"), 1,
         ":7:8: the token file \"" + two + "\" holds more than one line"},
        {check("b.toml", "[[token]]\nname = \"t\"\nrole = \"read\"\nfile = \"" + none + "\"\n"), 1,
         "\"" + none + "\" holds no token"},
        // A device never ends: it is refused unread.
        {check("z.toml", "[[token]]\nname = \"t\"\nrole = \"read\"\nfile = \"/dev/zero\"\n"), 1,
         "\"/dev/zero\" cannot be read: not a regular file"},
        {check("c.toml", "[[token]]\nname = \"t\"\nrole = \"operate\"\nfile = \"" + one +
                             "\"\ngroups = [\"x\"]\n"),
         1, ":8:10: no group \"x\" for token \"t\""},
        {check("d.toml", "[[token]]\nname = \"t\"\nrole = \"admin\"\nfile = \"" + one +
                             "\"\nsha256 = \"" + kViewerHash + "\"\n"),
         1, "either \"sha256\" or \"file\""},
        {check("e.toml", "[[token]]\nname = \"t\"\nrole = \"admin\"\nfile = \"" + one + "\"\n"), 0,
         ": ok, 2 projectors"},
    };
    for (const Row& row : rows) {
        const cli_testing::Finished finished = cli_testing::Run(row.argv, 20s);
        EXPECT_EQ(finished.status, row.status) << row.argv.back() << "\n" << finished.err;
        EXPECT_NE((finished.out + finished.err).find(row.output), std::string::npos)
            << row.output << " in:\n"
            << finished.out << finished.err;
    }
}

}  // namespace
