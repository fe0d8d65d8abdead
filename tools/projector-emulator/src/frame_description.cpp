#include "frame_description.h"

#include <cstdio>

#include "settings_table.h"

namespace zolvane::emulator {
namespace {

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::string settingName(std::uint16_t type) {
    const Setting* setting = findSetting(type);
    return setting != nullptr ? std::string(setting->name) : "unknown " + hex16(type);
}

std::string meaning(const CommandFrame& frame) {
    if (!frame.headerValid) {
        return "bad header";
    }
    if (!frame.checksumValid) {
        return "bad checksum";
    }
    switch (frame.action) {
        case action::kGet:
            return "get " + settingName(frame.type);
        case action::kSet:
            return "set " + settingName(frame.type) + " " + std::to_string(frame.value);
        case action::kIncrement:
            return "increment " + settingName(frame.type);
        case action::kDecrement:
            return "decrement " + settingName(frame.type);
        case action::kExecute:
            if (const Setting* reset = findSettingByResetType(frame.type)) {
                return "reset " + std::string(reset->name);
            }
            return "execute " + settingName(frame.type);
        default:
            return "action " + std::to_string(frame.action) + " " + settingName(frame.type);
    }
}

std::string replyMeaning(const ReplyPlan& plan) {
    const auto bytes = plan.allBytes();
    if (bytes.empty()) {
        return plan.closeConnection ? "close" : "no reply";
    }
    if (bytes.size() == 1 && bytes[0] == reply_byte::kAck) {
        return "ack";
    }
    if (bytes.size() == 1 && bytes[0] == reply_byte::kNak) {
        return "nak";
    }
    if (bytes.size() == 3 && bytes[0] == reply_byte::kValue) {
        return "value " + std::to_string(bytes[1] | (bytes[2] << 8));
    }
    return std::to_string(bytes.size()) + " bytes";
}

}  // namespace

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        if (!text.empty()) {
            text += ' ';
        }
        text += digits;
    }
    return text;
}

std::string describeReceived(const CommandFrame& frame) {
    return "rx " + hexBytes(frame.raw) + "  " + meaning(frame);
}

std::string describeSent(const ReplyPlan& plan, FaultKind fault) {
    const auto bytes = plan.allBytes();
    std::string line = "tx " + (bytes.empty() ? std::string("--") : hexBytes(bytes));
    line += "  " + replyMeaning(plan);
    if (fault != FaultKind::None) {
        line += std::string(" [") + faultName(fault) + "]";
    }
    if (plan.delay.count() > 0) {
        line += " after " + std::to_string(plan.delay.count()) + " ms";
    }
    return line;
}

const char* faultName(FaultKind fault) {
    switch (fault) {
        case FaultKind::None:
            return "none";
        case FaultKind::NoReply:
            return "no-reply";
        case FaultKind::Nak:
            return "nak";
        case FaultKind::Garbage:
            return "garbage";
        case FaultKind::Split:
            return "split";
        case FaultKind::Trickle:
            return "trickle";
        case FaultKind::Close:
            return "close";
        case FaultKind::Overlong:
            return "overlong";
    }
    return "?";
}

}  // namespace zolvane::emulator
