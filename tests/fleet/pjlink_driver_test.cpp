// Projectors of other makes through a queue's PJLink driver, against the PJLink emulator over
// loopback TCP: every value each way, every error answer, passwords, kept and lost connections,
// answers that are not PJLink, and what a survey finds on class 1 and class 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "projector_emulator/pjlink_emulator.h"
#include "service_process.h"
#include "zolvane_fleet/driver_results.h"
#include "zolvane_fleet/projector_queue.h"
#include "zolvane_fleet/watched.h"

using namespace zolvane::fleet;
using namespace std::chrono_literals;
namespace emu = zolvane::emulator;

namespace {

constexpr std::uint16_t kPower = 0x6000, kInput = 0x2000, kBlank = 0x3020, kMute = 0x2002,
                        kLamp = 0x1090, kFilter = 0x10A0, kErrors = 0x6020, kFreeze = 0x3002,
                        kBrightness = 0x2003;

const zv_setting* settingOf(std::uint16_t type) {
    for (std::size_t i = 0; i < zv_catalogue_size(); ++i) {
        if (zv_catalogue_entry(i)->type == type) return zv_catalogue_entry(i);
    }
    ADD_FAILURE() << "no setting of type " << type;
    return nullptr;
}

Command command(Operation operation, std::uint16_t type, std::int32_t value = 0) {
    Command c;
    c.operation = operation;
    c.setting = settingOf(type);
    c.value = value;
    return c;
}

ProjectorEntry entry(const std::string& address, std::string passwordFile = {}) {
    ProjectorEntry e;
    e.name = e.label = "pj";
    e.address = address;
    e.passwordFile = std::move(passwordFile);
    e.timing.connectTimeout = 2000ms;
    e.timing.receiveTimeout = 1500ms;
    return e;
}

std::string passwordFile(const std::string& password) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("pjlink-driver-test-" + std::to_string(::getpid()) + "-" + password);
    std::ofstream(path) << password << "\n";
    return path.string();
}

struct Projector {
    explicit Projector(emu::PjlinkOptions options) : emulator(std::move(options)) {
        std::string error;
        EXPECT_TRUE(emulator.start(&error)) << error;
    }
    std::string address(std::size_t i = 0) const {
        return "pjlink://127.0.0.1:" + std::to_string(emulator.tcpPort(i));
    }
    emu::PjlinkEmulator emulator;
};

CommandResult run(ProjectorQueue& queue, const Command& c) {
    auto future = queue.run(c);
    EXPECT_EQ(future.wait_for(20s), std::future_status::ready);
    return future.get();
}

