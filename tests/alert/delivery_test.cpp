// The delivery through the real zolvaned: notifications left in its database's outbox, as a
// service killed before it told them leaves them, reach a real HTTP server, real SMTP servers
// (plain and STARTTLS), a real mosquitto and the journal.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "alert/database.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using service_testing::freePort;
using service_testing::ServiceProcess;
namespace fs = std::filesystem;
using Shown = std::map<std::string, json>;  // GET /api/notifiers by name

fs::path freshFolder() {
    std::string pattern = (fs::temp_directory_path() / "zolvaned-XXXXXX").string();
    return ::mkdtemp(pattern.data());
}

void write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

std::string read(const fs::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string note(const std::string& event, const std::string& projector) {
    return R"({"event": ")" + event + R"(", "alert": {"id": 1, "rule": "r", "projector": ")" +
           projector + R"(", "severity": "warning", "sentence": ")" + projector +
           R"(: no reply"}, "projector": null, "sentence": ")" + projector + R"(: no reply"})";
}

// The outbox's rows {notifier, body} in the order made, before the service starts; the broker's
// are due once it has had time to connect.
void seed(const fs::path& database, const std::vector<std::pair<std::string, std::string>>& rows) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    std::string sql = zolvane::service::alert::kAlertSchema;
    const auto soon = std::chrono::system_clock::now().time_since_epoch() + 3s;
    for (const auto& [notifier, body] : rows) {
        const auto due = notifier == "broker" ? soon / 1ms : 0;
        sql += "INSERT INTO outbox(notifier, alert, event, body, created, next_try) VALUES('" +
               notifier + "', 1, '', '" + body + "', 0, " + std::to_string(due) + ");";
    }
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

// A receiver run as a child, once its log says it listens.
std::unique_ptr<ServiceProcess> receiver(const std::vector<std::string>& argv,
                                         const std::string& listening) {
    auto process = std::make_unique<ServiceProcess>(argv);
    EXPECT_TRUE(process->waitForLog(listening, 20s)) << process->log();
    return process;
}

// The service on the database kept in folder, with these tables beside its one projector.
std::unique_ptr<ServiceProcess> startService(const fs::path& folder, const std::string& tables) {
    write(folder / "inventory.toml", "[service]\ndatabase = \"" + (folder / "h.sqlite").string() +
                                         "\"\n[[projector]]\nname = \"p0\"\naddress = "
                                         "\"tcp://127.0.0.1:1\"\n" +
                                         tables);
    return std::make_unique<ServiceProcess>(std::vector<std::string>{
        ZOLVANED, "--inventory", (folder / "inventory.toml").string(), "--listen", "127.0.0.1:0"});
}

// The notifiers once `done` holds for them (or after 20 s): by default, once nothing is pending.
Shown notifiers(ServiceProcess& service, const std::function<bool(const json&)>& done = {}) {
    const auto port = service.port();
    Shown shown;
    for (int i = 0; port && i < 200; ++i) {
        shown.clear();
        const auto got = httplib::Client("127.0.0.1", *port).Get("/api/notifiers");
        bool all = got != nullptr;
        for (const json& n : got ? json::parse(got->body)["notifiers"] : json::array()) {
            shown[n["name"]] = n;
            all = all && (done ? done(n) : n["pending"] == 0);
        }
        if (all) break;
        std::this_thread::sleep_for(100ms);
    }
    return shown;
}

