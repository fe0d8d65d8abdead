// backup, restore and diff between two emulated projectors, and backups that must be refused.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "cli_test.h"
#include "settings_table.h"

namespace cli_testing {
namespace {

using nlohmann::json;
using testing::HasSubstr;
namespace fs = std::filesystem;
namespace table = zolvane::emulator;

constexpr uint16_t kPower = 0x6000;
constexpr uint16_t kInput = 0x2000;

bool Restorable(const table::Setting& setting) {
    const unsigned both = table::op::kGet | table::op::kSet;
    return (setting.ops & both) == both && setting.role == table::Role::Plain;
}

// A value the projector accepts that differs from the default.
uint16_t OtherValue(const table::Setting& setting) {
    const table::AcceptedValues& values = setting.values;
    for (uint16_t choice : values.choices) {
        if (choice != setting.initial) return choice;
    }
    return setting.initial != values.max ? values.max : values.min;
}

std::size_t FirstSetOf(const std::vector<emu::FrameRecord>& frames, uint16_t type) {
    const auto found = std::find_if(frames.begin(), frames.end(), [type](const auto& frame) {
        return frame.action == 1 && frame.type == type;
    });
    return static_cast<std::size_t>(found - frames.begin());
}

class BackupAndRestore : public CliTest {
protected:
    // Every restorable setting of this test's projector moved off its default, input included.
    void changeEverySetting() {
        for (const table::Setting& setting : table::settingsTable()) {
            if (Restorable(setting)) projector().setValue(setting.type, OtherValue(setting));
        }
    }

    std::filesystem::path backupFile() const { return scratch() / "projector.json"; }

