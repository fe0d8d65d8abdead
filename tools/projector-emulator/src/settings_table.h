// Every setting the projector knows, with the values it accepts and the commands it takes: the
// library's catalogue, with the emulator's starting values and behaviour added.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace zolvane::emulator {

// Which values a set may store: a stepped range, or a list of choices when choices is not empty.
struct AcceptedValues {
    std::uint16_t min = 0;
    std::uint16_t max = 0xFFFF;
    std::uint16_t step = 1;
    std::vector<std::uint16_t> choices;

    bool accepts(std::uint16_t value) const;
};

AcceptedValues range(std::uint16_t min, std::uint16_t max, std::uint16_t step = 1);
AcceptedValues anyValue();

// The commands a setting takes. Increment and decrement always come together.
namespace op {
constexpr unsigned kGet = 1U << 0;
constexpr unsigned kSet = 1U << 1;
constexpr unsigned kStep = 1U << 2;
constexpr unsigned kExecute = 1U << 3;

constexpr unsigned kReadOnly = kGet;
constexpr unsigned kChoice = kGet | kSet;
constexpr unsigned kAdjustable = kGet | kSet | kStep;
constexpr unsigned kCommand = kSet;
constexpr unsigned kAction = kExecute;
}  // namespace op

namespace trait {
constexpr unsigned kNone = 0;
// Answers while the projector is off or cooling down; everything else is refused then.
constexpr unsigned kStandby = 1U << 0;
// Saved and restored by the picture memories.
constexpr unsigned kPicture = 1U << 1;
}  // namespace trait

// What a setting does beyond storing its value.
enum class Role {
    Plain,
    Power,       // switching on and off, with cooling down
    Counter,     // operating hours: read-only, and its reset clears it to 0
    MemoryLoad,  // the value names the picture memory to restore
    MemorySave,  // the value names the picture memory to fill
};

struct Setting {
    std::uint16_t type;
    std::string_view name;
    std::uint16_t initial;
    AcceptedValues values;
    unsigned ops;
    std::uint16_t resetType;  // 0 when the setting has no reset
    unsigned traits;
    Role role = Role::Plain;
};

const std::vector<Setting>& settingsTable();

// Null when no setting has this type code (or reset type code).
const Setting* findSetting(std::uint16_t type);
const Setting* findSettingByResetType(std::uint16_t resetType);

}  // namespace zolvane::emulator
