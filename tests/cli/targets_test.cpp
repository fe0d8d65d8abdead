// Projectors named from an inventory: four emulated ones (one emulator, consecutive ports) and
// one whose port refuses connections, run through the real program.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli_test.h"

namespace cli_testing {
namespace {

using nlohmann::json;
using testing::HasSubstr;
using testing::StartsWith;

constexpr uint16_t kBrightness = 0x2003;
constexpr uint16_t kLampTime = 0x1090;
constexpr uint16_t kErrorStatus = 0x6020;
const std::vector<uint16_t> kChecked = {0x6000, kLampTime, 0x10A0, kErrorStatus};
const std::vector<std::string> kNames = {"room101", "room102", "room201", "lab"};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class Targets : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        emu::Options options;
        options.count = kNames.size();
        options.coolingTime = std::chrono::milliseconds(0);
        fleet_ = std::make_unique<emu::Emulator>(options);
        std::string error;
        ASSERT_TRUE(fleet_->start(&error)) << error;
        std::string text;
        const char* groups[] = {R"(["building-a"])", R"(["building-a"])", R"(["building-b"])",
                                "[]"};
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            text += "[[projector]]\nname = \"" + kNames[i] +
                    "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(fleet_->tcpPort(i)) +
                    "\"\ngroups = " + groups[i] + "\n";
        }
        text += "[[projector]]\nname = \"dead\"\naddress = \"tcp://127.0.0.1:" +
                std::to_string(FreePort()) + "\"\n";
        inventory_ = scratch() / "inventory.toml";
        writeFile(inventory_, text);
    }
    void TearDown() override {
        fleet_->stop();
        CliTest::TearDown();
    }

    Finished run(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"-i", inventory_.string()});
        return Zolvane(std::move(arguments));
    }
    std::size_t framesSent() const {
        std::size_t frames = 0;
        for (std::size_t i = 0; i < kNames.size(); ++i) frames += fleet_->frames(i).size();
        return frames;
    }

    std::unique_ptr<emu::Emulator> fleet_;
    std::filesystem::path inventory_;
};

TEST_F(Targets, EachNamedProjectorRunsOnceWithItsNameOnEveryLine) {
    const struct {
        std::vector<std::string> targets;
        std::vector<std::string> expected;  // the projectors that answer
        int refusing;                       // index of a projector that refuses, or -1
        int status;
        const char* summary;
    } cases[] = {
        {{"@room101"}, {"room101"}, -1, 0, "1 projector: 1 done, 0 refused, 0 unreachable"},
        {{"@building-a"},
         {"room101", "room102"},
         -1,
         0,
         "2 projectors: 2 done, 0 refused, 0 unreachable"},
        {{"@room101", "@building-a", "@room101"},
         {"room101", "room102"},
         -1,
         0,
         "2 projectors: 2 done, 0 refused, 0 unreachable"},
        {{"@building-b", "@lab"},
         {"room201"},
         3,
         1,
         "2 projectors: 1 done, 1 refused, 0 unreachable"},
        {{"@all"},
         {"room101", "room102", "room201"},
         3,
         3,
         "5 projectors: 3 done, 1 refused, 1 unreachable"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.summary);
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            fleet_->clearFrames(i);
            fleet_->failGet(kBrightness, static_cast<int>(i) == c.refusing, i);
        }
        std::vector<std::string> arguments = c.targets;
        arguments.insert(arguments.end(), {"get", "Brightness"});
        const Finished finished = run(arguments);
        EXPECT_EQ(finished.status, c.status) << finished.err;

        std::multiset<std::string> answered;
        for (const std::string& line : Lines(finished.out)) {
            const std::size_t colon = line.find(": ");
            EXPECT_EQ(line.substr(colon), ": 128");
            answered.insert(line.substr(0, colon));
        }
        EXPECT_EQ(answered, std::multiset<std::string>(c.expected.begin(), c.expected.end()));
        for (const std::string& line : Lines(finished.err)) {
            if (line != c.summary) {
                EXPECT_THAT(line, testing::MatchesRegex("zolvane: [a-z0-9]+: .*"));
            }
        }
        EXPECT_EQ(Lines(finished.err).back(), c.summary);
        // One get each; the refusing one may be asked more, to say why it refused.
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            const std::vector<emu::FrameRecord> frames = fleet_->frames(i);
            if (static_cast<int>(i) == c.refusing) {
                ASSERT_FALSE(frames.empty());
                EXPECT_EQ(frames.front().type, kBrightness);
            } else {
                EXPECT_EQ(frames.size(), answered.count(kNames[i])) << kNames[i];
            }
        }
    }
}

