// zolvaned as the administrator runs it: the real program against emulated projectors over
// loopback, spoken to over HTTP.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "child_process.h"
#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using zolvane::emulator::Emulator;
using zolvane::emulator::FaultConfig;
using zolvane::emulator::FaultKind;
using zolvane::emulator::PowerState;

constexpr const char* kToken = "s3cret-token";
constexpr std::uint16_t kBlank = 0x3020;
constexpr std::uint16_t kBrightness = 0x2003;

std::filesystem::path freshFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zolvaned-XXXXXX").string();
    return ::mkdtemp(pattern.data());
}

void write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

std::string inventoryText(const Emulator& emulator, const std::filesystem::path& token) {
    std::string text = "[service]\nlisten = \"127.0.0.1:8470\"\ntoken_file = \"" + token.string() +
                       "\"\nmax_body_bytes = 4096\n\n[defaults]\npoll_interval_ms = 200\n"
                       "slow_poll_interval_ms = 1000\nconnect_timeout_ms = 300\n"
                       "receive_timeout_ms = 300\noffline_after = 2\n";
    const char* groups[] = {"[\"halls\"]", "[\"halls\"]", "[\"lobby\"]"};
    for (std::size_t i = 0; i < emulator.count(); ++i) {
        text += "\n[[projector]]\nname = \"p" + std::to_string(i) +
                "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(emulator.tcpPort(i)) +
                "\"\ngroups = " + groups[i] + "\n";
    }
    return text;
}

FaultConfig silent() {
    FaultConfig fault;
    fault.kind = FaultKind::NoReply;
    return fault;
}

// Every frame that asked a projector to change something (anything but a get).
std::size_t changeFrames(const Emulator& emulator) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < emulator.count(); ++i) {
        for (const auto& frame : emulator.frames(i)) count += frame.action != 2;
    }
    return count;
}

class Service : public ::testing::Test {
protected:
    void SetUp() override {
        zolvane::emulator::Options options;
        options.count = 3;
        options.coolingTime = 1500ms;
        emulator_ = std::make_unique<Emulator>(options);
        ASSERT_TRUE(emulator_->start());
        folder_ = freshFolder();
        write(folder_ / "token", std::string(kToken) + "\n");
        inventory_ = folder_ / "inventory.toml";
        write(inventory_, inventoryText(*emulator_, folder_ / "token"));
        service_ = std::make_unique<service_testing::ServiceProcess>(std::vector<std::string>{
            ZOLVANED, "--inventory", inventory_.string(), "--listen", "127.0.0.1:0"});
        const auto port = service_->port();
        ASSERT_TRUE(port) << service_->log();
        client_ = std::make_unique<httplib::Client>("127.0.0.1", *port);
        client_->set_read_timeout(20s);
        for (const char* name : {"p0", "p1", "p2"}) ASSERT_TRUE(waitForReach(name, "online"));
    }

    // Every run ends cleanly, and a sanitizer build of the service found nothing on the way.
    void TearDown() override {
        if (service_) {
            service_->signal(SIGTERM);
            EXPECT_EQ(service_->wait(10s), 0);
            EXPECT_EQ(service_->log().find("Sanitizer"), std::string::npos) << service_->log();
            EXPECT_EQ(service_->log().find("runtime error"), std::string::npos);
        }
        std::filesystem::remove_all(folder_);
    }

    json get(const std::string& path, int status = 200) {
        const auto answer = client_->Get(path.c_str());
        EXPECT_TRUE(answer) << path;
        if (!answer) return {};
        EXPECT_EQ(answer->status, status) << path << ": " << answer->body;
        return json::parse(answer->body, nullptr, false);
    }

    httplib::Result post(const std::string& path, const std::string& body,
                         const char* method = "POST", const std::string& token = kToken) {
        httplib::Headers headers;
        if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
        return std::string(method) == "PUT"
                   ? client_->Put(path.c_str(), headers, body, "application/json")
                   : client_->Post(path.c_str(), headers, body, "application/json");
    }

