// One command on one setting, as a script would send it, and what the exit status says.
#include <chrono>

#include "cli_test.h"

namespace cli_testing {
namespace {

using testing::HasSubstr;

class SettingCommands : public CliTest {
protected:
    emu::FrameRecord lastFrame() {
        const auto frames = projector().frames();
        return frames.empty() ? emu::FrameRecord{} : frames.back();
    }
};

TEST_F(SettingCommands, ChangeAndReadSettingsByNameLabelOrHex) {
    EXPECT_EQ(zolvane({"set", "brightness", "140"}).status, 0);
    EXPECT_EQ(projector().value(0x2003), 140);
    const Finished read = zolvane({"get", "BRIGHTNESS"});
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.out, "140\n");

    EXPECT_EQ(zolvane({"set", "Color Bal R", "0x64"}).status, 0) << "label and hex value";
    EXPECT_EQ(projector().value(0x2005), 100);
    EXPECT_EQ(zolvane({"get", "3dyc"}).out, "on (1)\n");

    EXPECT_EQ(zolvane({"inc", "brightness"}).status, 0);
    EXPECT_EQ(projector().value(0x2003), 141);
    EXPECT_EQ(zolvane({"dec", "contrast"}).status, 0);
    EXPECT_EQ(projector().value(0x2004), 127);

    EXPECT_EQ(zolvane({"reset", "brightness"}).status, 0);
    EXPECT_EQ(projector().value(0x2003), 128);
    EXPECT_EQ(lastFrame().type, 0x7000) << "a reset sends the reset type code";