TEST(PjlinkDriver, EveryValueBothWays) {
    emu::PjlinkOptions options;
    options.projectorClass = 2;
    options.initiallyOn = true;
    options.coolingTime = 60s;
    Projector projector(options);
    ProjectorQueue queue(entry(projector.address()));
    queue.start(false, QueueExchanges::Plain);
    struct Row {
        Operation operation;
        std::uint16_t type;
        std::int32_t value;
        zv_result result;
        std::uint16_t read;  // for a get that succeeds
        const char* line;    // what the projector was sent; null: nothing
    };
    const Row rows[] = {
        {Operation::Get, kPower, 0, 0, 1, "%1POWR ?"},
        {Operation::Set, kInput, 32, 0, 0, "%1INPT 32"},
        {Operation::Get, kInput, 0, 0, 32, "%1INPT ?"},
        {Operation::Set, kInput, 40, ZV_RESULT_BAD_ARGUMENT, 0, nullptr},
        {Operation::Set, kInput, 310, ZV_RESULT_BAD_REPLY, 0, "%2INPT 3A"},
        {Operation::Set, kBlank, 1, 0, 0, "%1AVMT 11"},
        {Operation::Get, kBlank, 0, 0, 1, "%1AVMT ?"},
        {Operation::Get, kMute, 0, 0, 0, "%1AVMT ?"},
        {Operation::Set, kMute, 1, 0, 0, "%1AVMT 21"},
        {Operation::Get, kMute, 0, 0, 1, "%1AVMT ?"},
        {Operation::Set, kBlank, 0, 0, 0, "%1AVMT 10"},
        {Operation::Get, kBlank, 0, 0, 0, "%1AVMT ?"},
        {Operation::Set, kMute, 0, 0, 0, "%1AVMT 20"},
        {Operation::Get, kMute, 0, 0, 0, "%1AVMT ?"},
        {Operation::Get, kLamp, 0, 0, 1000, "%1LAMP ?"},
        {Operation::Get, kFilter, 0, 0, 500, "%2FILT ?"},
        {Operation::Get, kErrors, 0, 0, 0, "%1ERST ?"},
        {Operation::Set, kFreeze, 1, 0, 0, "%2FREZ 1"},
        {Operation::Get, kFreeze, 0, 0, 1, "%2FREZ ?"},
        {Operation::Set, kFreeze, 0, 0, 0, "%2FREZ 0"},
        {Operation::Get, kFreeze, 0, 0, 0, "%2FREZ ?"},
        {Operation::Set, kLamp, 5, kUnsupported, 0, nullptr},
        {Operation::Get, kBrightness, 0, kUnsupported, 0, nullptr},
        {Operation::Set, kPower, 0, 0, 0, "%1POWR 0"},
        {Operation::Get, kPower, 0, 0, 2, "%1POWR ?"},
        {Operation::Get, kInput, 0, kUnavailable, 0, "%1INPT ?"},
        {Operation::Set, kPower, 1, kUnavailable, 0, "%1POWR 1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.line ? row.line : "nothing sent") + " of type " +
                     std::to_string(row.type));
        const std::size_t before = projector.emulator.lines().size();
        const CommandResult result = run(queue, command(row.operation, row.type, row.value));
        EXPECT_EQ(result.result, row.result) << result.reason;
        if (row.result == 0 && row.operation == Operation::Get) {
            EXPECT_EQ(result.value, row.read);
        }
        const auto lines = projector.emulator.lines();
        if (row.line == nullptr) {
            EXPECT_EQ(lines.size(), before);
        } else {
            ASSERT_EQ(lines.size(), before + 1);
            EXPECT_EQ(lines.back(), row.line);
        }
    }
    EXPECT_EQ(projector.emulator.connectionsAccepted(), 1u);  // one connection served them all
}

