// Projectors of other makes, reached through PJLink from the inventory: the real program against
// emulated PJLink projectors of class 1 and 2 on loopback, beside one of our own.
#include "cli_test.h"
#include "projector_emulator/pjlink_emulator.h"

namespace cli_testing {
namespace {

TEST_F(CliTest, PjlinkProjectorsGiveTheSameShapesAndStatusesAsOurOwn) {
    // "one": class 1, in standby with a ten-minute warm-up; "silent" never answers; "two": class 2.
    emu::PjlinkOptions options;
    options.count = 2;
    options.warmUpTime = std::chrono::minutes(10);
    emu::PjlinkEmulator one(options);
    options.count = 1;
    options.projectorClass = 2;
    options.initiallyOn = true;
    emu::PjlinkEmulator two(options);
    ASSERT_TRUE(one.start() && two.start());
    one.setFault(emu::PjlinkFault::Silent, 1);
    const auto entry = [](const std::string& name, const std::string& address) {
        return "[[projector]]\nname = \"" + name + "\"\naddress = \"" + address + "\"\n" +
               (name == "ours" || name == "one" ? "groups = [\"mixed\"]\n" : "") +
               (name == "silent" ? "receive_timeout_ms = 1000\n" : "");
    };
    const auto at = [](auto& e, int i) {
        return "pjlink://127.0.0.1:" + std::to_string(e.tcpPort(i));
    };
    const std::filesystem::path inventory = scratch() / "inventory.toml";
    writeFile(inventory, entry("ours", "tcp://" + address()) + entry("one", at(one, 0)) +
                             entry("two", at(two, 0)) + entry("silent", at(one, 1)));
    // In order. power: one's PJLink power before the row, -1 as it is. Each text is in the
    // output or the messages; one that starts with '!' in neither.
    const struct {
        std::vector<std::string> words;
        int power;
        int status;
        std::vector<std::string> shown;
    } cases[] = {
        {{"@one", "status"},
         -1,
         0,
         {"Power:        off (0)", "Lamp time:    1000 h", "!Filter",
          "Input:        not available while the projector is off", "Error status: Normal"}},
        {{"@one", "input", "31"}, -1, 1, {"set InputSource 31: the projector is in standby"}},
        {{"@one", "power", "on"}, -1, 0, {}},
        {{"@one", "power", "off"}, -1, 1, {"set Power 0: PJLink ERR3"}},
        {{"@one", "input", "32"}, 1, 0, {}},
        {{"@one", "get", "InputSource"}, -1, 0, {"one: 32"}},
        {{"@one", "input", "HDMI"},
         -1,
         2,
         {"\"HDMI\" is not an input of ", "(RGB 1, RGB 2, DIGITAL 1"}},
        {{"@one", "blank", "on"}, -1, 0, {}},
        {{"@one", "get", "Blank"}, -1, 0, {"one: on (1)"}},
        {{"@one", "mute", "on"}, -1, 0, {}},
        {{"@one", "get", "Mute"}, -1, 0, {"one: on (1)"}},
        {{"@one", "get", "LampTime"}, -1, 0, {"one: 1000"}},
        {{"@one", "get", "Brightness"}, -1, 1, {"get Brightness"}},
        {{"@one", "--trace", "get", "Power"}, -1, 0, {"> get Power (PJLink)", "!1D "}},
        {{"@two", "status"},
         -1,
         0,
         {"Power:        on (1)", "Input:        31", "Filter time:  500 h"}},
        {{"@two", "input", "hdmi 2"}, -1, 0, {}},
        {{"@two", "get", "InputSource"}, -1, 0, {"two: 32"}},
        {{"@two", "check"}, -1, 0, {"OK - 1 of 1 OK | two_lamp=1000h;2500;3000 two_filter=500h"}},
        {{"@silent", "get", "Power"}, -1, 3, {"silent: get Power"}},
        {{"@mixed", "power", "off"}, 1, 0, {"2 projectors: 2 done, 0 refused, 0 unreachable"}},
        {{"@mixed", "get", "Power"}, -1, 0, {"ours: off (0)", "one: "}},
        {{"@mixed", "input", "31"}, 1, 2, {"1 done, 0 refused, 0 unreachable, 1 bad input"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments{"-i", inventory.string()};
        arguments.insert(arguments.end(), c.words.begin(), c.words.end());
        SCOPED_TRACE(testing::PrintToString(arguments));
        if (c.power >= 0) one.setPower(c.power, 0);
        const Finished finished = Zolvane(arguments);
        EXPECT_EQ(finished.status, c.status) << finished.out << finished.err;
        for (const std::string& text : c.shown) {
            const bool absent = text.starts_with('!');
            EXPECT_EQ((finished.out + finished.err).find(text.substr(absent ? 1 : 0)) ==
                          std::string::npos,
                      absent)
                << text << " in:\n"
                << finished.out << finished.err;
        }
    }
}

}  // namespace
}  // namespace cli_testing
