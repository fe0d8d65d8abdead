// The catalogue as callers read it from the shared library: every entry distinct, found by name
// or label in any case, value names both ways, and what a set may send.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "zolvane_catalogue.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

TEST(Catalogue, EntriesAreDistinctAndComplete) {
    ASSERT_GT(zv_catalogue_size(), 60u);
    EXPECT_EQ(zv_catalogue_entry(zv_catalogue_size()), nullptr);
    std::set<uint16_t> types;
    std::set<uint16_t> resetTypes;
    std::set<std::string> names;  // export names and labels, which lookups share
    for (size_t i = 0; i < zv_catalogue_size(); ++i) {
        const zv_setting* s = zv_catalogue_entry(i);
        ASSERT_NE(s, nullptr);
        SCOPED_TRACE(s->name);
        EXPECT_TRUE(types.insert(s->type).second) << "type code given twice";
        EXPECT_EQ((s->operations & ZV_OP_RESET) != 0, s->reset_type != 0);
        if (s->reset_type != 0) {
            EXPECT_TRUE(resetTypes.insert(s->reset_type).second);
        }
        EXPECT_TRUE(names.insert(Lower(s->name)).second) << "name given twice";
        if (s->label[0] != '\0' && Lower(s->label) != Lower(s->name)) {
            EXPECT_TRUE(names.insert(Lower(s->label)).second) << "label given twice";
        }
        EXPECT_EQ(s->names == nullptr, s->name_count == 0);
        std::set<uint16_t> named;
        std::set<std::string> spelt;
        for (size_t n = 0; n < s->name_count; ++n) {
            EXPECT_TRUE(named.insert(s->names[n].value).second) << s->names[n].name;
            EXPECT_TRUE(spelt.insert(Lower(s->names[n].name)).second) << s->names[n].name;
        }
        if (s->has_range != 0) {
            EXPECT_LE(s->min, s->max);
            EXPECT_GT(s->step, 0);
        }
    }
}

struct Lookup {
    const char* asked;
    const char* found;  // export name, or null for none
};

class CatalogueLookup : public testing::TestWithParam<Lookup> {};

