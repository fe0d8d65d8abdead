// zolvaned on a real broker: a mosquitto of the test's own on a free loopback port, the real
// service as a child, the projectors emulated in-process, and a second client to watch and
// command as a dashboard would.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using service_testing::freePort;
using service_testing::ServiceProcess;
using zolvane::emulator::Emulator;

constexpr std::uint16_t kBlank = 0x3020;
constexpr std::uint16_t kMute = 0x2002;
const std::string kBase = "zolvane/t";

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

void write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

// The broker, with nothing kept over a restart: whatever is retained after one was sent again.
class Broker {
public:
    Broker(const std::filesystem::path& folder, std::string extra = {})
        : config_(folder / "mosquitto.conf"), port_(freePort()) {
        if (extra.find("allow_anonymous") == std::string::npos) {
            extra += "allow_anonymous true\n";
        }
        write(config_,
              "listener " + std::to_string(port_) + " 127.0.0.1\nlog_dest stderr\n" + extra);
        start();
    }
    int port() const { return port_; }
    void start() {
        process_ = std::make_unique<ServiceProcess>(
            std::vector<std::string>{"/usr/sbin/mosquitto", "-c", config_.string()});
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!accepts(port_) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
    }
    void stop() {
        process_->signal(SIGTERM);
        process_->wait(10s);
        process_.reset();
    }

private:
    std::filesystem::path config_;
    int port_;
    std::unique_ptr<ServiceProcess> process_;
};