TEST_F(Targets, EachProjectorsLinesComeTogether) {
    const Finished finished = run({"--jobs", "4", "@all", "status"});
    EXPECT_EQ(finished.status, 3);
    std::vector<std::string> order;  // each name where its run of lines starts
    std::map<std::string, int> count;
    for (const std::string& line : Lines(finished.out)) {
        const std::string name = line.substr(0, line.find(':'));
        if (order.empty() || order.back() != name) order.push_back(name);
        ++count[name];
    }
    EXPECT_EQ(order.size(), kNames.size()) << finished.out;
    for (const std::string& name : kNames) EXPECT_EQ(count[name], 7) << name;
}

TEST_F(Targets, JsonGivesOneObjectPerProjectorAlsoWhenItIsUnreachable) {
    const Finished finished = run({"--json", "@room102", "@dead", "status"});
    EXPECT_EQ(finished.status, 3);
    std::map<std::string, json> objects;
    for (const std::string& line : Lines(finished.out)) {
        const json object = json::parse(line);
        objects[object["name"]] = object;
    }
    ASSERT_EQ(objects.size(), 2u) << finished.out;
    const json& live = objects["room102"];
    EXPECT_EQ(live["address"], "tcp://127.0.0.1:" + std::to_string(fleet_->tcpPort(1)));
    EXPECT_EQ(live["reachable"], true);
    EXPECT_EQ(live["status"], 0);
    EXPECT_EQ(live["result"]["lamp_hours"]["value"], 1235);
    EXPECT_EQ(live["reason"], "");
    const json& dead = objects["dead"];
    EXPECT_EQ(dead["reachable"], false);
    EXPECT_EQ(dead["status"], 3);
    EXPECT_EQ(dead["result"], nullptr);
    EXPECT_THAT(dead["reason"].get<std::string>(), HasSubstr("get Power"));
    // A get gives its reading as status does, name beside the value.
    const json power = json::parse(run({"--json", "@room102", "get", "Power"}).out);
    EXPECT_EQ(power["result"], json::parse(R"({"value": 1, "name": "on"})")) << power;
}

