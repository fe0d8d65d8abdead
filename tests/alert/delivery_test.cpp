// The delivery through the real zolvaned: an offline alert's notifications reach a real HTTP
// server, real SMTP servers (plain and STARTTLS), a real mosquitto and the journal.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using service_testing::freePort;
using service_testing::ServiceProcess;
namespace fs = std::filesystem;

fs::path freshFolder() {
    std::string pattern = (fs::temp_directory_path() / "zolvaned-XXXXXX").string();
    return ::mkdtemp(pattern.data());
}

void write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

std::string read(const fs::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The service on the database kept in folder: projector p0 at address, an offline rule "r" on
// it that tells the notifiers named, and these tables.
std::unique_ptr<ServiceProcess> startService(const fs::path& folder, const std::string& address,
                                             const std::string& names, const std::string& tables) {
    write(folder / "inventory.toml",
          "[service]\ndatabase = \"" + (folder / "h.sqlite").string() + "\"\n[[projector]]\n" +
              "name = \"p0\"\naddress = \"" + address + "\"\n[[alert]]\nnotifiers = [" + names +
              "]\nname = \"r\"\nkind = \"offline\"\ntargets = [\"p0\"]\nfor_minutes = 0\n" +
              "[defaults]\npoll_interval_ms = 200\nconnect_timeout_ms = 300\n" +
              "receive_timeout_ms = 300\noffline_after = 2\n" + tables);
    return std::make_unique<ServiceProcess>(std::vector<std::string>{
        ZOLVANED, "--inventory", (folder / "inventory.toml").string(), "--listen", "127.0.0.1:0"});
}

// GET /api/notifiers by name once `done` holds for each (or after 20 s).
json notifiers(ServiceProcess& service, const std::function<bool(const json&)>& done) {
    const auto port = service.port();
    json shown;
    for (int i = 0; port && i < 200; ++i) {
        const auto got = httplib::Client("127.0.0.1", *port).Get("/api/notifiers");
        bool all = got != nullptr;
        for (const json& n : got ? json::parse(got->body)["notifiers"] : json::array()) {
            shown[n["name"]] = n;
            all = all && done(n);
        }
        if (all) break;
        std::this_thread::sleep_for(100ms);
    }
    return shown;
}

// Told `times` notifications, delivered or given up, with none waiting.
std::function<bool(const json&)> told(int times) {
    return [times](const json& n) {
        return n["pending"] == 0 && n["delivered"].get<int>() + n["given_up"].get<int>() >= times;
    };
}

// A webhook receiver: every POST by path; "flaky" answers 500 five times, "silent" late.
struct Web {
    explicit Web(int port) : port(port) {
        server.Post(R"(/(\w+))", [this](const httplib::Request& request, httplib::Response& out) {
            std::unique_lock lock(mutex);
            auto& calls = got[request.matches[1]];
            calls.push_back(request);
            if (request.matches[1] == "flaky" && calls.size() <= 5) out.status = 500;
            lock.unlock();
            if (request.matches[1] == "silent") std::this_thread::sleep_for(3s);
        });
        server.bind_to_port("127.0.0.1", port);
        serving = std::thread([this] { server.listen_after_bind(); });
    }
    ~Web() {
        server.stop();
        serving.join();
    }
    std::string url(const std::string& path) const {
        return "url = \"http://127.0.0.1:" + std::to_string(port) + "/" + path + "\"\n";
    }
    const int port;
    httplib::Server server;
    std::thread serving;
    std::mutex mutex;
    std::map<std::string, std::vector<httplib::Request>> got;
};

}  // namespace

