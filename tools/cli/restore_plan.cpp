#include "restore_plan.h"

#include <algorithm>
#include <string_view>

namespace zolvane::cli {
namespace {

enum Stage { PowerOn, Input, Ordinary, PictureState, Lock, PowerOff };

constexpr uint16_t kPower = 0x6000;
constexpr uint16_t kInputSource = 0x2000;
constexpr uint16_t kPowerOff = 0;

struct StagedSetting {
    std::string_view name;
    Stage stage;
};

constexpr StagedSetting kLateSettings[] = {
    {"Freeze", PictureState}, {"Magnify", PictureState}, {"Blank", PictureState},
    {"LensLock", Lock},       {"StillmarkLock", Lock},   {"IRRemoteFront", Lock},
    {"IRRemoteRear", Lock},   {"IRRemoteTop", Lock},
};

constexpr std::string_view kPassingStates[] = {"Blank", "Mute", "Freeze", "Magnify"};

bool Passing(const SettingRow& row) {
    return std::find(std::begin(kPassingStates), std::end(kPassingStates), row.name) !=
           std::end(kPassingStates);
}

bool Writable(const BackupEntry& entry) {
    return entry.value && entry.row->supports(Operation::Set);
}

Stage StageOf(const Command& command) {
    if (command.row->type == kPower) return command.value == kPowerOff ? PowerOff : PowerOn;
    if (command.row->type == kInputSource) return Input;
    for (const StagedSetting& late : kLateSettings) {
        if (late.name == command.row->name) return late.stage;
    }
    return Ordinary;
}

}  // namespace

std::vector<Command> RestorePlan(const Backup& backup, RestoreChoice choice) {
    std::vector<Command> plan;
    for (const BackupEntry& entry : backup) {
        if (!Writable(entry)) continue;
        if (entry.row->type == kPower && !choice.power) continue;
        if (Passing(*entry.row) && !choice.passing) continue;
        if (entry.row->type == kInputSource && !choice.input) continue;
        uint16_t value = *entry.value;
        // A projector that was cooling down when it was backed up was on its way off.
        if (entry.row->type == kPower && value != 1) value = kPowerOff;
        plan.push_back({entry.row, Operation::Set, value, {}});
    }
    std::stable_sort(plan.begin(), plan.end(),
                     [](const Command& a, const Command& b) { return StageOf(a) < StageOf(b); });
    return plan;
}

std::vector<std::string_view> PassingLeftOut(const Backup& backup, RestoreChoice choice) {
    std::vector<std::string_view> left;
    if (choice.passing) return left;
    for (const BackupEntry& entry : backup) {
        if (Writable(entry) && Passing(*entry.row)) left.push_back(entry.row->name);
    }
    return left;
}

}  // namespace zolvane::cli