    bool waitForReach(const std::string& name, const std::string& reach,
                      std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto answer = client_->Get(("/api/projectors/" + name).c_str());
            if (answer && json::parse(answer->body, nullptr, false).value("reach", "") == reach) {
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    std::unique_ptr<Emulator> emulator_;
    std::filesystem::path folder_;
    std::filesystem::path inventory_;
    std::unique_ptr<service_testing::ServiceProcess> service_;
    std::unique_ptr<httplib::Client> client_;
};

// The event stream, read on a thread of its own until the test has what it waits for.
class EventStream {
public:
    explicit EventStream(int port) : client_("127.0.0.1", port) {
        client_.set_read_timeout(30s);
        thread_ = std::thread([this] {
            client_.Get("/api/events", [this](const char* data, std::size_t size) {
                std::lock_guard lock(mutex_);
                text_.append(data, size);
                grown_.notify_all();
                return !done_;
            });
            std::lock_guard lock(mutex_);
            ended_ = true;
            grown_.notify_all();
        });
    }
    ~EventStream() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        client_.stop();
        thread_.join();
    }
    // Waits until the stream holds text `count` times, or has ended.
    bool waitFor(const std::string& text, std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return grown_.wait_for(lock, timeout, [&] {
            return occurrences(text) >= count || ended_;
        }) && occurrences(text) >= count;
    }
    bool waitForEnd(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return grown_.wait_for(lock, timeout, [&] { return ended_; });
    }

private:
    std::size_t occurrences(const std::string& text) const {
        std::size_t count = 0;
        for (auto at = text_.find(text); at != std::string::npos; at = text_.find(text, at + 1)) {
            ++count;
        }
        return count;
    }
    httplib::Client client_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable grown_;
    std::string text_;
    bool done_ = false;
    bool ended_ = false;
};

TEST_F(Service, EveryReadingEndpointAnswers) {
    struct Row {
        std::string path;
        std::string contentType;
        std::string holds;
    };
    const Row rows[] = {
        {"/api/projectors", "application/json",
         R"("groups":[{"name":"halls","projectors":["p0","p1"]},{"name":"lobby","projectors":["p2"]}])"},
        {"/api/projectors/p1", "application/json", R"("lamp_hours":{"value":1235})"},
        {"/api/groups", "application/json", R"({"name":"lobby","projectors":["p2"]})"},
        {"/api/projectors/p0/settings", "application/json", R"("Aspect":{"name":)"},
        {"/api/projectors/p0/settings/color%20bal%20r", "application/json",
         R"("setting":"ColorBalanceR")"},
        {"/", "text/html", "<"},
        {"/app.js", "", "/api/events"},
        {"/metrics", "text/plain", "zolvaned_projector_up{projector=\"p2\"} 1\n"},
        {"/metrics", "text/plain", "# TYPE zolvaned_projector_poll_duration_seconds summary\n"},
        {"/metrics", "text/plain",
         "zolvaned_projector_power_state{projector=\"p0\",state=\"on\"} 1\n"},
    };
    for (const Row& row : rows) {
        const auto answer = client_->Get(row.path.c_str());
        ASSERT_TRUE(answer) << row.path;
        EXPECT_EQ(answer->status, 200) << row.path << ": " << answer->body;
        EXPECT_TRUE(answer->get_header_value("Content-Type").starts_with(row.contentType))
            << row.path;
        EXPECT_NE(answer->body.find(row.holds), std::string::npos)
            << row.path << ": " << answer->body;
    }
    const json one = get("/api/projectors/p0");
    EXPECT_EQ(one["state"]["power"], (json{{"value", 1}, {"name", "on"}}));
    EXPECT_TRUE(one["last_seen"].is_string());
    EXPECT_EQ(get("/api/projectors/p0/settings")["settings"]["Brightness"]["value"],
              *emulator_->value(kBrightness));
}

TEST_F(Service, BadRequestsAreRefusedAndSendNothing) {
    struct Row {
        const char* method;
        std::string path;
        std::string body;
        std::string token;
        int status;
        std::string reason;
    };
    const std::string blank = R"({"command":"blank","value":"on"})";
    const Row rows[] = {
        {"POST", "/api/projectors/p0/commands", "{\"command\":", kToken, 400, "not JSON"},
        {"POST", "/api/projectors/p0/commands", "[1]", kToken, 400, "object"},
        {"POST", "/api/projectors/p0/commands", R"({"command":"dance"})", kToken, 400, "dance"},
        {"POST", "/api/projectors/p0/commands", R"({"command":"set","value":1})", kToken, 400,
         "setting"},
        {"POST", "/api/projectors/p0/commands", R"({"command":"blank","value":[1]})", kToken, 400,
         "whole number"},
        {"POST", "/api/projectors/p9/commands", blank, kToken, 404, "p9"},
        {"POST", "/api/groups/attic/commands", blank, kToken, 404, "attic"},
        {"POST", "/api/groups/all/commands", R"({"command":"get","setting":"Warp"})", kToken, 404,
         "Warp"},
        {"PUT", "/api/projectors/p0/settings/Warp", R"({"value":1})", kToken, 404, "Warp"},
        {"POST", "/api/groups/all/commands",
         R"({"command":"set","setting":"Brightness","value":4000})", kToken, 422, "4000"},
        {"PUT", "/api/projectors/p0/settings/Brightness", R"({"value":-1})", kToken, 422, "-1"},
        {"POST", "/api/projectors/p0/commands", R"({"command":"input","value":"Laserdisc"})",
         kToken, 422, "Laserdisc"},
        {"POST", "/api/projectors/p0/commands", R"({"command":"increment","setting":"Power"})",
         kToken, 422, "increment"},
        {"POST", "/api/projectors/p0/commands",
         R"({"command":"set","setting":"LampTime","value":0})", kToken, 422, "set"},
        {"POST", "/api/projectors/p0/commands", blank + std::string(5000, ' '), kToken, 413,
         "larger"},
        {"POST", "/api/groups/all/commands", blank, "", 401, "token"},
        {"POST", "/api/groups/all/commands", blank, "s3cret-tokem", 401, "token"},
        {"PUT", "/api/projectors/p0/settings/Blank", R"({"value":1})", "s3cret", 401, "token"},
        {"POST", "/api/projectors", blank, kToken, 405, "method"},
        {"POST", "/api/nowhere", blank, kToken, 404, "path"},
    };
    for (std::size_t i = 0; i < emulator_->count(); ++i) emulator_->clearFrames(i);
    for (const Row& row : rows) {
        const auto answer = post(row.path, row.body, row.method, row.token);
        ASSERT_TRUE(answer) << row.path << " " << row.body;
        EXPECT_EQ(answer->status, row.status) << row.path << " " << row.body;
        EXPECT_TRUE(answer->get_header_value("Content-Type").starts_with("application/json"));
        const json error = json::parse(answer->body, nullptr, false);
        EXPECT_NE(error.value("error", "").find(row.reason), std::string::npos)
            << row.path << " " << row.body << ": " << answer->body;
    }
    EXPECT_EQ(changeFrames(*emulator_), 0u);
    EXPECT_EQ(emulator_->value(kBlank, 0), 0);
}

TEST_F(Service, CommandsReachTheirProjectorsWithAResultEach) {
    emulator_->setFault(silent(), 1);
    const auto group = post("/api/groups/halls/commands", R"({"command":"blank","value":"on"})");
    ASSERT_TRUE(group);
    EXPECT_EQ(group->status, 200);
    const json results = json::parse(group->body)["results"];
    EXPECT_EQ(json::parse(group->body)["ok"], false);
    ASSERT_EQ(results.size(), 2u) << group->body;
    EXPECT_EQ(results[0], (json{{"projector", "p0"}, {"ok", true}, {"value", 1}, {"name", "on"}}));
    EXPECT_EQ(results[1]["projector"], "p1");
    EXPECT_EQ(results[1]["ok"], false);
    EXPECT_FALSE(results[1]["reason"].get<std::string>().empty());
    EXPECT_EQ(emulator_->value(kBlank, 0), 1);
    EXPECT_EQ(emulator_->value(kBlank, 2), 0);  // not in the group

    const auto failed = post("/api/projectors/p1/commands", R"({"command":"mute","value":1})");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->status, 502);
    emulator_->clearFault(1);