// A second client: everything under a filter, in arrival order, and commands published.
class Watcher {
public:
    explicit Watcher(int port, const std::string& filter = "#") : filter_(filter) {
        mosquitto_lib_init();
        handle_ = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(handle_, [](mosquitto* m, void* self, int) {
            mosquitto_subscribe(m, nullptr, static_cast<Watcher*>(self)->filter_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(handle_, [](mosquitto*, void* self, int, int, const int*) {
            auto* watcher = static_cast<Watcher*>(self);
            std::lock_guard lock(watcher->mutex_);
            watcher->subscribed_ = true;
            watcher->changed_.notify_all();
        });
        mosquitto_message_callback_set(
            handle_, [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* watcher = static_cast<Watcher*>(self);
                std::lock_guard lock(watcher->mutex_);
                watcher->messages_[m->topic].push_back(
                    {std::string(static_cast<const char*>(m->payload),
                                 static_cast<std::size_t>(m->payloadlen)),
                     m->retain});
                watcher->changed_.notify_all();
            });
        mosquitto_connect(handle_, "127.0.0.1", port, 30);
        mosquitto_loop_start(handle_);
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 10s, [this] { return subscribed_; });
    }
    ~Watcher() {
        mosquitto_disconnect(handle_);
        mosquitto_loop_stop(handle_, false);
        mosquitto_destroy(handle_);
    }

    struct Message {
        std::string payload;
        bool retained;
    };

    // The first message on topic, from index on, that pred takes.
    std::optional<Message> waitFor(const std::string& topic,
                                   const std::function<bool(const std::string&)>& pred,
                                   std::size_t from = 0, std::chrono::milliseconds timeout = 20s) {
        std::unique_lock lock(mutex_);
        std::optional<Message> found;
        changed_.wait_for(lock, timeout, [&] {
            const auto& list = messages_[topic];
            for (std::size_t i = from; i < list.size(); ++i) {
                if (pred(list[i].payload)) {
                    found = list[i];
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    std::optional<Message> waitFor(const std::string& topic, const std::string& payload,
                                   std::size_t from = 0) {
        return waitFor(
            topic, [&](const std::string& p) { return p == payload; }, from);
    }
    std::size_t count(const std::string& topic) {
        std::lock_guard lock(mutex_);
        return messages_[topic].size();
    }
    std::optional<Message> last(const std::string& topic) {
        std::lock_guard lock(mutex_);
        const auto& list = messages_[topic];
        return list.empty() ? std::nullopt : std::optional<Message>(list.back());
    }
    void publish(const std::string& topic, const std::string& payload, bool retain = false) {
        mosquitto_publish(handle_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, retain);
    }

private:
    std::string filter_;
    mosquitto* handle_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool subscribed_ = false;
    std::map<std::string, std::vector<Message>> messages_;
};

// Every frame that asked a projector to change something (anything but a get).
std::size_t changeFrames(const Emulator& emulator) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < emulator.count(); ++i) {
        for (const auto& frame : emulator.frames(i)) count += frame.action != 2;
    }
    return count;
}

// A broker, three emulated projectors (p0, p1 in "halls", p2 in "lobby") and the service.
struct Site {
    explicit Site(std::string brokerExtra = {}, std::string mqttExtra = {},
                  const std::string& prepare = {}) {
        std::string pattern = (std::filesystem::temp_directory_path() / "zolvaned-mqtt-XXXXXX");
        folder = ::mkdtemp(pattern.data());
        // A broker started as root reads its files as the user it changes to.
        std::filesystem::permissions(
            folder, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                        std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                        std::filesystem::perms::others_exec);
        if (!prepare.empty()) {
            const std::string command =
                "cd " + folder.string() + " && (" + prepare + ") >/dev/null 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0) << prepare;
        }
        for (std::string* text : {&brokerExtra, &mqttExtra}) {
            for (auto at = text->find("DIR"); at != std::string::npos; at = text->find("DIR")) {
                text->replace(at, 3, folder.string());
            }
        }
        broker = std::make_unique<Broker>(folder, std::move(brokerExtra));
        zolvane::emulator::Options options;
        options.count = 3;
        emulator = std::make_unique<Emulator>(options);
        emulator->start();
        std::string text =
            "[mqtt]\nhost = \"127.0.0.1\"\n"
            "port = " +
            std::to_string(broker->port()) + "\nsite = \"t\"\nkeepalive_s = 5\n" + mqttExtra +
            "\n[defaults]\npoll_interval_ms = 200\nslow_poll_interval_ms = 1000\n"
            "connect_timeout_ms = 300\nreceive_timeout_ms = 300\noffline_after = 2\n";
        const char* groups[] = {"[\"halls\"]", "[\"halls\"]", "[\"lobby\"]"};
        for (std::size_t i = 0; i < 3; ++i) {
            text += "\n[[projector]]\nname = \"p" + std::to_string(i) +
                    "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(emulator->tcpPort(i)) +
                    "\"\ngroups = " + groups[i] + "\n";
        }
        write(folder / "inventory.toml", text);
    }
    void startService(const std::string& expected = "mqtt: connected") {
        service = std::make_unique<ServiceProcess>(
            std::vector<std::string>{ZOLVANED, "--inventory", (folder / "inventory.toml").string(),
                                     "--listen", "127.0.0.1:0"});
        ASSERT_TRUE(service->waitForLog(expected, 10s)) << service->log();
    }
    // Every run ends cleanly, and a sanitizer build of the service found nothing on the way.
    ~Site() {
        if (service) {
            service->signal(SIGTERM);
            EXPECT_EQ(service->wait(10s), 0) << service->log();
            EXPECT_EQ(service->log().find("Sanitizer"), std::string::npos) << service->log();
            EXPECT_EQ(service->log().find("runtime error"), std::string::npos);
        }
        std::filesystem::remove_all(folder);
    }
    std::filesystem::path folder;
    std::unique_ptr<Broker> broker;
    std::unique_ptr<Emulator> emulator;
    std::unique_ptr<ServiceProcess> service;
};

std::string topic(const std::string& projector, const std::string& leaf) {
    return kBase + "/projector/" + projector + "/" + leaf;
}

// Retained state read by a subscriber that came after; discovery of a projector that left the
// inventory cleared; a projector that stops answering shown offline.
TEST(MqttState, RetainedTopicsAvailabilityAndDiscovery) {
    Site site;
    const std::string gone = "homeassistant/switch/zolvane_t_gone/power/config";
    {
        Watcher early(site.broker->port(), "none");
        early.publish(gone, "{\"unique_id\":\"zolvane_t_gone_power\"}", true);
        ASSERT_TRUE(early.waitFor(
                        gone, [](auto&) { return true; }, 0, 100ms) ||
                    true);
        std::this_thread::sleep_for(200ms);
    }
    Watcher before(site.broker->port());
    // A command left retained would run at every connect: it is answered and never run.
    before.publish(topic("p1", "set/Blank"), "on", true);
    ASSERT_TRUE(before.waitFor(topic("p1", "set/Blank"), "on"));
    site.startService();
    const auto refused = before.waitFor(topic("p1", "result"), [](auto&) { return true; });
    ASSERT_TRUE(refused);
    EXPECT_EQ(json::parse(refused->payload)["outcome"], "invalid") << refused->payload;
    EXPECT_NE(refused->payload.find("retained"), std::string::npos) << refused->payload;
    EXPECT_EQ(changeFrames(*site.emulator), 0u);
    ASSERT_TRUE(before.waitFor(topic("p2", "availability"), "online")) << site.service->log();
    ASSERT_TRUE(before.waitFor(topic("p2", "lamp_hours"), [](auto&) { return true; }));
    ASSERT_TRUE(before.waitFor(gone, "")) << "discovery of a projector gone stays";

    Watcher fresh(site.broker->port());
    const auto retained = [&](const std::string& t, const std::string& payload) {
        const auto m = fresh.waitFor(t, payload);
        return m && m->retained;
    };
    EXPECT_TRUE(retained(kBase + "/status", "online"));
    EXPECT_TRUE(retained(topic("p1", "power"), "on"));
    EXPECT_TRUE(retained(topic("p1", "reach"), "online"));
    EXPECT_TRUE(retained(topic("p1", "blank"), "off"));
    EXPECT_TRUE(retained(topic("p1", "error_status"), "Normal"));
    const auto state = fresh.waitFor(topic("p1", "state"), [](auto&) { return true; });
    ASSERT_TRUE(state);
    const json shown = json::parse(state->payload);
    EXPECT_EQ(shown["name"], "p1");
    EXPECT_EQ(shown["state"]["power"]["name"], "on");
    const auto hours = fresh.waitFor(topic("p1", "lamp_hours"), [](auto&) { return true; });
    ASSERT_TRUE(hours);
    EXPECT_EQ(std::to_string(shown["state"]["lamp_hours"]["value"].get<int>()), hours->payload);
    EXPECT_TRUE(fresh.waitFor("homeassistant/switch/zolvane_t_p1/power/config",
                              [](const std::string& p) { return !p.empty(); }));

    // Home Assistant started again: discovery and state come again.
    const std::string config = "homeassistant/switch/zolvane_t_p1/power/config";
    const std::size_t configs = fresh.count(config);
    fresh.publish("homeassistant/status", "online");
    EXPECT_TRUE(fresh.waitFor(
        config, [](const std::string& p) { return !p.empty(); }, configs));

    zolvane::emulator::FaultConfig silent;
    silent.kind = zolvane::emulator::FaultKind::NoReply;
    site.emulator->setFault(silent, 2);
    EXPECT_TRUE(fresh.waitFor(topic("p2", "availability"), "offline")) << site.service->log();
    EXPECT_TRUE(fresh.waitFor(topic("p2", "reach"), "offline"));
}

// One message in, and what must come of it.
struct CommandCase {
    const char* name;
    std::string topic;  // under BASE
    std::string payload;
    bool retain;
    std::string resultTopic;  // under BASE
    const char* outcome;
    const char* reason;  // part of the reason; "" for none
    // When the command must reach the emulator: the setting, which projector and its value.
    std::uint16_t type = 0;
    std::size_t index = 0;
    std::uint16_t value = 0;
};

void PrintTo(const CommandCase& c, std::ostream* out) { *out << c.name; }

// One broker, site and service for the whole table: each row runs on what the ones before
// left, so every bad row also shows that the connection was kept.
class MqttCommand : public testing::TestWithParam<CommandCase> {
protected:
    static void SetUpTestSuite() {
        site_ = new Site;
        site_->startService();
        watcher_ = new Watcher(site_->broker->port(), kBase + "/#");
        for (const char* name : {"p0", "p1", "p2"}) {
            ASSERT_TRUE(watcher_->waitFor(topic(name, "availability"), "online"));
        }
    }
    static void TearDownTestSuite() {
        delete watcher_;
        delete site_;
    }
    static Site* site_;
    static Watcher* watcher_;
};
Site* MqttCommand::site_ = nullptr;
Watcher* MqttCommand::watcher_ = nullptr;

TEST_P(MqttCommand, IsAnsweredOnItsResultTopic) {
    const CommandCase& c = GetParam();
    const std::string results = kBase + "/" + c.resultTopic;
    const std::size_t before = watcher_->count(results);
    const std::size_t framesBefore = changeFrames(*site_->emulator);
    const std::size_t commands = watcher_->count(kBase + "/" + c.topic);
    watcher_->publish(kBase + "/" + c.topic, c.payload, c.retain);
    const auto result = watcher_->waitFor(
        results, [](auto&) { return true; }, before);
    ASSERT_TRUE(result) << site_->service->log();
    EXPECT_FALSE(result->retained);
    const json shown = json::parse(result->payload);
    EXPECT_EQ(shown["outcome"], c.outcome) << result->payload;
    EXPECT_EQ(shown["ok"], std::string(c.outcome) == "accepted") << result->payload;
    EXPECT_NE(shown.value("reason", "").find(c.reason), std::string::npos) << result->payload;
    if (c.type != 0) {
        EXPECT_EQ(site_->emulator->value(c.type, c.index), c.value);
    } else {
        EXPECT_EQ(changeFrames(*site_->emulator), framesBefore) << "sent to a projector";
        EXPECT_EQ(shown["topic"], kBase + "/" + c.topic);
    }
    if (c.payload.find("\"id\"") != std::string::npos) {
        EXPECT_EQ(shown["id"], "c-1");
    }
    if (c.retain) {
        EXPECT_TRUE(watcher_->waitFor(kBase + "/" + c.topic, "", commands)) << "left retained";
    }
}

const std::string kHuge(5000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, MqttCommand,
    testing::Values(
        CommandCase{"SetByName", "projector/p0/set/Blank", "on", false, "projector/p0/result",
                    "accepted", "", kBlank, 0, 1},
        CommandCase{"SetByNumberShortName", "projector/p0/set/blank", "0", false,
                    "projector/p0/result", "accepted", "", kBlank, 0, 0},
        CommandCase{"CommandWithId", "projector/p1/command",
                    R"({"command":"set","setting":"Mute","value":"on","id":"c-1"})", false,
                    "projector/p1/result", "accepted", "", kMute, 1, 1},
        CommandCase{"Group", "group/halls/command", R"({"command":"mute","value":"on"})", false,
                    "projector/p0/result", "accepted", "", kMute, 0, 1},
        CommandCase{"All", "group/all/set/Mute", "off", false, "projector/p2/result", "accepted",
                    "", kMute, 2, 0},
        CommandCase{"UnknownProjector", "projector/nobody/set/Power", "on", false, "result",
                    "invalid", "unknown projector \"nobody\""},
        CommandCase{"UnknownGroup", "group/attic/command", R"({"command":"power","value":"on"})",
                    false, "result", "invalid", "unknown group \"attic\""},
        CommandCase{"UnknownSetting", "projector/p0/set/Colour", "1", false, "projector/p0/result",
                    "invalid", "no setting \"Colour\""},
        CommandCase{"UnknownValueName", "projector/p0/set/Blank", "purple", false,
                    "projector/p0/result", "invalid", "has no value \"purple\""},
        CommandCase{"OutOfRange", "projector/p0/set/Brightness", "99999", false,
                    "projector/p0/result", "invalid", "does not take"},
        CommandCase{"NotJson", "projector/p0/command", "{power on", false, "projector/p0/result",
                    "invalid", "not JSON"},
        CommandCase{"NoCommandWord", "group/halls/command", R"({"value":1})", false, "result",
                    "invalid", "needs \"command\""},
        CommandCase{"Oversized", "projector/p1/command", kHuge, false, "projector/p1/result",
                    "invalid", "over 4096"},
        // Bytes no value holds, and a retained command sent while connected.
        CommandCase{"ValueNotUtf8", "projector/p0/set/Power", "\xff", false, "projector/p0/result",
                    "invalid", "not UTF-8"},
        CommandCase{"NulInValue", "projector/p0/set/Power", std::string("off\0junk", 8), false,
                    "projector/p0/result", "invalid", "control character"},
        CommandCase{"EscapeInValue", "projector/p0/set/power", "off\x1b[2J", false,
                    "projector/p0/result", "invalid", "control character"},
        CommandCase{"NulInJsonSetting", "projector/p0/command",
                    R"({"command":"set","setting":"Power\u0000x","value":"off"})", false,
                    "projector/p0/result", "invalid", "control character"},
        CommandCase{"JsonNotUtf8", "group/halls/command",
                    "{\"command\":\"power\",\"value\":\"\xc0\xaf\"}", false, "result", "invalid",
                    "not JSON"},
        CommandCase{"NoSettingLevel", "projector/p0/set/", "off", false, "projector/p0/result",
                    "invalid", "names no setting"},
        CommandCase{"RetainedWhileConnected", "projector/p1/set/Power", "off", true,
                    "projector/p1/result", "invalid", "retained"},
        CommandCase{"RetainedToGroup", "group/all/command", R"({"command":"power","value":"off"})",
                    true, "result", "invalid", "retained"},
        CommandCase{"AfterTheBadOnes", "projector/p1/set/Blank", "on", false, "projector/p1/result",
                    "accepted", "", kBlank, 1, 1}),
    [](const testing::TestParamInfo<CommandCase>& info) { return info.param.name; });

// A message delivered twice with one id runs once; the second gets the first's result.
TEST(MqttFaults, RedeliveredCommandRunsOnce) {
    Site site;
    site.startService();
    Watcher watcher(site.broker->port(), kBase + "/#");
    ASSERT_TRUE(watcher.waitFor(topic("p0", "availability"), "online"));
    const std::string command = R"({"command":"set","setting":"Blank","value":"on","id":"r-7"})";
    const std::size_t frames = changeFrames(*site.emulator);
    watcher.publish(topic("p0", "command"), command);
    const auto first = watcher.waitFor(topic("p0", "result"), [](auto&) { return true; });
    ASSERT_TRUE(first);
    watcher.publish(topic("p0", "command"), command);
    const auto second = watcher.waitFor(
        topic("p0", "result"), [](auto&) { return true; }, 1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->payload, first->payload);
    EXPECT_EQ(changeFrames(*site.emulator), frames + 1);

    // A clean stop says so itself: a clean disconnect does not fire the will.
    site.service->signal(SIGTERM);
    EXPECT_EQ(site.service->wait(10s), 0);
    site.service.reset();
    Watcher fresh(site.broker->port(), kBase + "/status");
    EXPECT_TRUE(fresh.waitFor(kBase + "/status", "offline"));
}

// A projector that stops answering holds up only itself: past the 16 commands its queue takes
// and the one running the rest are answered "busy" at once, every command is answered, and
// another projector's result does not wait behind them.
TEST(MqttFaults, SilentProjectorHoldsUpOnlyItself) {
    Site site;
    site.startService();
    Watcher watcher(site.broker->port(), kBase + "/#");
    ASSERT_TRUE(watcher.waitFor(topic("p0", "availability"), "online"));
    zolvane::emulator::FaultConfig silent;
    silent.kind = zolvane::emulator::FaultKind::NoReply;
    silent.onlyType = kBlank;
    silent.frameCount = 4;  // some 2 s each, then it answers again
    site.emulator->setFault(silent, 2);
    const std::string results = topic("p2", "result");
    const std::size_t before = watcher.count(results), sent = 24;
    const auto outcome = [&](std::size_t i) {
        return json::parse(watcher
                               .waitFor(
                                   results, [](auto&) { return true; }, i)
                               ->payload)
            .value("outcome", "");
    };
    for (std::size_t i = 0; i < sent; ++i) watcher.publish(topic("p2", "set/Blank"), "on");
    watcher.publish(topic("p0", "set/Blank"), "on");
    const auto other = watcher.waitFor(topic("p0", "result"), [](auto&) { return true; });
    ASSERT_TRUE(other) << site.service->log();
    std::size_t ran = 0, busy = 0;
    for (std::size_t i = before; i < watcher.count(results); ++i) ran += outcome(i) != "busy";
    EXPECT_LE(ran, 1u) << "behind the silent one";
    ASSERT_TRUE(watcher.waitFor(
        results, [](auto&) { return true; }, before + sent - 1, 120s));
    for (std::size_t i = before; i < before + sent; ++i) busy += outcome(i) == "busy";
    EXPECT_GE(busy, sent - 17);
    EXPECT_LE(busy, sent - 16);
}

// A projector in standby has no input, blank or mute to show: what an earlier run left retained
// there is cleared, and its state says they are not known.
TEST(MqttState, ValuesNotKnownClearTheirTopics) {
    Site site;
    site.emulator->setPower(zolvane::emulator::PowerState::Off, 1);
    Watcher watcher(site.broker->port(), kBase + "/#");
    const char* stale[] = {"input", "blank", "mute"};
    for (const char* leaf : stale) watcher.publish(topic("p1", leaf), "on", true);
    for (const char* leaf : stale) ASSERT_TRUE(watcher.waitFor(topic("p1", leaf), "on"));
    site.startService();
    for (const char* leaf : stale) EXPECT_TRUE(watcher.waitFor(topic("p1", leaf), "", 1)) << leaf;
    const auto state = watcher.waitFor(topic("p1", "state"), [](const std::string& p) {
        return json::parse(p)["state"]["power"].contains("value");
    });
    ASSERT_TRUE(state);
    for (const char* leaf : stale) {
        EXPECT_TRUE(json::parse(state->payload)["state"][leaf].is_null()) << state->payload;
    }
}

// A broker that wants a password or TLS: the service connects with the right ones only.
struct SecureCase {
    const char* name;
    const char* prepare;  // shell, in the site's folder
    const char* broker;   // broker settings; DIR is the site's folder
    const char* mqtt;     // inventory [mqtt] keys
    const char* log;      // what the service logs
};

void PrintTo(const SecureCase& c, std::ostream* out) { *out << c.name; }

class MqttSecure : public testing::TestWithParam<SecureCase> {};

TEST_P(MqttSecure, ConnectsOnlyWithTheRightCredentials) {
    const SecureCase& c = GetParam();
    Site site(c.broker, c.mqtt, c.prepare);
    site.startService(c.log);
}

#define USERS                                          \
    "mosquitto_passwd -b -c users zolvaned s3cret && " \
    "echo s3cret > right && echo wrong > wrong"
#define AUTH "allow_anonymous false\npassword_file DIR/users\n"
#define TLS                                                                                     \
    "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key " \
    "-out ca.pem -days 2 -subj /CN=test-ca && openssl req -newkey ec -pkeyopt "                 \
    "ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr -subj "             \
    "/CN=127.0.0.1 && echo subjectAltName=IP:127.0.0.1 > san && openssl x509 -req "             \
    "-in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "          \
    "-extfile san && chmod 644 server.key"
INSTANTIATE_TEST_SUITE_P(
    Table, MqttSecure,
    testing::Values(
        SecureCase{"Password", USERS, AUTH,
                   "username = \"zolvaned\"\npassword_file = \"DIR/right\"\n", "mqtt: connected"},
        SecureCase{"WrongPassword", USERS, AUTH,
                   "username = \"zolvaned\"\npassword_file = \"DIR/wrong\"\n",
                   "refused by the broker"},
        SecureCase{"NoPassword", USERS, AUTH, "", "refused by the broker"},
        SecureCase{"TlsWithCa", TLS,
                   "cafile DIR/ca.pem\ncertfile DIR/server.pem\nkeyfile DIR/server.key\n",
                   "ca_file = \"DIR/ca.pem\"\n", "mqtt: connected"}),
    [](const testing::TestParamInfo<SecureCase>& info) { return info.param.name; });
#undef USERS
#undef AUTH
#undef TLS

// A killed service leaves its will: the site shows offline.
TEST(MqttFaults, KilledServiceLeavesItsWill) {
    Site site;
    site.startService();
    Watcher watcher(site.broker->port(), kBase + "/status");
    ASSERT_TRUE(watcher.waitFor(kBase + "/status", "online"));
    site.service->signal(SIGKILL);
    site.service->wait(10s);
    site.service.reset();
    const auto will = watcher.waitFor(kBase + "/status", "offline");
    ASSERT_TRUE(will);
    Watcher fresh(site.broker->port(), kBase + "/status");
    EXPECT_TRUE(fresh.waitFor(kBase + "/status", "offline"));
}

// A broker not there at the start is waited for; then it goes away and comes back empty: the
// state of now, changed meanwhile, and the discovery are there again, and commands work again.
TEST(MqttFaults, BrokerRestartRepublishesEverything) {
    Site site;
    site.broker->stop();
    site.emulator->setPower(zolvane::emulator::PowerState::Off, 1);
    site.startService("mqtt: connecting");
    ASSERT_TRUE(site.service->waitForLog("p0 online", 10s));
    site.broker->start();
    ASSERT_TRUE(site.service->waitForLog("mqtt: connected", 20s)) << site.service->log();
    {
        Watcher watcher(site.broker->port(), kBase + "/#");
        ASSERT_TRUE(watcher.waitFor(topic("p0", "blank"), "off"));
    }
    site.broker->stop();
    ASSERT_TRUE(site.service->waitForLog("mqtt: no connection", 10s));
    site.emulator->setValue(kBlank, 1, 0);
    std::this_thread::sleep_for(600ms);  // polled meanwhile
    site.broker->start();
    ASSERT_TRUE(site.service->waitForLog("mqtt: connected", 90s)) << site.service->log();
    Watcher fresh(site.broker->port());
    EXPECT_TRUE(fresh.waitFor(topic("p0", "blank"), "on")) << site.service->log();
    EXPECT_TRUE(fresh.waitFor(topic("p1", "power"), "off"));
    const auto input = fresh.last(topic("p1", "input"));  // as before the restart: not known
    EXPECT_TRUE(!input || input->payload.empty()) << input->payload;
    EXPECT_TRUE(fresh.waitFor(kBase + "/status", "online"));
    EXPECT_TRUE(fresh.waitFor("homeassistant/switch/zolvane_t_p0/power/config",
                              [](const std::string& p) { return !p.empty(); }));
    fresh.publish(topic("p2", "set/Blank"), "on");
    const auto result = fresh.waitFor(topic("p2", "result"), [](auto&) { return true; });
    ASSERT_TRUE(result);
    EXPECT_EQ(json::parse(result->payload)["outcome"], "accepted");
    EXPECT_EQ(site.emulator->value(kBlank, 2), 1);
}

}  // namespace
