// status and list, as text for people and as JSON for monitoring systems.
#include <nlohmann/json.hpp>
#include <set>

#include "cli_test.h"
#include "settings_table.h"

namespace cli_testing {
namespace {

using nlohmann::json;
using testing::HasSubstr;

class StatusAndList : public CliTest {};

TEST_F(StatusAndList, StatusReadsTheProjectorInOneGo) {
    projector().setValue(0x2000, 2);
    projector().setValue(0x2002, 1);
    projector().setValue(0x1090, 4321);
    projector().setValue(0x6020, 0x0102);

    const Finished text = zolvane({"status"});
    EXPECT_EQ(text.status, 0);
    EXPECT_THAT(text.out, HasSubstr("Power:        on (1)\n"));
    EXPECT_THAT(text.out, HasSubstr("Input:        S-Video (2)\n"));
    EXPECT_THAT(text.out, HasSubstr("Lamp time:    4321 h\n"));

    const Finished finished = zolvane({"status", "--json"});
    ASSERT_EQ(finished.status, 0) << finished.err;
    const json status = json::parse(finished.out);
    EXPECT_EQ(status["power"]["value"], 1);
    EXPECT_EQ(status["power"]["name"], "on");
    EXPECT_EQ(status["input"]["value"], 2);
    EXPECT_EQ(status["input"]["name"], "S-Video");
    EXPECT_EQ(status["blank"]["name"], "off");
    EXPECT_EQ(status["mute"]["name"], "on");
    EXPECT_EQ(status["lamp_hours"]["value"], 4321);
    EXPECT_EQ(status["filter_hours"]["value"], 567);
    EXPECT_EQ(status["error_status"]["value"], 0x0102);
}

TEST_F(StatusAndList, ErrorStatusIsNamedWithItsCode) {
    const struct {
        uint16_t code;
        const char* text;
        const char* name;  // in the JSON output, null when absent
    } cases[] = {
        {0, "Normal (0)", "Normal"},
        {1, "Cover Error (1)", "Cover Error"},
        {9, "Filter Missing (9)", "Filter Missing"},
        {0x0102, "0x0102", nullptr},
    };
    for (const auto& c : cases) {
        projector().setValue(0x6020, c.code);
        EXPECT_THAT(zolvane({"status"}).out,
                    HasSubstr(std::string("Error status: ") + c.text + "\n"));
        const json error = json::parse(zolvane({"status", "--json"}).out)["error_status"];
        EXPECT_EQ(error["value"], c.code) << c.text;
        EXPECT_EQ(error.contains("name") ? error["name"] : json(nullptr),
                  c.name != nullptr ? json(c.name) : json(nullptr));
    }
}

TEST_F(StatusAndList, SwitchedOffProjectorIsNoFailure) {
    projector().setPower(emu::PowerState::Off);
    const Finished finished = zolvane({"status", "--json"});
    EXPECT_EQ(finished.status, 0) << finished.err;
    const json status = json::parse(finished.out);
    EXPECT_EQ(status["power"]["name"], "off");
    EXPECT_TRUE(status["input"]["value"].is_null());
    EXPECT_THAT(status["input"]["error"].get<std::string>(), HasSubstr("off"));
    EXPECT_EQ(status["lamp_hours"]["value"], 1234);
}

TEST_F(StatusAndList, UnreadableValueExitsOneAndStillReportsTheRest) {
    projector().failGet(0x1090);
    const Finished finished = zolvane({"status", "--json"});
    EXPECT_EQ(finished.status, 1);
    const json status = json::parse(finished.out);
    EXPECT_TRUE(status["lamp_hours"]["value"].is_null());
    EXPECT_THAT(status["lamp_hours"]["error"].get<std::string>(), HasSubstr("refused"));
    EXPECT_EQ(status["filter_hours"]["value"], 567);
}

TEST_F(StatusAndList, ListHasEveryCatalogueRowAndNeedsNoLink) {
    const Finished finished = Zolvane({"list", "--json"});
    ASSERT_EQ(finished.status, 0) << finished.err;
    const json rows = json::parse(finished.out);

    // 66 settings and one command that is only executed.
    ASSERT_EQ(rows.size(), 67u);

    std::set<std::string> names;
    for (const json& row : rows) {
        names.insert(row["name"].get<std::string>());
        // The projector must know every type code the tool offers.
        EXPECT_NE(zolvane::emulator::findSetting(row["type"].get<uint16_t>()), nullptr)
            << row["name"];
        if (row["name"] == "Brightness") {
            EXPECT_EQ(row["type"], 0x2003);
            EXPECT_EQ(row["operations"], json({"get", "set", "inc", "dec", "reset"}));
            EXPECT_EQ(row["reset"], 0x7000);
            EXPECT_EQ(row["label"], "Brightness");
        }
        if (row["name"] == "Brightness") {
            EXPECT_EQ(row["range"], json({{"min", 96}, {"max", 160}, {"step", 1}}));
            EXPECT_EQ(row["values"], json::array());
        }
        if (row["name"] == "Aspect") {
            EXPECT_TRUE(row["range"].is_null());
            EXPECT_EQ(row["values"][2], json({{"value", 16}, {"name", "Normal"}}));
        }
        if (row["name"] == "SlotkeepSave") {
            EXPECT_EQ(row["operations"], json({"set"}));
            EXPECT_TRUE(row["reset"].is_null());
        }
        if (row["name"] == "AutoAdjust") {
            EXPECT_EQ(row["operations"], json({"exec"}));
        }
    }
    EXPECT_EQ(names.size(), rows.size()) << "every name once";

    const Finished text = Zolvane({"list"});
    EXPECT_THAT(text.out,
                HasSubstr("LampTime          0x1090  get reset               0x7030  Lamp Time\n"));
    EXPECT_THAT(text.out, HasSubstr("Brightness         96..160\n"));
    EXPECT_THAT(text.out, HasSubstr("Aspect             0 4:3, 1 16:9, 16 Normal, 2 Small\n"));
    EXPECT_THAT(text.out, HasSubstr("Power              0..1; 0 off, 1 on, 2 cooling down\n"));
}

}  // namespace
}  // namespace cli_testing
