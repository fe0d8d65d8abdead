// Power that waits for the projector, refusals in words, and values, settings and commands by
// name, each as a script or a person would type them.
#include <sstream>

#include "cli_test.h"

namespace cli_testing {
namespace {

using std::chrono::milliseconds;
using testing::HasSubstr;
using testing::StartsWith;
using Power = emu::PowerState;

// A projector of its own whose lamp takes this long to cool down; CoolingDown starts it cooling.
std::unique_ptr<emu::Emulator> StartProjector(Power power, milliseconds cooling) {
    emu::Options options;
    options.coolingTime = cooling;
    auto projector = std::make_unique<emu::Emulator>(options);
    EXPECT_TRUE(projector->start());
    projector->setPower(power);
    return projector;
}

// "FILE" in the arguments stands for the backup file.
std::vector<std::string> WithFile(std::vector<std::string> arguments, const std::string& file) {
    for (std::string& argument : arguments) {
        if (argument == "FILE") argument = file;
    }
    return arguments;
}

std::size_t SetsSent(const emu::Emulator& projector) {
    std::size_t sets = 0;
    for (const emu::FrameRecord& frame : projector.frames()) sets += frame.action == 1 ? 1 : 0;
    return sets;
}

struct PowerRow {
    const char* name;
    Power start;
    int coolingMs;
    std::vector<std::string> arguments;
    int status;
    Power end;
    const char* err;  // a part of standard error; "" when it must stay empty
};

class PowerWait : public CliTest, public testing::WithParamInterface<PowerRow> {};

TEST_P(PowerWait, ReachesTheStateOrSaysWhyNot) {
    const PowerRow& row = GetParam();
    auto projector = StartProjector(row.start, milliseconds(row.coolingMs));
    const Finished finished = zolvaneOn(*projector, row.arguments);
    EXPECT_EQ(finished.status, row.status) << finished.err;
    EXPECT_EQ(projector->power(), row.end);
    if (*row.err == '\0') {
        EXPECT_EQ(finished.err, "");
    } else {
        EXPECT_THAT(finished.err, HasSubstr(row.err));
    }
    projector->stop();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Power, PowerWait, testing::Values(
    PowerRow{"OnFromStandby", Power::Off, 0, {"power", "on", "--wait"}, 0, Power::On, ""},
    PowerRow{"OffThroughCoolDown", Power::On, 1500, {"power", "off", "-w"}, 0, Power::Off, ""},
    PowerRow{"OnAfterCoolDown", Power::CoolingDown, 1500, {"power", "on"}, 0, Power::On,
             "zolvane: the projector is cooling down; waiting up to 120 s\n"},
    PowerRow{"CoolDownOutlastsTimeout", Power::CoolingDown, 60000,
             {"power", "on", "-w", "--timeout", "1"}, 1, Power::CoolingDown,
             "power on: gave up after 1 s; the projector is cooling down"},
    PowerRow{"OffOutlastsTimeout", Power::On, 60000,
             {"power", "off", "--wait", "--timeout", "1"}, 1, Power::CoolingDown,
             "power off: the projector did not report off within 1 s (it reports cooling down)"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

struct RefusalRow {
    const char* name;
    Power power;
    std::vector<std::string> arguments;
    const char* err;
};

class RefusalWords : public CliTest, public testing::WithParamInterface<RefusalRow> {};

TEST_P(RefusalWords, SayWhyTheProjectorRefused) {
    const RefusalRow& row = GetParam();
    const std::string file = (scratch() / "backup.json").string();
    ASSERT_EQ(zolvane({"backup", file}).status, 0);
    auto projector = StartProjector(row.power, milliseconds(60000));
    if (row.power == Power::On) projector->refuseSet(0x2003);

    const Finished finished = zolvaneOn(*projector, WithFile(row.arguments, file));
    EXPECT_EQ(finished.status, 1);
    EXPECT_EQ(finished.err, std::string("zolvane: ") + row.err + "\n");
    EXPECT_EQ(SetsSent(*projector), row.arguments[0] == "set" ? 1u : 0u)
        << "restore and diff change nothing on a projector that is not on";
    projector->stop();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Power, RefusalWords, testing::Values(
    RefusalRow{"GetInStandby", Power::Off, {"get", "Contrast"},
               "get Contrast: the projector is in standby"},
    RefusalRow{"SetWhileCooling", Power::CoolingDown, {"set", "Brightness", "140"},
               "set Brightness 140: the projector is cooling down"},
    RefusalRow{"DiffInStandby", Power::Off, {"diff", "FILE"}, "diff: the projector is in standby"},
    RefusalRow{"RestoreWhileCooling", Power::CoolingDown, {"restore", "FILE"},
               "restore: the projector is cooling down"},
    RefusalRow{"RestoreInStandby", Power::Off, {"restore", "--include-passing", "FILE"},
               "restore: the projector is in standby"},
    RefusalRow{"OnButRefused", Power::On, {"set", "Brightness", "140"},
               "set Brightness 140: projector refused the command (NAK) or sent a reply that "
               "does not fit it"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

class PassingStates : public CliTest {};

TEST_F(PassingStates, RestoreLeavesThemAloneUnlessAsked) {
    const std::string file = (scratch() / "backup.json").string();
    for (const uint16_t type : {0x3020, 0x2002, 0x3002}) projector().setValue(type, 1);
    projector().setValue(0x2008, 16);
    ASSERT_EQ(zolvane({"backup", file}).status, 0);
    auto fresh = StartProjector(Power::On, milliseconds(0));
    fresh->setValue(0x2008, 0);

    const Finished diff = zolvaneOn(*fresh, {"diff", file});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(diff.out,
              "Aspect: backup Normal (16), projector 4:3 (0)\n"
              "left out: Blank, Mute, Magnify, Freeze (--include-passing compares them)\n");
    const Finished restored = zolvaneOn(*fresh, {"restore", file});
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_THAT(restored.out, HasSubstr("\nleft alone: Blank, Mute, Magnify, Freeze "
                                        "(--include-passing writes them)\n"));
    EXPECT_EQ(fresh->value(0x2008), 16);
    for (const uint16_t type : {0x3020, 0x2002, 0x3002}) EXPECT_EQ(fresh->value(type), 0);

    EXPECT_EQ(zolvaneOn(*fresh, {"restore", "--include-passing", file}).status, 0);
    for (const uint16_t type : {0x3020, 0x2002, 0x3002}) EXPECT_EQ(fresh->value(type), 1);
    fresh->stop();
}

struct Typed {
    std::vector<std::string> arguments;
    int status;
    const char* out;  // a part of standard output
    const char* err;  // a part of standard error; every line of it starts with "zolvane: "
};

class NamesAndErrors : public CliTest, public testing::WithParamInterface<Typed> {};

TEST_P(NamesAndErrors, AnswerInWords) {
    const Typed& row = GetParam();
    projector().setValue(0x2008, 16);
    const Finished finished = zolvane(row.arguments);
    EXPECT_EQ(finished.status, row.status) << finished.err;
    EXPECT_THAT(finished.out, HasSubstr(row.out));
    EXPECT_THAT(finished.err, HasSubstr(row.err));
    std::istringstream lines(finished.err);
    for (std::string line; std::getline(lines, line);) EXPECT_THAT(line, StartsWith("zolvane: "));
    if (row.status == 2) {
        EXPECT_TRUE(projector().frames().empty()) << "a usage error sends nothing";
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Typed, NamesAndErrors, testing::Values(
    Typed{{"get", "Aspect"}, 0, "Normal (16)\n", ""},
    Typed{{"get", "Aspect", "-n"}, 0, "16\n", ""},
    Typed{{"set", "-u", "Brightness", "161"}, 1, "", "set Brightness 161: projector refused"},
    Typed{{"--pause", "1", "get", "Power"}, 0, "on (1)\n", ""},
    Typed{{"--wait", "1", "get", "Power"}, 0, "on (1)\n", ""},
    Typed{{"input", "hdmi"}, 2, "",
          "zolvane: 'hdmi' is not an input; one of: RGB, Video, S-Video, M1-D, BNC, Component\n"},
    Typed{{"get", "Brigthness"}, 2, "", "no setting 'Brigthness'; did you mean 'Brightness'?"},
    Typed{{"get", "keystone w"}, 2, "", "did you mean 'Keystone V'?"},
    Typed{{"get", "Teleport"}, 2, "", "no setting 'Teleport' (zolvane list shows every"},
    Typed{{"set", "aspect", "nromal"}, 2, "", "did you mean 'Normal'?"},
    Typed{{"stauts"}, 2, "", "zolvane: unknown command 'stauts'; did you mean 'status'?\n"},
    Typed{{"get"}, 2, "", "zolvane: setting is required (see zolvane get --help)\n"},
    Typed{{"get", "Power", "--bogus"}, 2, "", "not expected: --bogus"},
    Typed{{"power", "on", "--timeout", "soon"}, 2, "", "--timeout"},
    Typed{{"--tcp"}, 2, "", "--tcp"}));
// clang-format on

}  // namespace
}  // namespace cli_testing