// The alert fires and resolves; each notifier's record and what its receiver got.
TEST(Delivery, ReachesEachReceiver) {
    const fs::path folder = freshFolder();
    Web web(freePort());
    const std::string cert = (folder / "cert.pem").string(), key = (folder / "key.pem").string();
    const std::string openssl =
        "openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 "
        "-addext subjectAltName=IP:127.0.0.1 -days 2 2>/dev/null -keyout ";
    ASSERT_EQ(std::system((openssl + key + " -out " + cert).c_str()), 0);
    // One SMTP server offering STARTTLS: "mail-starttls" must use it, "mail-none" must not.
    const std::string smtp = "127.0.0.1:" + std::to_string(freePort());
    std::vector<std::unique_ptr<ServiceProcess>> receivers;
    receivers.push_back(std::make_unique<ServiceProcess>(std::vector<std::string>{
        "/usr/bin/python3", "-m", "aiosmtpd", "-n", "-d", "-l", smtp, "--tlscert", cert, "--tlskey",
        key, "--no-requiretls", "-c", "aiosmtpd.handlers.Mailbox", (folder / "mail").string()}));
    ASSERT_TRUE(receivers.back()->waitForLog("listening on " + smtp, 20s));
    const std::string mail = "email\"\nurl = \"smtp://" + smtp + "\"\nca_file = \"" + cert +
                             "\"\nfrom = \"z@test\"\nto = [\"ops@test\"]\ntls = \"";
    const std::string broker = std::to_string(freePort());
    write(folder / "mosquitto.conf", "listener " + broker + " 127.0.0.1\nallow_anonymous true\n");
    receivers.push_back(std::make_unique<ServiceProcess>(std::vector<std::string>{
        "/usr/sbin/mosquitto", "-c", (folder / "mosquitto.conf").string()}));
    ASSERT_TRUE(receivers.back()->waitForLog("running", 20s));
    std::string tables = "[mqtt]\nhost = \"127.0.0.1\"\nsite = \"t\"\nport = " + broker + "\n";
    const auto retained = [&] {  // what a dashboard that subscribes now is given
        const std::string file = (folder / "watched").string();
        std::system(("mosquitto_sub -p " + broker + " -t 'zolvane/t/alert/#' -F '%r %t %p' -W 2 >" +
                     file + " 2>&1")
                        .c_str());
        return read(file);
    };
    write(folder / "headers", "X-Token: abc\n");
    write(folder / "shape.json", R"({"text": "{{sentence}}"})");
    struct Row {
        std::string name, keys;  // keys: the [[notifier]]'s kind and more
        int delivered, failed, givenUp;
        std::string error;
    };
    const Row rows[] = {
        {"plain", "webhook\"\n" + web.url("plain"), 2, 0, 0, ""},
        {"shaped",
         "webhook\"\n" + web.url("shaped") + "headers_file = \"" + (folder / "headers").string() +
             "\"\ntemplate = \"" + (folder / "shape.json").string() + "\"",
         2, 0, 0, ""},
        {"flaky", "webhook\"\n" + web.url("flaky") + "retry_seconds = 0.1", 2, 5, 0, "HTTP 500"},
        {"silent",
         "webhook\"\ntimeout_seconds = 1\nretry_seconds = 0.1\nattempts = 2\n" + web.url("silent"),
         0, 4, 2, "timed out after 1 s"},
        {"mail-none", mail + "none\"", 2, 0, 0, ""},
        {"mail-starttls", mail + "starttls\"", 2, 0, 0, ""},
        {"broker", "mqtt\"", 2, 0, 0, ""},
        {"journal", "journal\"", 2, 0, 0, ""},
    };
    std::string names;
    for (const Row& row : rows) {
        names += (names.empty() ? "\"" : ", \"") + row.name + "\"";
        tables += "[[notifier]]\nname = \"" + row.name + "\"\nkind = \"" + row.keys + "\n";
    }
    zolvane::emulator::Emulator projector;
    ASSERT_TRUE(projector.start());
    const auto service = startService(
        folder, "tcp://127.0.0.1:" + std::to_string(projector.tcpPort()), names, tables);
    ASSERT_TRUE(service->waitForLog("mqtt: connected", 20s)) << service->log();
    zolvane::emulator::FaultConfig silent;
    silent.kind = zolvane::emulator::FaultKind::NoReply;
    projector.setFault(silent);
    notifiers(*service, told(1));
    const std::string firing = retained();
    EXPECT_TRUE(firing.starts_with("1 zolvane/t/alert/r/p0 {")) << firing;
    EXPECT_NE(firing.find("\"event\":\"firing\""), std::string::npos) << firing;
    projector.clearFault();
    json shown = notifiers(*service, told(2));
    EXPECT_EQ(retained().find("zolvane/t/alert/"), std::string::npos);  // cleared
    for (const Row& row : rows) {
        json& n = shown[row.name];
        EXPECT_EQ(n["delivered"], row.delivered) << row.name << service->log();
        EXPECT_EQ(n["failed"], row.failed) << row.name;
        EXPECT_EQ(n["given_up"], row.givenUp) << row.name;
        EXPECT_EQ(n["last_error"], row.error) << row.name;
    }
    std::lock_guard lock(web.mutex);
    ASSERT_EQ(web.got["plain"].size(), 2u);
    const json body = json::parse(web.got["plain"][0].body);
    EXPECT_EQ(body["event"], "firing");
    EXPECT_EQ(json::parse(web.got["plain"][1].body)["event"], "resolved");
    const std::string sentence = body.value("sentence", "");
    EXPECT_EQ(web.got["shaped"].at(0).body, R"({"text": ")" + sentence + "\"}");
    EXPECT_EQ(web.got["shaped"].at(0).get_header_value("X-Token"), "abc");
    EXPECT_EQ(web.got["flaky"].size(), 7u);
    std::string mails;
    for (const auto& file : fs::directory_iterator(folder / "mail" / "new")) mails += read(file);
    for (const std::string& line :
         {std::string("Subject: [zolvaned] FIRING warning: p0 r"), sentence,
          std::string("Subject: [zolvaned] RESOLVED warning: p0 r")}) {
        EXPECT_NE(mails.find("\n" + line + "\n"), std::string::npos) << line << mails;
    }
    EXPECT_TRUE(service->waitForLog("<4>[zolvaned] FIRING warning: p0 r: " + sentence, 1s));
    EXPECT_TRUE(service->waitForLog("<6>[zolvaned] RESOLVED warning: p0 r: p0 is back", 1s));
    fs::remove_all(folder);
}

// An alert whose webhook was down when the service was killed is told after the restart, once.
TEST(Delivery, OutlivesAKill) {
    const fs::path folder = freshFolder();
    const int port = freePort();
    const std::string hook =
        "[[notifier]]\nname = \"hook\"\nkind = \"webhook\"\nretry_seconds = 0.2\n" +
        ("url = \"http://127.0.0.1:" + std::to_string(port) + "/down\"\n");
    const std::string closed = "tcp://127.0.0.1:" + std::to_string(freePort());
    auto service = startService(folder, closed, "\"hook\"", hook);
    EXPECT_GT(notifiers(*service, [](const json& n) { return n["failed"] > 0; })["hook"]["failed"],
              0);
    service->signal(SIGKILL);
    service->wait(20s);
    Web web(port);
    service = startService(folder, closed, "\"hook\"", hook);
    EXPECT_EQ(notifiers(*service, told(1))["hook"]["delivered"], 1) << service->log();
    std::this_thread::sleep_for(1s);  // time for a second delivery, were there to be one
    std::lock_guard lock(web.mutex);
    EXPECT_EQ(web.got["down"].size(), 1u);
    fs::remove_all(folder);
}