    EXPECT_EQ(zolvane({"exec", "AutoAdjust"}).status, 0);
    EXPECT_EQ(lastFrame().action, 6);
    EXPECT_EQ(lastFrame().type, 0x200A);
}

// What each command sends, frame by frame (action and type code): the queue it runs over adds
// no question of its own, such as asking for the power after switching it.
TEST_F(SettingCommands, EachCommandSendsItsOwnFramesAndNoMore) {
    const struct {
        std::vector<std::string> arguments;
        std::vector<std::pair<int, int>> frames;
    } rows[] = {
        {{"get", "power"}, {{2, 0x6000}}},
        {{"power", "on"}, {{2, 0x6000}, {1, 0x6000}}},  // first: is it cooling down?
        {{"set", "brightness", "140"}, {{1, 0x2003}}},
        {{"reset", "brightness"}, {{6, 0x7000}}},
        {{"power", "off"}, {{1, 0x6000}}},
    };
    for (const auto& row : rows) {
        projector().clearFrames();
        EXPECT_EQ(zolvane(row.arguments).status, 0) << row.arguments[0];
        std::vector<std::pair<int, int>> sent;
        for (const emu::FrameRecord& frame : projector().frames()) {
            sent.emplace_back(frame.action, frame.type);
        }
        EXPECT_EQ(sent, row.frames) << row.arguments[0] << " " << row.arguments[1];
    }
}

TEST_F(SettingCommands, EverydayCommandsTakeNames) {
    EXPECT_EQ(zolvane({"input", "m1-d"}).status, 0);
    EXPECT_EQ(projector().value(0x2000), 3);
    EXPECT_EQ(zolvane({"input", "Component"}).status, 0);
    EXPECT_EQ(projector().value(0x2000), 5);
    EXPECT_EQ(zolvane({"set", "input source", "s-video"}).status, 0);
    EXPECT_EQ(projector().value(0x2000), 2);
    EXPECT_EQ(zolvane({"blank", "on"}).status, 0);
    EXPECT_EQ(projector().value(0x3020), 1);
    EXPECT_EQ(zolvane({"mute", "on"}).status, 0);
    EXPECT_EQ(projector().value(0x2002), 1);
    EXPECT_EQ(zolvane({"set", "mute", "off"}).status, 0);
    EXPECT_EQ(projector().value(0x2002), 0);

    EXPECT_EQ(zolvane({"power", "off"}).status, 0);
    EXPECT_NE(projector().power(), emu::PowerState::On);
    EXPECT_EQ(zolvane({"power", "on"}).status, 0);
    EXPECT_EQ(projector().power(), emu::PowerState::On);
}

TEST_F(SettingCommands, ValuesByNameAndNamesShown) {
    const struct {
        const char* setting;
        const char* written;
        uint16_t type;
        uint16_t value;
        const char* shown;  // by get, and by get --names
    } cases[] = {
        {"Aspect", "normal", 0x2008, 16, "Normal (16)"},
        {"aspect", "16:9", 0x2008, 1, "16:9 (1)"},
        {"Mirror", "h&v_inverse", 0x3001, 3, "H&V Inverse (3)"},
        {"Language", "JAPANESE", 0x3005, 8, "Japanese (8)"},
        {"Blank Color", "original", 0x3000, 0x40, "Original (64)"},
        {"Power Up Input", "last input", 0x2018, 16, "Last Input (16)"},
        {"CustomUserR", "70", 0x30B1, 3, "70 (3)"},
        {"Brightness", "0x9A", 0x2003, 154, "154"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zolvane({"set", c.setting, c.written}).status, 0) << c.written;
        EXPECT_EQ(projector().value(c.type), c.value) << c.written;
        EXPECT_EQ(zolvane({"get", c.setting}).out, std::string(c.shown) + "\n");
        EXPECT_EQ(zolvane({"get", c.setting, "--names"}).out, std::string(c.shown) + "\n");
        EXPECT_EQ(zolvane({"get", c.setting, "--number"}).out, std::to_string(c.value) + "\n");
    }
    projector().setValue(0x6020, 1);
    EXPECT_EQ(zolvane({"get", "ErrorStatus"}).out, "Cover Error (1)\n");
}

TEST_F(SettingCommands, RefusedAndUnreadableExitOneWithTheReason) {
    projector().refuseSet(0x2003);
    const Finished refused = zolvane({"set", "brightness", "140"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, HasSubstr("set Brightness 140: projector refused the command"));
    EXPECT_EQ(projector().value(0x2003), 128);

    projector().failGet(0x2004);
    const Finished unreadable = zolvane({"get", "contrast"});
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_EQ(unreadable.out, "") << "no value is printed for a failed get";
    EXPECT_THAT(unreadable.err, HasSubstr("get Contrast"));

    EXPECT_EQ(zolvane({"set", "sharpness", "130"}).status, 0);
    EXPECT_EQ(zolvane({"inc", "sharpness"}).status, 1) << "a step past the end is refused";

    // Past the range the tool knows, only when asked: the projector has the last word.
    projector().clearFrames();
    EXPECT_EQ(zolvane({"set", "--unchecked", "brightness", "161"}).status, 1);
    ASSERT_FALSE(projector().frames().empty());
    EXPECT_EQ(projector().frames().front().value, 161);
}

TEST_F(SettingCommands, LinkFailuresExitThree) {
    const Finished noPort =
        Zolvane({"--serial", (scratch() / "ttyMissing").string(), "get", "power"});
    EXPECT_EQ(noPort.status, 3);
    EXPECT_THAT(noPort.err, HasSubstr("cannot be opened"));

    emu::FaultConfig silent;
    silent.kind = emu::FaultKind::NoReply;
    projector().setFault(silent);
    const Finished timedOut = Zolvane({"--serial", projector().ptyPath(), "get", "power"});
    EXPECT_EQ(timedOut.status, 3);
    EXPECT_THAT(timedOut.err, HasSubstr("no reply from the projector"));
    projector().clearFault();

    const std::string stoppedAt = address();
    projector().stop();
    const Finished refused = Zolvane({"--tcp", stoppedAt, "get", "power"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_THAT(refused.err, HasSubstr("connection refused"));
    EXPECT_THAT(refused.err, HasSubstr(stoppedAt));
}

TEST_F(SettingCommands, BadInputIsAUsageErrorAndSendsNothing) {
    const struct {
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        {{"get", "Brightnes"}, "no setting 'Brightnes'; did you mean 'Brightness'?"},
        {{"set", "brightness", "70000"}, "out of the 16-bit range"},
        {{"set", "brightness", "0x10000"}, "out of the 16-bit range"},
        {{"set", "brightness", "-1"}, "out of the 16-bit range"},
        {{"set", "brightness", "12abc"}, "not a number"},
        {{"set", "power", "maybe"}, "neither a number nor one of off|on"},
        {{"set", "aspect", "huge"}, "neither a number nor one of 4:3|16:9|Normal|Small"},
        {{"set", "brightness", "161"}, "value 161 for Brightness is not one it takes: 96..160"},
        {{"set", "brightness", "95"}, "96..160"},
        {{"set", "aspect", "3"}, "not one it takes: 0 4:3, 1 16:9, 16 Normal, 2 Small"},
        {{"set", "power", "cooling down"}, "value 2 for Power is not one it takes: 0..1"},
        {{"set", "SlotkeepLoad", "4"}, "0..3"},
        {{"get", "SlotkeepLoad"}, "SlotkeepLoad has no get"},
        {{"inc", "Aspect"}, "Aspect has no inc"},
        {{"exec", "Brightness"}, "Brightness has no exec"},
        {{"input", "hdmi"}, "hdmi"},
        {{"power", "standby"}, "standby"},
        {{"set", "brightness"}, "value"},
        {{"teleport"}, "teleport"},
        {{}, "subcommand is required"},
        {{"--retries", "many", "get", "power"}, "--retries"},
    };
    for (const auto& bad : cases) {
        const Finished finished = zolvane(bad.arguments);
        EXPECT_EQ(finished.status, 2) << bad.message;
        EXPECT_THAT(finished.err, HasSubstr(bad.message));
    }
    EXPECT_TRUE(projector().frames().empty());
}

TEST_F(SettingCommands, HelpAndVersion) {
    const Finished version = Zolvane({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "zolvane 1.0.0.3\n");
    for (const char* command : {"get", "set", "status", "restore", "frame"}) {
        const Finished help = Zolvane({command, "--help"});
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_THAT(help.out, HasSubstr(std::string("zolvane ") + command)) << command;
    }
}

TEST_F(SettingCommands, RetriesRepeatOnlyWhatIsSafeToRepeat) {
    emu::FaultConfig lostOnce;
    lostOnce.kind = emu::FaultKind::NoReply;
    lostOnce.frameCount = 1;
    projector().setFault(lostOnce);
    const Finished read =
        Zolvane({"--serial", projector().ptyPath(), "--retries", "1", "get", "brightness"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, "128\n");
    EXPECT_EQ(projector().frames().size(), 2u);

    // The lost reply's step was carried out; a second step would overshoot.
    projector().clearFrames();
    projector().setFault(lostOnce);
    const Finished step =
        Zolvane({"--serial", projector().ptyPath(), "--retries", "3", "inc", "brightness"});
    EXPECT_EQ(step.status, 3);
    EXPECT_EQ(projector().frames().size(), 1u);
    EXPECT_EQ(projector().value(0x2003), 129);

    // Nothing can have left while the port does not open, so even a step is tried again.
    const Finished noPort = Zolvane({"--serial", (scratch() / "ttyMissing").string(), "--trace",
                                     "--retries", "2", "inc", "brightness"});
    EXPECT_EQ(noPort.status, 3);
    EXPECT_THAT(noPort.err, HasSubstr("attempt 3 of 3"));
}

TEST_F(SettingCommands, TraceShowsEachFrameAndReply) {
    const Finished read = zolvane({"--trace", "get", "power"});
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.out, "on (1)\n") << "the trace stays off standard output";
    EXPECT_THAT(read.err, HasSubstr("> BE EF 03 06 00 19 D3 02 00 00 60 00 00"));
    EXPECT_THAT(read.err, HasSubstr("< 1D 01 00"));

    projector().refuseSet(0x2003);
    const Finished refused = zolvane({"set", "brightness", "140", "--trace"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, HasSubstr("failed: projector refused"));
}

TEST_F(SettingCommands, WaitPausesBetweenCommands) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(zolvane({"--wait", "250", "status"}).status, 0);
    // Seven queries, six pauses between them; only the lower bound is certain.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

}  // namespace
}  // namespace cli_testing