TEST(PjlinkDriver, ResultsAndReasons) {
    const std::string right = passwordFile("secret");
    const std::string wrong = passwordFile("guess");
    struct Row {
        const char* name;
        int projectorClass;
        const char* password;  // the projector's
        std::string file;      // the inventory's password_file
        emu::PjlinkFault fault;
        Command asked;
        zv_result result;
        const char* reason;  // a part of it
    };
    const Row rows[] = {
        {"ERR1", 1, "", "", emu::PjlinkFault::None, command(Operation::Get, kFilter), kUnsupported,
         "PJLink ERR1"},
        {"ERR2", 1, "", "", emu::PjlinkFault::None, command(Operation::Set, kInput, 19),
         ZV_RESULT_BAD_REPLY, "PJLink ERR2"},
        {"ERR3", 1, "", "", emu::PjlinkFault::None, command(Operation::Get, kInput), kUnavailable,
         "PJLink ERR3: unavailable now (warming up, cooling down or standby)"},
        {"ERR4", 1, "", "", emu::PjlinkFault::Err4, command(Operation::Get, kPower),
         kProjectorFailure, "PJLink ERR4"},
        {"right password", 2, "secret", right, emu::PjlinkFault::None,
         command(Operation::Get, kPower), 0, ""},
        {"wrong password", 2, "secret", wrong, emu::PjlinkFault::None,
         command(Operation::Get, kPower), kAuthFailed, "the projector refused the password"},
        {"missing file", 1, "secret", "/nonexistent/pjlink-password", emu::PjlinkFault::None,
         command(Operation::Get, kPower), kAuthFailed,
         "password file /nonexistent/pjlink-password: "},
        {"no file", 1, "secret", "", emu::PjlinkFault::None, command(Operation::Get, kPower),
         kAuthFailed, "the inventory gives no password_file"},
        {"none asked", 1, "", right, emu::PjlinkFault::None, command(Operation::Get, kPower), 0,
         ""},
        {"garbage", 1, "", "", emu::PjlinkFault::Garbage, command(Operation::Get, kPower),
         kBadAnswer, "not a PJLink answer: \"U\\xaa garbage\""},
        {"binary", 1, "", "", emu::PjlinkFault::Binary, command(Operation::Get, kPower), kBadAnswer,
         "not a PJLink answer: \""},
        {"overlong", 1, "", "", emu::PjlinkFault::Overlong, command(Operation::Get, kPower),
         kBadAnswer,
         "a line over 136 bytes without CR: \"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA...\""},
        {"silent", 1, "", "", emu::PjlinkFault::Silent, command(Operation::Get, kPower),
         ZV_RESULT_NETWORK_TIMEOUT, "no PJLink greeting within 1500 ms"},
        {"closed early", 1, "", "", emu::PjlinkFault::CloseEarly, command(Operation::Get, kPower),
         ZV_RESULT_RECEIVE_FAILED, "closed the connection before answering"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        emu::PjlinkOptions options;
        options.projectorClass = row.projectorClass;
        options.password = row.password;
        options.fault = row.fault;
        Projector projector(options);
        ProjectorQueue queue(entry(projector.address(), row.file));
        queue.start(false, QueueExchanges::Plain);
        const CommandResult result = run(queue, row.asked);
        EXPECT_EQ(result.result, row.result);
        EXPECT_NE(result.reason.find(row.reason), std::string::npos) << result.reason;
    }
    // Nothing listens; and no such name.
    for (const auto& [address, expected] :
         {std::pair{"pjlink://127.0.0.1:" + std::to_string(service_testing::freePort()),
                    ZV_RESULT_CONNECT_FAILED},
          std::pair{std::string("pjlink://no-such-projector.invalid"), ZV_RESULT_HOST_NOT_FOUND}}) {
        ProjectorQueue queue(entry(address));
        queue.start(false, QueueExchanges::Plain);
        const CommandResult result = run(queue, command(Operation::Get, kPower));
        EXPECT_EQ(result.result, expected) << address << ": " << result.reason;
    }
    std::filesystem::remove(right);
    std::filesystem::remove(wrong);
}

TEST(PjlinkDriver, ConnectionsKeptAndLost) {
    emu::PjlinkOptions options;
    options.count = 2;
    options.initiallyOn = true;
    Projector projector(options);
    // A projector that closes after every answer still answers each command in turn.
    projector.emulator.setFault(emu::PjlinkFault::CloseAfterOne, 1);
    ProjectorQueue closing(entry(projector.address(1)));
    closing.start(false, QueueExchanges::Plain);
    for (int i = 0; i < 4; ++i) {
        const CommandResult result = run(closing, command(Operation::Get, kLamp));
        EXPECT_EQ(result.result, 0u) << result.reason;
        EXPECT_EQ(result.value, 1001);
    }
    EXPECT_EQ(projector.emulator.connectionsAccepted(1), 4u);

    // A silent one holds up only its own queue: the live one answers meanwhile.
    projector.emulator.setFault(emu::PjlinkFault::Silent, 1);
    ProjectorEntry silentEntry = entry(projector.address(1));
    silentEntry.timing.receiveTimeout = 10000ms;
    ProjectorQueue silent(silentEntry);
    ProjectorQueue live(entry(projector.address(0)));
    silent.start(false, QueueExchanges::Plain);
    live.start(false, QueueExchanges::Plain);
    auto waiting = silent.run(command(Operation::Get, kPower));
    for (int i = 0; i < 3; ++i) {
        const CommandResult result = run(live, command(Operation::Get, kPower));
        EXPECT_EQ(result.result, 0u) << result.reason;
        EXPECT_EQ(result.value, 1);
    }
    EXPECT_EQ(projector.emulator.connectionsAccepted(0), 1u);
    EXPECT_EQ(waiting.wait_for(0ms), std::future_status::timeout);
    ASSERT_EQ(waiting.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(waiting.get().result, ZV_RESULT_NETWORK_TIMEOUT);
}

TEST(PjlinkDriver, SurveyOfEachClass) {
    struct Row {
        int projectorClass;
        std::vector<std::pair<std::string, std::string>> about;
        std::vector<InputName> inputs;
        bool lacksFilter;
    };
    const Row rows[] = {
        {1,
         {{"class", "1"},
          {"name", "Emulated PJLink 0"},
          {"maker", "Emulator"},
          {"product", "PJLink projector"},
          {"info", "class 1 emulation"}},
         {{11, "RGB 1"}, {12, "RGB 2"}, {31, "DIGITAL 1"}, {32, "DIGITAL 2"}, {51, "NETWORK 1"}},
         true},
        {2,
         {{"class", "2"},
          {"name", "Emulated PJLink 0"},
          {"maker", "Emulator"},
          {"product", "PJLink projector"},
          {"info", "class 2 emulation"},
          {"serial", "EMU00000"},
          {"software", "1.0.0"},
          {"lamp_model", "LMP-100"},
          {"filter_model", "FLT-200"}},
         {{11, "Computer 1"},
          {12, "Computer 2"},
          {31, "HDMI 1"},
          {32, "HDMI 2"},
          {33, "DisplayPort"},
          {51, "USB"},
          {56, "Network"}},
         false},
    };
    const std::uint32_t filter = lackingBit(*watchedByKey("filter_hours"));
    for (const Row& row : rows) {
        SCOPED_TRACE("class " + std::to_string(row.projectorClass));
        emu::PjlinkOptions options;
        options.projectorClass = row.projectorClass;
        options.initiallyOn = true;
        Projector projector(options);
        ProjectorQueue queue(entry(projector.address()));
        EXPECT_EQ(queue.state().abilities.protocol, "pjlink");
        EXPECT_TRUE(queue.state().abilities.about.empty());
        queue.start();
        Abilities found;
        for (int i = 0; i < 400 && found.about.empty(); ++i) {
            std::this_thread::sleep_for(50ms);
            found = queue.state().abilities;
        }
        EXPECT_EQ(found.protocol, "pjlink");
        EXPECT_EQ(found.about, row.about);
        EXPECT_EQ(found.inputs, row.inputs);
        EXPECT_EQ((found.lacking & filter) != 0, row.lacksFilter);
        queue.stop();
    }
}

}  // namespace

namespace {

// A power-on while the projector cools down (PJLink answers ERR3) waits it out, as for ours, and
// switches on once it may; commands by the projector's own input names are sent as its codes.
TEST(PjlinkDriver, PowerOnWaitsOutTheCoolDownAndInputsGoByTheirNames) {
    emu::PjlinkOptions options;
    options.projectorClass = 2;
    options.initiallyOn = true;
    options.coolingTime = 2500ms;
    options.warmUpTime = 0ms;
    Projector projector(options);
    ProjectorQueue queue(entry(projector.address()));
    queue.start();
    for (int i = 0; i < 400 && queue.state().abilities.inputs.empty(); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    Command byName = command(Operation::Set, kInput);
    byName.ownValue = "hdmi 2";
    EXPECT_TRUE(run(queue, byName).ok());
    EXPECT_EQ(projector.emulator.input(), "32");
    byName.ownValue = "SCART";
    EXPECT_NE(run(queue, byName).reason.find("\"SCART\" is not an input of pj (Computer 1"),
              std::string::npos);

    ASSERT_TRUE(run(queue, command(Operation::Set, kPower, 0)).ok());
    ASSERT_EQ(projector.emulator.power(), 2);
    const CommandResult on = run(queue, command(Operation::Set, kPower, 1));
    EXPECT_TRUE(on.ok()) << on.reason;
    EXPECT_GT(on.waited.count(), 0);
    EXPECT_EQ(on.value, std::optional<std::uint16_t>(1));
    EXPECT_NE(projector.emulator.power(), 0);  // warming up or on
    queue.stop();
}

}  // namespace
