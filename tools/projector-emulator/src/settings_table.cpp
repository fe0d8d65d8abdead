#include "settings_table.h"

#include <algorithm>

namespace zolvane::emulator {

bool AcceptedValues::accepts(std::uint16_t value) const {
    if (!choices.empty()) {
        return std::find(choices.begin(), choices.end(), value) != choices.end();
    }
    return value >= min && value <= max && (value - min) % step == 0;
}

AcceptedValues range(std::uint16_t min, std::uint16_t max, std::uint16_t step) {
    return {min, max, step, {}};
}

AcceptedValues oneOf(std::initializer_list<std::uint16_t> choices) {
    return {0, 0, 1, std::vector<std::uint16_t>(choices)};
}

AcceptedValues anyValue() { return range(0, 0xFFFF); }

const std::vector<Setting>& settingsTable() {
    using namespace op;
    using namespace trait;
    const AcceptedValues onOff = oneOf({0, 1});
    const AcceptedValues inputs = range(0, 5);

    // clang-format off
    static const std::vector<Setting> table = {
        // type  name                 initial values                  ops          reset   traits
        {0x2007, "Keystone V",         128, range(64, 192),          kAdjustable, 0x700C, kNone},
        {0x200B, "Keystone H",         128, range(64, 192),          kAdjustable, 0x7020, kNone},
        {0x2003, "Brightness",         128, range(96, 160),          kAdjustable, 0x7000, kPicture},
        {0x2004, "Contrast",           128, range(96, 160),          kAdjustable, 0x7001, kPicture},
        {0x2008, "Aspect",               0, oneOf({0, 1, 2, 16}),    kChoice,     0,      kNone},
        {0x3300, "Murmelo",              0, onOff,                   kChoice,     0,      kNone},
        {0x3001, "Mirror",               0, range(0, 3),             kChoice,     0,      kNone},
        {0x3005, "Language",             0, range(0, 14),            kChoice,     0,      kNone},
        {0x30A1, "Gamma",                0, oneOf({0, 1, 2, 16}),    kChoice,     0,      kPicture},
        {0x30A0, "Custom Gamma",        22, range(18, 32),           kAdjustable, 0,      kPicture},
        {0x30B0, "Custom Color Temp",    2, oneOf({1, 2, 3, 16}),    kChoice,     0,      kPicture},
        {0x30B1, "Custom User R",        0, range(0, 5),             kChoice,     0,      kPicture},
        {0x30B2, "Custom User G",        0, range(0, 5),             kChoice,     0,      kPicture},
        {0x30B3, "Custom User B",        0, range(0, 5),             kChoice,     0,      kPicture},
        {0x2005, "Color Bal R",        128, range(96, 160),          kAdjustable, 0x7005, kPicture},
        {0x2012, "Color Bal G",        128, range(96, 160),          kAdjustable, 0x7029, kPicture},
        {0x2006, "Color Bal B",        128, range(96, 160),          kAdjustable, 0x7006, kPicture},
        {0x2201, "Sharpness",          128, range(126, 130),         kAdjustable, 0x7009, kPicture},
        {0x2202, "Color",              128, range(65, 191),          kAdjustable, 0x700A, kPicture},
        {0x2203, "Tint",               128, range(114, 142),         kAdjustable, 0x700B, kPicture},
        {0x2100, "V Position",         128, range(0, 255),           kAdjustable, 0x7002, kNone},
        {0x2101, "H Position",         128, range(0, 255),           kAdjustable, 0x7003, kNone},
        {0x2103, "H Phase",              0, range(0, 31),            kAdjustable, 0,      kNone},
        {0x2102, "H Size",            1024, range(900, 1200),        kAdjustable, 0x7004, kNone},
        {0x2209, "Over Scan",           95, range(90, 100),          kAdjustable, 0x7027, kNone},
        {0x2204, "Color Space",          0, range(0, 4),             kChoice,     0,      kNone},
        {0x2017, "Component",            0, onOff,                   kChoice,     0,      kNone},
        {0x2200, "Video Format",        10, oneOf({10, 4, 5, 9, 2, 8, 7}), kChoice, 0,   kNone},
        {0x220A, "3D-YCS",               1, onOff,                   kChoice,     0,      kNone},
        {0x2206, "Video NR",             2, oneOf({1, 2, 3}),        kChoice,     0,      kNone},
        {0x220B, "S2 Aspect",            0, onOff,                   kChoice,     0,      kNone},
        {0x3110, "Auto Power Off",       0, range(0, 99),            kAdjustable, 0,      kNone},
        {0x2016, "Auto Search",          1, onOff,                   kChoice,     0,      kNone},
        {0x3000, "Blank Color",          3, oneOf({32, 64, 3, 5, 6}), kChoice,    0,      kNone},
        {0x3020, "Blank",                0, onOff,                   kChoice,     0,      kNone},
        {0x3004, "Startup",              0, oneOf({32, 0, 1}),       kChoice,     0,      kNone},
        {0x3016, "Menu Position V",    128, range(0, 255),           kAdjustable, 0x7044, kNone},
        {0x3015, "Menu Position H",    128, range(0, 255),           kAdjustable, 0x7043, kNone},
        {0x3017, "Message",              1, onOff,                   kChoice,     0,      kNone},
        {0x2001, "Volume",              16, range(0, 32),            kAdjustable, 0,      kNone},
        {0x2002, "Mute",                 0, onOff,                   kChoice,     0,      kNone},
        {0x1090, "Lamp Time",         1234, anyValue(),              kReadOnly,   0x7030, kStandby,
         Role::Counter},
        {0x10A0, "Filter Time",        567, anyValue(),              kReadOnly,   0x7040, kStandby,
         Role::Counter},
        {0x3007, "Magnify",              0, range(0, 48),            kAdjustable, 0,      kNone},
        {0x3002, "Freeze",               0, onOff,                   kChoice,     0,      kNone},
        {0x6000, "Power",                1, onOff,                   kChoice,     0,      kStandby,
         Role::Power},
        {0x2000, "Input Source",         0, inputs,                  kChoice,     0,      kNone},
        {0x6020, "Error Status",         0, anyValue(),              kReadOnly,   0,      kStandby},
        {0x2300, "PinP Size",            0, onOff,                   kChoice,     0,      kNone},
        {0x2301, "PinP Position",        0, range(0, 3),             kChoice,     0,      kNone},
        {0x2303, "PinP Audio Ch",        0, onOff,                   kChoice,     0,      kNone},
        {0x2302, "PinP Input",           1, oneOf({1, 2}),           kChoice,     0,      kNone},
        {0x3012, "Stillmark Size",       0, onOff,                   kChoice,     0,      kNone},
        {0x30C0, "Stillmark Lock",       0, onOff,                   kChoice,     0,      kNone},
        {0x2600, "IR Remote Front",      1, onOff,                   kChoice,     0,      kNone},
        {0x2601, "IR Remote Rear",       1, onOff,                   kChoice,     0,      kNone},
        {0x2602, "IR Remote Top",        1, onOff,                   kChoice,     0,      kNone},
        {0x2018, "Power Up Input",      16, oneOf({16, 0, 1, 2, 3, 4, 5}), kChoice, 0,   kNone},
        {0x2019, "Auto Adjust Enable",   1, onOff,                   kChoice,     0,      kNone},
        {0x201C, "Speaker",              1, onOff,                   kChoice,     0,      kNone},
        {0x2410, "Lens Lock",            0, onOff,                   kChoice,     0,      kNone},
        {0x2608, "Remote ID",            0, range(0, 3),             kChoice,     0,      kNone},
        {0x3120, "Auto Power On",        0, onOff,                   kChoice,     0,      kNone},
        {0x2570, "Lens Type",            0, range(0, 5),             kChoice,     0,      kNone},
        {0x2014, "Slotkeep Load",        0, range(0, 3),             kCommand,    0,      kNone,
         Role::MemoryLoad},
        {0x2015, "Slotkeep Save",        0, range(0, 3),             kCommand,    0,      kNone,
         Role::MemorySave},
        {0x200A, "Auto Adjust",          0, anyValue(),              kAction,     0,      kNone},
    };
    // clang-format on
    return table;
}

const Setting* findSetting(std::uint16_t type) {
    const auto& table = settingsTable();
    auto it = std::find_if(table.begin(), table.end(),
                           [type](const Setting& setting) { return setting.type == type; });
    return it == table.end() ? nullptr : &*it;
}

const Setting* findSettingByResetType(std::uint16_t resetType) {
    if (resetType == 0) {
        return nullptr;
    }
    const auto& table = settingsTable();
    auto it = std::find_if(table.begin(), table.end(), [resetType](const Setting& setting) {
        return setting.resetType == resetType;
    });
    return it == table.end() ? nullptr : &*it;
}

}  // namespace zolvane::emulator