    const auto put = post("/api/projectors/p2/settings/brightness", R"({"value":140})", "PUT");
    ASSERT_TRUE(put);
    EXPECT_EQ(put->status, 200) << put->body;
    EXPECT_EQ(emulator_->value(kBrightness, 2), 140);

    // A power-on while cooling down waits for the end of it and says how long it waited.
    emulator_->setPower(PowerState::CoolingDown, 0);
    const auto on = post("/api/projectors/p0/commands", R"({"command":"power","value":"on"})");
    ASSERT_TRUE(on);
    EXPECT_EQ(on->status, 200) << on->body;
    EXPECT_GT(json::parse(on->body)["results"][0]["waited_ms"].get<int>(), 0) << on->body;
    EXPECT_EQ(emulator_->power(0), PowerState::On);

    const auto all = post("/api/groups/all/commands", R"({"command":"get","setting":"Blank"})");
    ASSERT_TRUE(all);
    EXPECT_EQ(json::parse(all->body)["results"].size(), 3u);
    EXPECT_NE(service_->log().find("command from 127.0.0.1:"), std::string::npos);
}

TEST_F(Service, TheEventStreamShowsAChangeMadeThroughTheApi) {
    EventStream events(*service_->port());
    ASSERT_TRUE(events.waitFor("event: state\n", 3, 10s));  // the snapshot
    const auto mute = post("/api/projectors/p2/commands", R"({"command":"mute","value":"on"})");
    ASSERT_TRUE(mute);
    EXPECT_EQ(mute->status, 200) << mute->body;
    EXPECT_TRUE(events.waitFor(R"("mute":{"name":"on","value":1})", 1, 10s));
}

