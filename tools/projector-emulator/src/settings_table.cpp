#include "settings_table.h"

#include <algorithm>
#include <iterator>

#include "catalogue.h"

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

AcceptedValues anyValue() { return range(0, 0xFFFF); }

namespace {

// What the emulated projector adds to the library's catalogue, which gives the type codes, the
// operations and the accepted values: the value each setting starts with and how it behaves.
struct Behaviour {
    std::string_view name;  // the catalogue's export name
    std::uint16_t initial;
    unsigned traits;
    Role role = Role::Plain;
};

using namespace trait;
// clang-format off
constexpr Behaviour kBehaviours[] = {
    {"KeystoneV",         128, kNone},    {"KeystoneH",         128, kNone},
    {"Brightness",        128, kPicture}, {"Contrast",          128, kPicture},
    {"Aspect",              0, kNone},    {"Murmelo",             0, kNone},
    {"Mirror",              0, kNone},    {"Language",            0, kNone},
    {"Gamma",               0, kPicture}, {"CustomGamma",        22, kPicture},
    {"CustomColorTemp",     2, kPicture}, {"CustomUserR",         0, kPicture},
    {"CustomUserG",         0, kPicture}, {"CustomUserB",         0, kPicture},
    {"ColorBalanceR",     128, kPicture}, {"ColorBalanceG",     128, kPicture},
    {"ColorBalanceB",     128, kPicture}, {"Sharpness",         128, kPicture},
    {"Color",             128, kPicture}, {"Tint",              128, kPicture},
    {"VPosition",         128, kNone},    {"HPosition",         128, kNone},
    {"HPhase",              0, kNone},    {"HSize",            1024, kNone},
    {"OverScan",           95, kNone},    {"ColorSpace",          0, kNone},
    {"Component",           0, kNone},    {"VideoFormat",        10, kNone},
    {"3DYC",                1, kNone},    {"VideoNR",             2, kNone},
    {"S2Aspect",            0, kNone},    {"AutoOff",             0, kNone},
    {"AutoSearch",          1, kNone},    {"BlankColor",          3, kNone},
    {"Blank",               0, kNone},    {"Startup",             0, kNone},
    {"MenuPositionV",     128, kNone},    {"MenuPositionH",     128, kNone},
    {"Message",             1, kNone},    {"Volume",             16, kNone},
    {"Mute",                0, kNone},
    {"LampTime",         1234, kStandby, Role::Counter},
    {"FilterTime",        567, kStandby, Role::Counter},
    {"Magnify",             0, kNone},    {"Freeze",              0, kNone},
    {"Power",               1, kStandby, Role::Power},
    {"InputSource",         0, kNone},    {"ErrorStatus",         0, kStandby},
    {"PinPSize",            0, kNone},    {"PinPPosition",        0, kNone},
    {"PinPAudioCh",         0, kNone},    {"PinPInput",           1, kNone},
    {"StillmarkSize",       0, kNone},    {"StillmarkLock",       0, kNone},
    {"IRRemoteFront",       1, kNone},    {"IRRemoteRear",        1, kNone},
    {"IRRemoteTop",         1, kNone},    {"PowerUpSource",      16, kNone},
    {"AutoAdjustEnable",    1, kNone},    {"InternalSpeaker",     1, kNone},
    {"LensLock",            0, kNone},    {"RemoteID",            0, kNone},
    {"AutoPowerOn",         0, kNone},    {"Lens",                0, kNone},
    {"SlotkeepLoad",        0, kNone, Role::MemoryLoad},
    {"SlotkeepSave",        0, kNone, Role::MemorySave},
    {"AutoAdjust",          0, kNone},
};
// clang-format on

constexpr bool namesASetting(const Behaviour& behaviour) {
    return std::any_of(
        zolvane::Catalogue().begin(), zolvane::Catalogue().end(),
        [&behaviour](const zv_setting& entry) { return behaviour.name == entry.name; });
}
static_assert(std::all_of(std::begin(kBehaviours), std::end(kBehaviours), namesASetting) &&
                  std::size(kBehaviours) == zolvane::Catalogue().size(),
              "one behaviour row for each setting of the catalogue");

AcceptedValues acceptedBy(const zv_setting& entry) {
    if (entry.has_range != 0) return range(entry.min, entry.max, entry.step);
    if (entry.name_count != 0) {
        AcceptedValues values;
        for (std::size_t i = 0; i < entry.name_count; ++i) {
            values.choices.push_back(entry.names[i].value);
        }
        return values;
    }
    return anyValue();
}

unsigned commandsOf(const zv_setting& entry) {
    unsigned ops = 0;
    if ((entry.operations & ZV_OP_GET) != 0) ops |= op::kGet;
    if ((entry.operations & ZV_OP_SET) != 0) ops |= op::kSet;
    if ((entry.operations & (ZV_OP_INCREMENT | ZV_OP_DECREMENT)) != 0) ops |= op::kStep;
    if ((entry.operations & ZV_OP_EXECUTE) != 0) ops |= op::kExecute;
    return ops;
}

std::vector<Setting> fromCatalogue() {
    std::vector<Setting> table;
    for (const zv_setting& entry : zolvane::Catalogue()) {
        const auto behaviour =
            std::find_if(std::begin(kBehaviours), std::end(kBehaviours),
                         [&entry](const Behaviour& b) { return b.name == entry.name; });
        const Behaviour plain{entry.name, 0, kNone};
        const Behaviour& own = behaviour != std::end(kBehaviours) ? *behaviour : plain;
        table.push_back({entry.type, entry.label[0] != '\0' ? entry.label : entry.name, own.initial,
                         acceptedBy(entry), commandsOf(entry), entry.reset_type, own.traits,
                         own.role});
    }
    return table;
}

}  // namespace

const std::vector<Setting>& settingsTable() {
    static const std::vector<Setting> table = fromCatalogue();
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