// A webhook receiver: every POST by path; "flaky" answers 500 five times, "silent" late.
struct Web {
    Web(int port = 0) {
        server.Post(R"(/(\w+))", [this](const httplib::Request& request, httplib::Response& out) {
            std::unique_lock lock(mutex);
            auto& calls = got[request.matches[1]];
            calls.push_back(request);
            if (request.matches[1] == "flaky" && calls.size() <= 5) out.status = 500;
            lock.unlock();
            if (request.matches[1] == "silent") std::this_thread::sleep_for(3s);
        });
        this->port = port ? (server.bind_to_port("127.0.0.1", port), port)
                          : server.bind_to_any_port("127.0.0.1");
        serving = std::thread([this] { server.listen_after_bind(); });
    }
    ~Web() {
        server.stop();
        serving.join();
    }
    std::string url(const std::string& path) const {
        return "url = \"http://127.0.0.1:" + std::to_string(port) + "/" + path + "\"\n";
    }
    httplib::Server server;
    int port = 0;
    std::thread serving;
    std::mutex mutex;
    std::map<std::string, std::vector<httplib::Request>> got;
};

}  // namespace

// One notification for each notifier (three for the broker's: p0's alert firing, p1's firing
// and resolved), and what each receiver got.
TEST(Delivery, ReachesEachReceiver) {
    const fs::path folder = freshFolder();
    Web web;
    ASSERT_EQ(std::system(("cd " + folder.string() +
                           " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out "
                           "cert.pem -days 2 -subj /CN=127.0.0.1 -addext "
                           "subjectAltName=IP:127.0.0.1 2>/dev/null")
                              .c_str()),
              0);
    std::vector<std::unique_ptr<ServiceProcess>> receivers;
    std::string tables;
    for (const std::string tls : {"none", "starttls"}) {
        const std::string at = "127.0.0.1:" + std::to_string(freePort());
        std::vector<std::string> argv{"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-d", "-l", at};
        if (tls == "starttls") {
            argv.insert(argv.end(), {"--tlscert", (folder / "cert.pem").string(), "--tlskey",
                                     (folder / "key.pem").string()});
        }
        argv.insert(argv.end(), {"-c", "aiosmtpd.handlers.Mailbox", (folder / tls).string()});
        receivers.push_back(receiver(argv, "listening on " + at));
        tables += "[[notifier]]\nname = \"mail-" + tls + "\"\nkind = \"email\"\nurl = \"smtp://" +
                  at + "\"\ntls = \"" + tls + "\"\nca_file = \"" + (folder / "cert.pem").string() +
                  "\"\nfrom = \"z@test\"\nto = [\"ops@test\"]\n";
    }
    const std::string broker = std::to_string(freePort());
    write(folder / "mosquitto.conf", "listener " + broker + " 127.0.0.1\nallow_anonymous true\n");
    receivers.push_back(
        receiver({"/usr/sbin/mosquitto", "-c", (folder / "mosquitto.conf").string()}, "running"));

    write(folder / "headers", "X-Token: abc\n");
    write(folder / "shape.json", R"({"text": "{{sentence}}"})");
    struct Row {
        std::string name, keys;  // keys: the [[notifier]]'s kind and more, when not above
        int delivered, failed, givenUp;
        std::string error;
    };
    const Row rows[] = {
        {"plain", "webhook\"\n" + web.url("plain"), 1, 0, 0, ""},
        {"shaped",
         "webhook\"\n" + web.url("shaped") + "headers_file = \"" + (folder / "headers").string() +
             "\"\ntemplate = \"" + (folder / "shape.json").string() + "\"\n",
         1, 0, 0, ""},
        {"flaky", "webhook\"\n" + web.url("flaky") + "retry_seconds = 0.1\n", 1, 5, 0, "HTTP 500"},
        {"silent",
         "webhook\"\n" + web.url("silent") +
             "timeout_seconds = 1\nretry_seconds = 0.1\nattempts = 2",
         0, 2, 1, "timed out after 1 s"},
        {"mail-none", "", 1, 0, 0, ""},
        {"mail-starttls", "", 1, 0, 0, ""},
        {"broker", "mqtt\"", 3, 0, 0, ""},
        {"journal", "journal\"", 1, 0, 0, ""},
    };
    tables += "[mqtt]\nhost = \"127.0.0.1\"\nsite = \"t\"\nport = " + broker + "\n";
    std::vector<std::pair<std::string, std::string>> outbox;
    for (const Row& row : rows) {
        if (!row.keys.empty()) {
            tables += "[[notifier]]\nname = \"" + row.name + "\"\nkind = \"" + row.keys + "\n";
        }
        outbox.emplace_back(row.name, note("firing", "p0"));
    }
    outbox.emplace_back("broker", note("firing", "p1"));
    outbox.emplace_back("broker", note("resolved", "p1"));
    seed(folder / "h.sqlite", outbox);
    const auto service = startService(folder, tables);
    const Shown shown = notifiers(*service);
    for (const Row& row : rows) {
        const json& n = shown.count(row.name) ? shown.at(row.name) : json::object();
        EXPECT_EQ(n.value("delivered", -1), row.delivered) << row.name << service->log();
        EXPECT_EQ(n.value("failed", -1), row.failed) << row.name;
        EXPECT_EQ(n.value("given_up", -1), row.givenUp) << row.name;
        EXPECT_EQ(n.value("last_error", ""), row.error) << row.name;
    }

    std::lock_guard lock(web.mutex);
    EXPECT_EQ(json::parse(web.got["plain"].at(0).body), json::parse(note("firing", "p0")));
    EXPECT_EQ(web.got["shaped"].at(0).body, R"({"text": "p0: no reply"})");
    EXPECT_EQ(web.got["shaped"].at(0).get_header_value("X-Token"), "abc");
    EXPECT_EQ(web.got["flaky"].size(), 6u);
    for (const std::string tls : {"none", "starttls"}) {
        const fs::directory_iterator mails(folder / tls / "new");
        ASSERT_NE(mails, fs::directory_iterator()) << tls;
        const std::string text = read(mails->path());
        EXPECT_NE(text.find("Subject: [zolvaned] FIRING warning: p0 r\n"), std::string::npos)
            << text;
        EXPECT_NE(text.find("\np0: no reply\n"), std::string::npos) << text;
    }
    EXPECT_TRUE(service->waitForLog("<4>[zolvaned] FIRING warning: p0 r: p0: no reply", 1s));
    // What a dashboard that subscribes now is given: p0's alert, retained; p1's cleared.
    const std::string watched = (folder / "watched").string();
    std::system(("mosquitto_sub -p " + broker + " -t 'zolvane/t/alert/#' -F '%r %t %p' -W 2 > " +
                 watched + " 2>&1")
                    .c_str());
    const std::string retained = read(watched);
    EXPECT_TRUE(retained.starts_with("1 zolvane/t/alert/r/p0 {")) << retained;
    EXPECT_NE(retained.find("\"event\":\"firing\""), std::string::npos) << retained;
    EXPECT_EQ(retained.find("p1"), std::string::npos) << retained;
    fs::remove_all(folder);
}

// A notification whose receiver was down when the service was killed is delivered after the
// restart, once.
TEST(Delivery, OutlivesAKill) {
    const fs::path folder = freshFolder();
    const int port = freePort();
    const std::string tables =
        "[[notifier]]\nname = \"hook\"\nkind = \"webhook\"\nurl = "
        "\"http://127.0.0.1:" +
        std::to_string(port) + "/down\"\nretry_seconds = 0.2\n";
    seed(folder / "h.sqlite", {{"hook", note("firing", "p0")}});
    auto service = startService(folder, tables);
    const Shown tried = notifiers(*service, [](const json& n) { return n["failed"] > 0; });
    EXPECT_GT(tried.count("hook") ? tried.at("hook").value("failed", 0) : 0, 0) << service->log();
    service->signal(SIGKILL);
    service->wait(20s);
    Web web(port);
    service = startService(folder, tables);
    const Shown shown = notifiers(*service);
    EXPECT_EQ(shown.count("hook") ? shown.at("hook").value("delivered", 0) : 0, 1)
        << service->log();
    std::lock_guard lock(web.mutex);
    EXPECT_EQ(web.got["down"].size(), 1u);
    fs::remove_all(folder);
}