// What a pipeline reads, both outputs in one pipe as a terminal shows them: one object per
// projector and line wherever --json is written, also for a link that failed, the reason in the
// words of the time-out used, and the summary on a line of its own.
TEST_F(Targets, APipelineGetsOneLinePerProjectorAndTheSummaryAlone) {
    using enum emu::FaultKind;
    const std::string timed = (scratch() / "timed.toml").string();
    writeFile(timed,
              "[[projector]]\nname = \"slow\"\nreceive_timeout_ms = 1000\naddress = "
              "\"tcp://127.0.0.1:" +
                  std::to_string(fleet_->tcpPort(0)) + "\"\n");
    const struct {
        std::string command;  // $1 the inventory, $2 one with room101 as slow, $3 no projector
        std::map<std::string, int> statuses;  // of the JSON lines, by name ("" for none)
        std::string reason;                   // in one of them
        emu::FaultKind fault = None;          // of room101 and lab
    } cases[] = {
        {"-i \"$1\" @room101 @dead status --json", {{"room101", 0}, {"dead", 3}}, "within 3000 ms"},
        {"--tcp \"$3\" status --json", {{"", 3}}, "get Power: connection refused or not made"},
        {"-i \"$1\" --json @lab status", {{"lab", 1}}, "unreadable: projector refused", Nak},
        {"-i \"$2\" --json @slow get Power", {{"slow", 3}}, "projector within 1000 ms", NoReply},
        {"--json --serial /dev/$(printf '\\377\\376') status", {{"", 3}}, "cannot be opened"},
        {"-i \"$1\" @all status", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        emu::FaultConfig fault;
        fault.kind = c.fault;
        fleet_->setFault(fault, 0);
        fleet_->setFault(fault, 3);
        const std::vector<std::string> lines =
            Lines(cli_testing::Run({"/bin/sh", "-c", "exec \"$0\" " + c.command + " 2>&1",
                                    ZOLVANE_CLI, inventory_.string(), timed,
                                    "127.0.0.1:" + std::to_string(FreePort())})
                      .out);
        std::map<std::string, int> statuses;
        std::string reasons, summary;
        for (const std::string& line : lines) {
            const json object = json::parse(line, nullptr, false);
            if (object.is_object()) {
                statuses[object["name"].is_null() ? "" : object["name"].get<std::string>()] =
                    object["status"];
                reasons += object["reason"].get<std::string>() + "\n";
            }
            if (line.find(" done, ") != std::string::npos) summary += line + "\n";
        }
        EXPECT_EQ(statuses, c.statuses);
        EXPECT_THAT(reasons, HasSubstr(c.reason));
        // The fleet's summary is the last line and the whole of it.
        const bool fleet = c.command.starts_with("-i");
        EXPECT_THAT(summary, testing::MatchesRegex(fleet ? "[0-9]+ projectors?: [^\n]*\n" : ""));
        EXPECT_EQ(summary, fleet && !lines.empty() ? lines.back() + "\n" : "");
    }
    fleet_->clearFault(0);
    fleet_->clearFault(3);
}

TEST_F(Targets, CheckPrintsOneLineAndExitsAsAMonitoringPlugin) {
    const std::string room101 = "127.0.0.1:" + std::to_string(fleet_->tcpPort(0));
    const std::vector<std::string> tcp = {"--tcp", room101, "check"};
    const std::vector<std::string> named = {"-i", inventory_.string(), "@room101", "check"};
    const std::string unread = "ZOLVANE UNKNOWN - lamp and filter hours unreadable: ";
    const struct {
        std::vector<std::string> arguments;
        uint16_t lamp;  // of room101
        uint16_t error;
        bool standby;
        int status;
        std::string line;  // the start of it, or a part for the many-projector rows
        std::vector<uint16_t> refused = {};  // gets that room101 refuses
    } cases[] = {
        {{"--tcp", room101, "check"},
         1234,
         0,
         false,
         0,
         "ZOLVANE OK - lamp 1234 h, filter 567 h | lamp=1234h;2500;3000 filter=567h;900;1000\n"},
        {{"--tcp", room101, "check"}, 2500, 0, false, 1, "ZOLVANE WARNING - lamp 2500 h,"},
        {{"--tcp", room101, "check"}, 3000, 0, false, 2, "ZOLVANE CRITICAL - lamp 3000 h,"},
        {{"--tcp", room101, "check", "--filter-warning", "500"},
         1234,
         0,
         false,
         1,
         "ZOLVANE WARNING - lamp 1234 h, filter 567 h | lamp=1234h;2500;3000 filter=567h;500;"},
        {{"--tcp", room101, "check"},
         1234,
         3,
         false,
         2,
         "ZOLVANE CRITICAL - lamp 1234 h, filter 567 h, error Lamp Error (3) |"},
        {{"--tcp", room101, "check"},
         1234,
         0,
         true,
         0,
         "ZOLVANE OK - lamp 1234 h, filter 567 h, off |"},
        {{"--tcp", "127.0.0.1:" + std::to_string(FreePort()), "check"},
         1234,
         0,
         false,
         3,
         "ZOLVANE UNKNOWN - unreachable: "},
        {{"-i", inventory_.string(), "@building-a", "check"},
         2600,
         0,
         false,
         1,
         "ZOLVANE WARNING - room101 WARNING: lamp 2600 h, filter 567 h; 1 of 2 OK | "
         "room101_lamp=2600h;2500;3000 room101_filter=567h;900;1000 room102_lamp=1235h;"},
        {{"-i", inventory_.string(), "@all", "check"},
         3100,
         0,
         false,
         2,
         "ZOLVANE CRITICAL - room101 CRITICAL: lamp 3100 h, filter 567 h; dead UNKNOWN: "
         "unreachable: "},
        {{"--tcp", room101, "check", "--lamp-warning", "4000"}, 1234, 0, false, 3, ""},
        {{"--tcp", room101, "check", "--lamp-warning", "many"}, 1234, 0, false, 3, ""},
        {{"-i", inventory_.string(), "@nowhere", "check"}, 1234, 0, false, 3, ""},
        // Nothing read is nothing vouched for, in standby too.
        {tcp, 1234, 0, false, 3, unread + "projector refused the command (NAK)", kChecked},
        {named, 1234, 0, false, 3, "ZOLVANE UNKNOWN - room101 UNKNOWN: lamp and filter", kChecked},
        {tcp, 1234, 0, true, 3, unread + "the projector is in standby\n", {kLampTime, 0x10A0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        fleet_->setValue(kLampTime, c.lamp, 0);
        fleet_->setValue(kErrorStatus, c.error, 0);
        fleet_->setPower(c.standby ? emu::PowerState::Off : emu::PowerState::On, 0);
        for (const uint16_t type : kChecked) {
            fleet_->failGet(type, std::count(c.refused.begin(), c.refused.end(), type) > 0, 0);
        }
        const Finished finished = Zolvane(c.arguments);
        EXPECT_EQ(finished.status, c.status) << finished.err;
        EXPECT_THAT(finished.out, StartsWith(c.line));
        EXPECT_EQ(Lines(finished.out).size(), c.line.empty() ? 0u : 1u) << finished.out;
    }
}

TEST_F(Targets, BadInputIsAUsageErrorNamingTheFaultAndSendsNothing) {
    const std::filesystem::path broken = scratch() / "broken.toml";
    writeFile(broken, "[[projector]]\nname = \"a\"\naddress = \"tcp://127.0.0.1:1\"\ncolour = 1\n");
    const std::filesystem::path empty = scratch() / "empty.toml";
    writeFile(empty, "[defaults]\npoll_interval_ms = 5000\n");
    const std::string cli = ZOLVANE_CLI;
    const std::string nowhere = "XDG_CONFIG_HOME=" + (scratch() / "nowhere").string();
    const std::string inventory = inventory_.string();
    const struct {
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        {{cli, "-i", inventory, "@room301", "status"}, "unknown target @room301"},
        {{cli, "-i", inventory, "@room10", "status"}, "(did you mean @room101?)"},
        {{cli, "-i", inventory, "@", "status"}, "'@' needs a projector or group name"},
        {{cli, "-i", broken.string(), "@a", "status"}, "broken.toml:4:"},
        {{cli, "-i", empty.string(), "@all", "status"}, "empty.toml names none"},
        {{"/usr/bin/env", "-u", "ZOLVANE_INVENTORY", nowhere, cli, "@all", "status"},
         "no inventory found (looked for "},
        {{cli, "-i", inventory, "--jobs", "0", "@all", "status"}, "--jobs 0 is not"},
        {{cli, "-i", inventory, "-j", "100000", "@all", "status"}, "--jobs 100000 is not"},
        {{cli, "-i", inventory, "--tcp", "127.0.0.1:1", "@all", "status"}, "cannot be mixed"},
        {{cli, "-i", inventory, "@all", "backup", "x.json"}, "backup writes one file"},
        {{cli, "-i", inventory, "@all", "get", "Brightnes"}, "Brightnes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const Finished finished = cli_testing::Run(c.arguments);
        EXPECT_EQ(finished.status, 2);
        EXPECT_THAT(finished.err, StartsWith("zolvane: "));
        EXPECT_THAT(finished.err, HasSubstr(c.message));
        EXPECT_EQ(framesSent(), 0u);
    }
}

TEST_F(Targets, DefaultInventoryComesFromTheEnvironment) {
    const Finished finished =
        cli_testing::Run({"/usr/bin/env", "ZOLVANE_INVENTORY=" + inventory_.string(), ZOLVANE_CLI,
                          "@lab", "get", "LampTime"});
    EXPECT_EQ(finished.status, 0) << finished.err;
    EXPECT_EQ(finished.out, "lab: 1237\n");
}

}  // namespace
}  // namespace cli_testing