TEST_P(CatalogueLookup, FindsByNameOrLabelInAnyCase) {
    const zv_setting* s = zv_catalogue_find(GetParam().asked);
    if (GetParam().found == nullptr) {
        EXPECT_EQ(s, nullptr);
    } else {
        ASSERT_NE(s, nullptr);
        EXPECT_STREQ(s->name, GetParam().found);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CatalogueLookup,
    testing::Values(Lookup{"Brightness", "Brightness"}, Lookup{"bRIGHTNESS", "Brightness"},
                    Lookup{"COLOR BAL R", "ColorBalanceR"}, Lookup{"3dyc", "3DYC"},
                    Lookup{"3d-ycs", "3DYC"}, Lookup{"speaker", "InternalSpeaker"},
                    Lookup{"autoadjust", "AutoAdjust"}, Lookup{"Auto Adjust", "AutoAdjustEnable"},
                    Lookup{"errorstatus", "ErrorStatus"}, Lookup{"Brightnes", nullptr},
                    Lookup{"", nullptr}, Lookup{nullptr, nullptr}));

struct Named {
    const char* setting;
    uint16_t value;
    const char* name;   // as the catalogue spells it
    const char* spelt;  // as a caller may write it
};

class ValueNames : public testing::TestWithParam<Named> {};

TEST_P(ValueNames, NameAndValueBothWays) {
    const Named& row = GetParam();
    const zv_setting* s = zv_catalogue_find(row.setting);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(zv_value_name(s, row.value), row.name);
    for (const char* written : {row.name, row.spelt}) {
        uint16_t value = 0xBEEF;
        EXPECT_EQ(zv_value_from_name(s, written, &value), 1) << written;
        EXPECT_EQ(value, row.value) << written;
    }
}

// The error status's ten states in full; the others one or two of each kind of list.
INSTANTIATE_TEST_SUITE_P(
    Rows, ValueNames,
    testing::Values(Named{"ErrorStatus", 0, "Normal", "NORMAL"},
                    Named{"ErrorStatus", 1, "Cover Error", "cover-error"},
                    Named{"ErrorStatus", 2, "Fan Error", "fan_error"},
                    Named{"ErrorStatus", 3, "Lamp Error", "lamp error"},
                    Named{"ErrorStatus", 4, "Temp Error", "TEMP ERROR"},
                    Named{"ErrorStatus", 5, "Airflow Error", "airflow-error"},
                    Named{"ErrorStatus", 6, "Lamp Time Over", "lamp_time_over"},
                    Named{"ErrorStatus", 7, "Cool Error", "cool error"},
                    Named{"ErrorStatus", 8, "Filter Error", "Filter-Error"},
                    Named{"ErrorStatus", 9, "Filter Missing", "filter missing"},
                    Named{"Aspect", 0, "4:3", "4:3"}, Named{"Aspect", 1, "16:9", "16:9"},
                    Named{"Aspect", 16, "Normal", "normal"}, Named{"Aspect", 2, "Small", "SMALL"},
                    Named{"Power", 2, "cooling down", "Cooling_Down"},
                    Named{"Input Source", 2, "S-Video", "s video"},
                    Named{"InputSource", 3, "M1-D", "m1_d"},
                    Named{"PowerUpSource", 16, "Last Input", "last-input"},
                    Named{"Mirror", 3, "H&V Inverse", "h&v_inverse"},
                    Named{"BlankColor", 0x40, "Original", "original"},
                    Named{"Mute", 1, "on", "ON"}));

TEST(ValueNames, UnknownNamesAndValuesHaveNone) {
    const zv_setting* aspect = zv_catalogue_find("Aspect");
    uint16_t value = 0xBEEF;
    EXPECT_EQ(zv_value_from_name(aspect, "Huge", &value), 0);
    EXPECT_EQ(zv_value_from_name(aspect, "16:9 ", &value), 0);
    EXPECT_EQ(zv_value_from_name(aspect, nullptr, &value), 0);
    EXPECT_EQ(zv_value_from_name(aspect, "Normal", nullptr), 0);
    EXPECT_EQ(zv_value_from_name(nullptr, "Normal", &value), 0);
    EXPECT_EQ(value, 0xBEEF) << "nothing written on failure";
    EXPECT_EQ(zv_value_name(aspect, 3), nullptr);
    EXPECT_EQ(zv_value_name(zv_catalogue_find("Brightness"), 128), nullptr);
    EXPECT_EQ(zv_value_name(nullptr, 0), nullptr);
}

struct Settable {
    const char* setting;
    int32_t value;
    bool valid;
};

class ValueValid : public testing::TestWithParam<Settable> {};

TEST_P(ValueValid, RangeStepOrNames) {
    const zv_setting* s = zv_catalogue_find(GetParam().setting);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(zv_value_valid(s, GetParam().value), GetParam().valid ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ValueValid,
    testing::Values(Settable{"Brightness", 96, true}, Settable{"Brightness", 160, true},
                    Settable{"Brightness", 95, false}, Settable{"Brightness", 161, false},
                    Settable{"HSize", 1200, true}, Settable{"HSize", 899, false},
                    Settable{"Aspect", 16, true}, Settable{"Aspect", 3, false},
                    // Cooling down is reported, never set.
                    Settable{"Power", 1, true}, Settable{"Power", 2, false},
                    Settable{"VideoFormat", 10, true}, Settable{"VideoFormat", 3, false},
                    Settable{"SlotkeepSave", 3, true}, Settable{"SlotkeepSave", 4, false},
                    Settable{"LampTime", 65535, true}, Settable{"LampTime", 65536, false},
                    Settable{"Volume", -1, false}));

TEST(ValueValid, NullSettingIsNeverValid) { EXPECT_EQ(zv_value_valid(nullptr, 0), 0); }

}  // namespace
