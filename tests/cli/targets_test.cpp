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
constexpr uint16_t kFilterTime = 0x10A0;
constexpr uint16_t kPower = 0x6000;
const std::vector<uint16_t> kChecked = {kPower, kLampTime, kFilterTime, kErrorStatus};
const std::string kNak = "projector refused the command (NAK) or sent a reply that does not fit it";
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
        // room101 again, under a time-out of its own.
        timed_ = scratch() / "timed.toml";
        writeFile(timed_,
                  "[[projector]]\nname = \"slow\"\nreceive_timeout_ms = 1000\naddress = "
                  "\"tcp://127.0.0.1:" +
                      std::to_string(fleet_->tcpPort(0)) + "\"\n");
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
    std::filesystem::path timed_;
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
    EXPECT_EQ(live["result"]["lampTime"]["value"], 1235);
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

// A pipeline gets one object per projector and line wherever --json is written, also for a
// link that failed, with the reason in the words of the time-out that was used.
TEST_F(Targets, JsonLinesWhereverTheOptionIsWrittenWithTheReason) {
    const std::string inventory = inventory_.string();
    const struct {
        std::vector<std::string> arguments;
        std::map<std::string, int> statuses;  // by name; "" for a link from the options
        std::string reason;                   // in one of the lines
        int status;
        emu::FaultKind fault = emu::FaultKind::None;  // of room101 and lab
    } cases[] = {
        {{"-i", inventory, "@room101", "@dead", "status", "--json"},
         {{"room101", 0}, {"dead", 3}},
         "get Power: connection refused or not made within 3000 ms",
         3},
        {{"-i", inventory, "@room101", "--json", "status"}, {{"room101", 0}}, "", 0},
        {{"--tcp", "127.0.0.1:" + std::to_string(FreePort()), "status", "--json"},
         {{"", 3}},
         "get Power: connection refused or not made within 3000 ms",
         3},
        {{"-i", inventory, "--json", "@lab", "status"},
         {{"lab", 1}},
         "status: power, input, blank, mute, lamp time, filter time and error status "
         "unreadable: " +
             kNak,
         1,
         emu::FaultKind::Nak},
        {{"-i", timed_.string(), "--json", "@slow", "get", "Power"},
         {{"slow", 3}},
         "get Power: no reply from the projector within 1000 ms",
         3,
         emu::FaultKind::NoReply},
        {{"--json", "--serial", "/dev/\xff\xfe", "status"},
         {{"", 3}},
         "serial port cannot be opened",
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        emu::FaultConfig fault;
        fault.kind = c.fault;
        fleet_->setFault(fault, 0);
        fleet_->setFault(fault, 3);
        const Finished finished = Zolvane(c.arguments);
        EXPECT_EQ(finished.status, c.status) << finished.err;
        std::map<std::string, int> statuses;
        std::string reasons;
        for (const std::string& line : Lines(finished.out)) {
            const json object = json::parse(line, nullptr, false);
            ASSERT_TRUE(object.is_object()) << line;
            statuses[object["name"].is_null() ? "" : object["name"].get<std::string>()] =
                object["status"];
            reasons += object["reason"].get<std::string>() + "\n";
        }
        EXPECT_EQ(statuses, c.statuses) << finished.out;
        EXPECT_THAT(reasons, HasSubstr(c.reason));
    }
    fleet_->clearFault(0);
    fleet_->clearFault(3);
}

// A terminal shows both outputs as one: the summary must never finish another's line.
TEST_F(Targets, TheSummaryHasALineOfItsOwnWhereBothOutputsMeet) {
    const std::vector<std::string> cases[] = {
        {"@all", "status"}, {"--json", "@all", "status"}, {"@room101", "status", "--json"}};
    for (const auto& arguments : cases) {
        std::vector<std::string> argv = {"/bin/sh",   "-c", "exec \"$0\" \"$@\" 2>&1",
                                         ZOLVANE_CLI, "-i", inventory_.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const std::vector<std::string> lines = Lines(cli_testing::Run(argv).out);
        ASSERT_FALSE(lines.empty());
        EXPECT_THAT(lines.back(), testing::MatchesRegex("[0-9]+ projectors?: [0-9]+ done, .*"));
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
            EXPECT_THAT(lines[i], testing::ContainsRegex("^([a-z0-9]+: |zolvane: |\\{)"));
            EXPECT_THAT(lines[i], testing::Not(HasSubstr(" done, ")));
        }
    }
}

TEST_F(Targets, CheckPrintsOneLineAndExitsAsAMonitoringPlugin) {
    const std::string room101 = "127.0.0.1:" + std::to_string(fleet_->tcpPort(0));
    const struct {
        std::vector<std::string> arguments;
        uint16_t lamp;  // of room101
        uint16_t error;
        bool standby;
        int status;
        std::string line;  // the start of it, or a part for the many-projector rows
        std::vector<uint16_t> refused = {};  // gets that room101 refuses
        emu::FaultKind fault = emu::FaultKind::None;
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
        // Nothing read is nothing vouched for.
        {{"--tcp", room101, "check"},
         1234,
         0,
         false,
         3,
         "ZOLVANE UNKNOWN - lamp and filter hours unreadable: " + kNak + "\n",
         kChecked},
        {{"-i", inventory_.string(), "@building-a", "check"},
         1234,
         0,
         false,
         3,
         "ZOLVANE UNKNOWN - room101 UNKNOWN: lamp and filter hours unreadable: " + kNak +
             "; 1 of 2 OK | room102_lamp=",
         kChecked},
        {{"--tcp", room101, "check"},
         1234,
         0,
         true,
         3,
         "ZOLVANE UNKNOWN - lamp and filter hours unreadable: the projector is in standby\n",
         {kLampTime, kFilterTime}},
        {{"--tcp", room101, "check"},
         1234,
         0,
         false,
         0,
         "ZOLVANE OK - lamp 1234 h, filter 567 h |",
         {kPower}},
        {{"-i", timed_.string(), "@slow", "check"},
         1234,
         0,
         false,
         3,
         "ZOLVANE UNKNOWN - slow UNKNOWN: unreachable: no reply from the projector within 1000 ms; "
         "0 of 1 OK\n",
         {},
         emu::FaultKind::NoReply},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        fleet_->setValue(kLampTime, c.lamp, 0);
        fleet_->setValue(kErrorStatus, c.error, 0);
        fleet_->setPower(c.standby ? emu::PowerState::Off : emu::PowerState::On, 0);
        for (const uint16_t type : kChecked) fleet_->failGet(type, false, 0);
        for (const uint16_t type : c.refused) fleet_->failGet(type, true, 0);
        emu::FaultConfig fault;
        fault.kind = c.fault;
        fleet_->setFault(fault, 0);
        const Finished finished = Zolvane(c.arguments);
        EXPECT_EQ(finished.status, c.status) << finished.err;
        EXPECT_THAT(finished.out, StartsWith(c.line));
        EXPECT_EQ(Lines(finished.out).size(), c.line.empty() ? 0u : 1u) << finished.out;
    }
    fleet_->clearFault(0);
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