    void makeBackup() {
        const Finished saved = zolvane({"backup", backupFile().string()});
        ASSERT_EQ(saved.status, 0) << saved.err;
    }
};

TEST_F(BackupAndRestore, RoundTripReproducesEverySettableValue) {
    changeEverySetting();
    makeBackup();
    const json document = json::parse(readFile(backupFile()));
    for (const json& entry : document["settings"]) {
        const uint16_t value = entry["value"];
        const uint16_t stored = *projector().value(entry["type"].get<uint16_t>());
        EXPECT_EQ(value, stored) << entry["name"];
        char reply[16];
        std::snprintf(reply, sizeof reply, "1D %02X %02X", value & 0xFF, value >> 8);
        EXPECT_EQ(entry["reply"], reply) << entry["name"];
    }

    auto fresh = StartProjector();
    const Finished different = zolvaneOn(*fresh, {"diff", backupFile().string()});
    EXPECT_EQ(different.status, 1);
    EXPECT_THAT(different.out, HasSubstr("Brightness: backup 160, projector 128\n"));

    const Finished restored =
        zolvaneOn(*fresh, {"restore", "--include-passing", backupFile().string()});
    ASSERT_EQ(restored.status, 0) << restored.err;
    for (const table::Setting& setting : table::settingsTable()) {
        if (!Restorable(setting) || setting.type == kInput) continue;
        EXPECT_EQ(fresh->value(setting.type), projector().value(setting.type)) << setting.name;
    }
    EXPECT_EQ(fresh->value(kInput), 0) << "the input is left alone unless asked for";
    EXPECT_EQ(FirstSetOf(fresh->frames(), kPower), fresh->frames().size());
    EXPECT_EQ(zolvaneOn(*fresh, {"diff", backupFile().string()}).status, 0);

    const Finished inputToo = zolvaneOn(*fresh, {"diff", "--include-input", backupFile().string()});
    EXPECT_EQ(inputToo.status, 1);
    EXPECT_THAT(inputToo.out, HasSubstr("InputSource: backup"));
    fresh->stop();
}

TEST_F(BackupAndRestore, RestoreWritesInASafeOrder) {
    changeEverySetting();
    makeBackup();
    auto fresh = StartProjector();
    const Finished restored = zolvaneOn(*fresh, {"restore", "--include-power", "--include-input",
                                                 "--include-passing", backupFile().string()});
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(fresh->value(kInput), projector().value(kInput));

    const auto frames = fresh->frames();
    EXPECT_EQ(FirstSetOf(frames, kPower), 1u) << "power on comes first, after asking for it";
    EXPECT_LT(FirstSetOf(frames, kInput), FirstSetOf(frames, 0x2003)) << "input before picture";
    EXPECT_LT(FirstSetOf(frames, 0x2003), FirstSetOf(frames, 0x3020)) << "blank after picture";
    EXPECT_LT(FirstSetOf(frames, 0x3020), FirstSetOf(frames, 0x2410)) << "locks last";
    EXPECT_LT(FirstSetOf(frames, 0x2410), frames.size());
    fresh->stop();
}

TEST_F(BackupAndRestore, RefusalsAndUnreadableValuesAreReportedAndSkipped) {
    changeEverySetting();
    projector().failGet(0x2004);
    const Finished saved = zolvane({"backup", backupFile().string()});
    EXPECT_EQ(saved.status, 1) << "an unreadable value is reported";
    EXPECT_THAT(saved.err, HasSubstr("Contrast"));

    auto fresh = StartProjector();
    fresh->refuseSet(0x2005);
    fresh->refuseSet(0x2201);
    const Finished restored = zolvaneOn(*fresh, {"restore", backupFile().string()});
    EXPECT_EQ(restored.status, 1);
    EXPECT_THAT(restored.err, HasSubstr("set ColorBalanceR"));
    EXPECT_THAT(restored.err, HasSubstr("set Sharpness"));
    EXPECT_EQ(fresh->value(0x2003), projector().value(0x2003)) << "the rest was restored";
    EXPECT_EQ(FirstSetOf(fresh->frames(), 0x2004), fresh->frames().size())
        << "a value that was not read is not written";
    fresh->stop();
}

TEST_F(BackupAndRestore, DamagedOrForeignBackupsSendNothing) {
    makeBackup();
    const std::string good = readFile(backupFile());
    json renamed = json::parse(good);
    renamed["settings"][2]["name"] = "Brightnes";
    json shortened = json::parse(good);
    shortened["settings"].erase(3);
    json tooLarge = json::parse(good);
    tooLarge["settings"][2]["value"] = 70000;
    json retyped = json::parse(good);
    retyped["settings"][2]["type"] = 0x2004;

    const struct {
        const char* file;
        std::string text;
        const char* message;
    } cases[] = {
        {"truncated.json", good.substr(0, good.size() / 2), "truncated"},
        {"words.json", "projector settings\n", "not JSON"},
        {"empty.json", "", "empty"},
        {"foreign.json", R"({"format": "some other tool", "settings": []})", "not a zolvane"},
        {"renamed.json", renamed.dump(), "different setting list: unknown setting 'Brightnes'"},
        {"shortened.json", shortened.dump(), "different setting list: 'Contrast' is missing"},
        {"retyped.json", retyped.dump(), "different setting list: 'Brightness'"},
        {"large.json", tooLarge.dump(), "70000"},
        {"nested.json", std::string(100000, '[') + std::string(100000, ']'), "nests more than 8"},
    };
    projector().clearFrames();
    for (const auto& bad : cases) {
        writeFile(scratch() / bad.file, bad.text);
        for (const char* command : {"restore", "diff"}) {
            const Finished finished = zolvane({command, (scratch() / bad.file).string()});
            EXPECT_EQ(finished.status, 2) << command << " " << bad.file;
            EXPECT_THAT(finished.err, HasSubstr(bad.message)) << command << " " << bad.file;
        }
    }
    const Finished missing = zolvane({"restore", (scratch() / "missing.json").string()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_THAT(missing.err, HasSubstr("missing.json"));
    EXPECT_TRUE(projector().frames().empty());
}

TEST_F(BackupAndRestore, FailedBackupLeavesNoFile) {
    const Finished nowhere = zolvane({"backup", (scratch() / "no-folder" / "x.json").string()});
    EXPECT_EQ(nowhere.status, 2);
    EXPECT_TRUE(projector().frames().empty()) << "the file is checked before the projector";

    emu::FaultConfig lost;
    lost.kind = emu::FaultKind::Close;
    lost.onlyType = 0x2201;
    projector().setFault(lost);
    const Finished broken = zolvane({"backup", backupFile().string()});
    EXPECT_EQ(broken.status, 3);
    EXPECT_THAT(broken.err, HasSubstr("get Sharpness"));
    EXPECT_FALSE(std::filesystem::exists(backupFile()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch()), {}), 0)
        << "no temporary file is left behind";
}

TEST_F(BackupAndRestore, StoppedRestoreSaysHowMuchWasWrittenBack) {
    changeEverySetting();
    makeBackup();
    const struct {
        uint16_t lost;     // the set whose reply never comes
        uint16_t refused;  // a set refused before it, or 0
        const char* message;
    } cases[] = {
        {0x2007, 0, "restore stopped at KeystoneV: 0 of 55 settings were written back\n"},
        {0x2201, 0x2003,
         "restore stopped at Sharpness: 16 of 55 settings were written back, 1 refused\n"},
    };
    for (const auto& stop : cases) {
        auto fresh = StartProjector();
        emu::FaultConfig lost;
        lost.kind = emu::FaultKind::Close;
        lost.onlyType = stop.lost;
        fresh->setFault(lost);
        if (stop.refused != 0) fresh->refuseSet(stop.refused);
        const Finished restored = zolvaneOn(*fresh, {"restore", backupFile().string()});
        EXPECT_EQ(restored.status, 3);
        EXPECT_THAT(restored.err, HasSubstr(stop.message));
        fresh->stop();
    }
}

struct Target {
    const char* name;
    const char* file;  // in the scratch folder, as BackupTarget lays it out; empty for ""
    int status;
    const char* message;
    const char* written;  // the file that then holds the backup; nullptr when nothing may be sent
};

class BackupTarget : public CliTest, public testing::WithParamInterface<Target> {
protected:
    void SetUp() override {
        CliTest::SetUp();
        const fs::path folder = scratch();
        std::ofstream(folder / "real.json") << "an older backup\n";
        fs::create_directory(folder / "folder");
        ::mkfifo((folder / "fifo").c_str(), 0600);
        fs::create_symlink("real.json", folder / "link-to-file");
        fs::create_symlink("fifo", folder / "link-to-fifo");
        fs::create_symlink("missing.json", folder / "dangling");
        // Only the administrator may make a device node, and only the administrator could
        // replace /dev/null; an administrator without the right to make one skips that row.
        if (::mknod((folder / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 &&
            ::geteuid() != 0) {
            fs::create_symlink("/dev/null", folder / "null");
        }
    }
};

TEST_P(BackupTarget, OnlyNewAndRegularFilesAreWritten) {
    const Target& row = GetParam();
    const std::string file = *row.file == '\0' ? "" : (scratch() / row.file).string();
    const fs::file_type before = fs::symlink_status(file).type();
    if (*row.file != '\0' && before == fs::file_type::not_found) GTEST_SKIP() << row.file;
    const auto entries = std::distance(fs::directory_iterator(scratch()), {});

    const Finished finished = zolvane({"backup", file});
    EXPECT_EQ(finished.status, row.status) << finished.err;
    EXPECT_THAT(finished.err, HasSubstr(row.message));
    EXPECT_EQ(fs::symlink_status(file).type(), before) << "what had the name is still there";
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch()), {}), entries);
    if (row.written == nullptr) {
        EXPECT_TRUE(projector().frames().empty()) << "the target is checked before any frame";
    } else {
        EXPECT_EQ(json::parse(readFile(scratch() / row.written))["format"],
                  "zolvane settings backup");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, BackupTarget,
    testing::Values(Target{"Device", "null", 2, "it is a character device", nullptr},
                    Target{"Fifo", "fifo", 2, "it is a FIFO", nullptr},
                    Target{"LinkToFile", "link-to-file", 0, "", "real.json"},
                    Target{"LinkToFifo", "link-to-fifo", 2, "it is a FIFO", nullptr},
                    Target{"DanglingLink", "dangling", 2,
                           "it is a symbolic link to missing.json, which does not exist", nullptr},
                    Target{"Directory", "folder", 2, "it is a directory", nullptr},
                    Target{"EmptyName", "", 2, "the name of the backup file is empty", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace cli_testing
