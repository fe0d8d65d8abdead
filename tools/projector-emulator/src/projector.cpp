#include "projector.h"

namespace zolvane::emulator {

Projector::Projector(PowerState initialPower, std::chrono::milliseconds coolingTime,
                     Clock::time_point now)
    : coolingTime_(coolingTime) {
    for (const Setting& setting : settingsTable()) {
        values_[setting.type] = setting.initial;
    }
    memories_.fill(pictureValues());
    setPower(initialPower, now);
}

Reply Projector::handle(const CommandFrame& frame, Clock::time_point now) {
    if (!frame.valid()) {
        return nakReply();
    }
    if (frame.action == action::kExecute) {
        return execute(frame, now);
    }
    const Setting* setting = findSetting(frame.type);
    if (setting == nullptr || !answers(*setting, now)) {
        return nakReply();
    }
    if (frame.action == action::kGet) {
        if ((setting->ops & op::kGet) == 0 || failedGets_.contains(frame.type)) {
            return nakReply();
        }
        return valueReply(*value(frame.type, now));
    }
    if (refusedChanges_.contains(frame.type)) {
        return nakReply();
    }
    switch (frame.action) {
        case action::kSet:
            return (setting->ops & op::kSet) != 0 ? set(*setting, frame.value, now) : nakReply();
        case action::kIncrement:
            return (setting->ops & op::kStep) != 0 ? step(*setting, +1) : nakReply();
        case action::kDecrement:
            return (setting->ops & op::kStep) != 0 ? step(*setting, -1) : nakReply();
        default:
            return nakReply();
    }
}

Reply Projector::execute(const CommandFrame& frame, Clock::time_point now) {
    if (refusedChanges_.contains(frame.type)) {
        return nakReply();
    }
    if (const Setting* reset = findSettingByResetType(frame.type)) {
        if (!answers(*reset, now)) {
            return nakReply();
        }
        values_[reset->type] = reset->role == Role::Counter ? 0 : reset->initial;
        return ackReply();
    }
    const Setting* setting = findSetting(frame.type);
    if (setting == nullptr || (setting->ops & op::kExecute) == 0 || !answers(*setting, now)) {
        return nakReply();
    }
    // Automatic adjustment is the only one-shot command, and it leaves nothing to store.
    return ackReply();
}

Reply Projector::set(const Setting& setting, std::uint16_t value, Clock::time_point now) {
    if (!setting.values.accepts(value)) {
        return nakReply();
    }
    switch (setting.role) {
        case Role::Power:
            return switchPower(value, now);
        case Role::MemorySave:
            memories_.at(value) = pictureValues();
            break;
        case Role::MemoryLoad:
            for (const auto& [type, stored] : memories_.at(value)) {
                values_[type] = stored;
            }
            break;
        case Role::Plain:
        case Role::Counter:
            break;
    }
    values_[setting.type] = value;
    return ackReply();
}

Reply Projector::step(const Setting& setting, int direction) {
    const int next = values_[setting.type] + direction * setting.values.step;
    if (next < 0 || next > 0xFFFF || !setting.values.accepts(static_cast<std::uint16_t>(next))) {
        return nakReply();
    }
    values_[setting.type] = static_cast<std::uint16_t>(next);
    return ackReply();
}

Reply Projector::switchPower(std::uint16_t value, Clock::time_point now) {
    const PowerState current = power(now);
    if (value == 1) {
        // A lamp still cooling down cannot be struck again.
        if (current == PowerState::CoolingDown) {
            return nakReply();
        }
        setPower(PowerState::On, now);
    } else if (current == PowerState::On) {
        setPower(PowerState::CoolingDown, now);
    }
    return ackReply();
}

bool Projector::answers(const Setting& setting, Clock::time_point now) const {
    return (setting.traits & trait::kStandby) != 0 || power(now) == PowerState::On;
}

Projector::Values Projector::pictureValues() const {
    Values picture;
    for (const Setting& setting : settingsTable()) {
        if ((setting.traits & trait::kPicture) != 0) {
            picture[setting.type] = values_.at(setting.type);
        }
    }
    return picture;
}

std::optional<std::uint16_t> Projector::value(std::uint16_t type, Clock::time_point now) const {
    const Setting* setting = findSetting(type);
    if (setting == nullptr) {
        return std::nullopt;
    }
    if (setting->role == Role::Power) {
        return static_cast<std::uint16_t>(power(now));
    }
    return values_.at(type);
}

bool Projector::forceValue(std::uint16_t type, std::uint16_t value, Clock::time_point now) {
    const Setting* setting = findSetting(type);
    if (setting == nullptr) {
        return false;
    }
    if (setting->role == Role::Power) {
        if (value > static_cast<std::uint16_t>(PowerState::CoolingDown)) {
            return false;
        }
        setPower(static_cast<PowerState>(value), now);
        return true;
    }
    values_[type] = value;
    return true;
}

PowerState Projector::power(Clock::time_point now) const {
    if (power_ == PowerState::CoolingDown && now >= coolingEnds_) {
        return PowerState::Off;
    }
    return power_;
}

void Projector::setPower(PowerState state, Clock::time_point now) {
    power_ = state;
    coolingEnds_ = now + coolingTime_;
}

void Projector::refuseChanges(std::uint16_t type, bool refuse) {
    if (refuse) {
        refusedChanges_.insert(type);
    } else {
        refusedChanges_.erase(type);
    }
}

void Projector::failGets(std::uint16_t type, bool fail) {
    if (fail) {
        failedGets_.insert(type);
    } else {
        failedGets_.erase(type);
    }
}

}  // namespace zolvane::emulator