TEST_F(Service, AProjectorThatStopsAnsweringGoesOfflineAndComesBack) {
    emulator_->setFault(silent(), 2);
    ASSERT_TRUE(waitForReach("p2", "offline"));
    const json offline = get("/api/projectors/p2");
    EXPECT_FALSE(offline["last_failure"].get<std::string>().empty());
    EXPECT_EQ(offline["state"]["power"]["name"], "on");  // the last known state
    EXPECT_EQ(get("/api/projectors/p0")["reach"], "online");
    EXPECT_TRUE(service_->waitForLog("<4>p2 offline: ", 5s)) << service_->log();
    emulator_->clearFault(2);
    EXPECT_TRUE(waitForReach("p2", "online"));
    EXPECT_TRUE(service_->waitForLog("<6>p2 online", 5s));
}

TEST_F(Service, EventStreamsAreCappedAndSigtermEndsThemPromptly) {
    std::vector<std::unique_ptr<EventStream>> streams;
    for (int i = 0; i < 32; ++i) {
        streams.push_back(std::make_unique<EventStream>(*service_->port()));
        ASSERT_TRUE(streams.back()->waitFor("event: state\n", 3, 10s)) << i;
    }
    get("/api/events", 503);
    EXPECT_EQ(get("/api/projectors/p0")["name"], "p0");  // requests still have threads

    service_->signal(SIGTERM);
    EXPECT_EQ(service_->wait(5s), 0) << service_->log();
    for (const auto& stream : streams) EXPECT_TRUE(stream->waitForEnd(5s));
    EXPECT_NE(service_->log().find("<6>stopped\n"), std::string::npos);
}

TEST_F(Service, ItsPortTakesAFloodOfClientsButNoSecondService) {
    const cli_testing::Finished second =
        cli_testing::Run({ZOLVANED, "--inventory", inventory_.string(), "--listen",
                          "127.0.0.1:" + std::to_string(*service_->port())},
                         std::chrono::seconds(20));
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("<3>not started: cannot listen on"), std::string::npos) << second.err;

    std::vector<int> sockets;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(*service_->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 200; ++i) {  // more than the service has threads, each half a request
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << i;
        ASSERT_EQ(::write(fd, "GET /api/pro", 12), 12);
        sockets.push_back(fd);
    }
    for (std::size_t i = 0; i < emulator_->count(); ++i) {
        emulator_->clearFrames(i);
        EXPECT_TRUE(emulator_->waitForFrames(4, 5s, i)) << i;  // a poll every 200 ms goes on
    }
    for (const int fd : sockets) ::close(fd);
    EXPECT_EQ(get("/api/projectors/p1")["reach"], "online");
}

TEST(ServiceStart, CheckAndRefusalsAtStart) {
    const std::filesystem::path folder = freshFolder();
    struct Row {
        std::string inventory;  // empty: no file at all
        std::vector<std::string> arguments;
        int status;
        std::string output;
    };
    const std::string good =
        "[[projector]]\nname = \"a\"\naddress = \"tcp://127.0.0.1:9\"\ngroups = [\"x\", \"y\"]\n"
        "[[projector]]\nname = \"b\"\naddress = \"serial:///dev/ttyUSB0\"\n";
    const std::string bad =
        "[[projector]]\nname = \"a\"\naddress = \"tcp://127.0.0.1:9\"\n"
        "[[projector]]\nname = \"a\"\naddress = \"tcp://127.0.0.1:10\"\n"
        "colour = 3\n";
    const std::string file = (folder / "inventory.toml").string();
    write(folder / "empty", " \n");
    const Row rows[] = {
        {good, {"--check", file}, 0, file + ": ok, 2 projectors in 2 groups\n"},
        {bad, {"--check", file}, 1, file + ":4:"},
        {bad, {"--check", file}, 1, file + ":7:"},
        {"", {"--check", file}, 1, file + ": "},
        {bad, {"--inventory", file}, 1, "<3>" + file + ":4:"},
        {"[service]\ntoken_file = \"" + (folder / "none").string() + "\"\n" + good,
         {"--inventory", file},
         1,
         "<3>not started: the token file"},
        {good, {"--inventory", file, "--listen", "nowhere"}, 2, "HOST:PORT"},
        {"[service]\ntoken_file = \"" + (folder / "empty").string() + "\"\n" + good,
         {"--inventory", file},
         1,
         "holds no token"},
        {good, {"--help"}, 0, "--inventory"},
        {good, {"--version"}, 0, "zolvaned 1."},
    };
    for (const Row& row : rows) {
        std::filesystem::remove(file);
        if (!row.inventory.empty()) write(file, row.inventory);
        std::vector<std::string> argv{ZOLVANED};
        argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
        const cli_testing::Finished finished = cli_testing::Run(argv, std::chrono::seconds(20));
        EXPECT_EQ(finished.status, row.status) << row.arguments[0] << "\n" << finished.err;
        EXPECT_NE((finished.out + finished.err).find(row.output), std::string::npos)
            << row.output << " in:\n"
            << finished.out << finished.err;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
