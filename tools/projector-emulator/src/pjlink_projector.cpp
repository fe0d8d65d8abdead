#include "pjlink_projector.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace zolvane::emulator {
namespace {

using namespace pjlink_power;
using namespace std::string_view_literals;

// The commands each class digit may ask; a class 2 projector answers both sets.
constexpr std::array kClass1Commands{"POWR"sv, "INPT"sv, "AVMT"sv, "ERST"sv, "LAMP"sv, "NAME"sv,
                                     "INF1"sv, "INF2"sv, "INFO"sv, "CLSS"sv, "INST"sv};
constexpr std::array kClass2Commands{"INPT"sv, "INST"sv, "INNM"sv, "FREZ"sv, "FILT"sv,
                                     "RLMP"sv, "RFIL"sv, "SNUM"sv, "SVER"sv};

constexpr std::array kClass1Inputs{"11"sv, "12"sv, "31"sv, "32"sv, "51"sv};
constexpr std::array kClass2Inputs{"11"sv, "12"sv, "31"sv, "32"sv, "33"sv, "51"sv, "56"sv};

struct InputName {
    std::string_view code;
    std::string_view name;
};
constexpr std::array kInputNames{InputName{"11", "Computer 1"},  InputName{"12", "Computer 2"},
                                 InputName{"31", "HDMI 1"},      InputName{"32", "HDMI 2"},
                                 InputName{"33", "DisplayPort"}, InputName{"51", "USB"},
                                 InputName{"56", "Network"}};

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& list, std::string_view value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

template <std::size_t N>
std::string joined(const std::array<std::string_view, N>& list) {
    std::string text;
    for (const std::string_view item : list) {
        if (!text.empty()) {
            text += ' ';
        }
        text += item;
    }
    return text;
}

bool isCommandName(std::string_view name) {
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

const std::string kOk = "OK";
const std::string kErr1 = "ERR1";  // undefined command
const std::string kErr2 = "ERR2";  // out of parameter
const std::string kErr3 = "ERR3";  // unavailable time
const std::string kErr4 = "ERR4";  // projector failure

std::string answerPower(PjlinkProjector& projector, std::string_view param,
                        PjlinkClock::time_point now) {
    const int power = projector.power(now);
    if (param == "?") {
        return std::to_string(power);
    }
    if (param == "1") {
        if (power == kCooling) {
            return kErr3;
        }
        if (power == kStandby) {
            projector.setPower(kWarming, now);
        }
        return kOk;
    }
    if (param == "0") {
        if (power == kWarming) {
            return kErr3;
        }
        if (power == kOn) {
            projector.setPower(kCooling, now);
        }
        return kOk;
    }
    return kErr2;
}

std::string answerMute(PjlinkProjector& projector, std::string_view param, bool on) {
    if (param == "?") {
        if (!on) {
            return kErr3;
        }
        if (projector.videoMuted && projector.audioMuted) {
            return "31";
        }
        return projector.videoMuted ? "11" : projector.audioMuted ? "21" : "30";
    }
    if (param.size() != 2 || param[0] < '1' || param[0] > '3' ||
        (param[1] != '0' && param[1] != '1')) {
        return kErr2;
    }
    if (!on) {
        return kErr3;
    }
    const bool muted = param[1] == '1';
    if (param[0] != '2') {
        projector.videoMuted = muted;
    }
    if (param[0] != '1') {
        projector.audioMuted = muted;
    }
    return kOk;
}

std::string answerInput(PjlinkProjector& projector, std::string_view param, bool on,
                        bool classTwo) {
    if (param == "?") {
        return on ? projector.input : kErr3;
    }
    if (classTwo ? !contains(kClass2Inputs, param) : !contains(kClass1Inputs, param)) {
        return kErr2;
    }
    if (!on) {
        return kErr3;
    }
    projector.input = std::string(param);
    return kOk;
}

std::string answerFreeze(PjlinkProjector& projector, std::string_view param, bool on) {
    if (param == "?") {
        return !on ? kErr3 : projector.frozen ? "1" : "0";
    }
    if (param != "0" && param != "1") {
        return kErr2;
    }
    if (!on) {
        return kErr3;
    }
    projector.frozen = param == "1";
    return kOk;
}

std::string answerInputName(std::string_view param) {
    if (param.size() == 3 && param[0] == '?') {
        for (const InputName& input : kInputNames) {
            if (input.code == param.substr(1)) {
                return std::string(input.name);
            }
        }
    }
    return kErr2;
}

// The read-only facts; empty for a command that is none of them.
std::string fact(const PjlinkProjector& projector, std::string_view name, bool classTwo, bool on) {
    const std::string index = std::to_string(projector.index);
    if (name == "ERST") return "000000";
    if (name == "LAMP") return std::to_string(1000 + projector.index) + (on ? " 1" : " 0");
    if (name == "NAME") return "Emulated PJLink " + index;
    if (name == "INF1") return "Emulator";
    if (name == "INF2") return "PJLink projector";
    if (name == "INFO") return "class " + std::to_string(projector.projectorClass) + " emulation";
    if (name == "CLSS") return std::to_string(projector.projectorClass);
    if (name == "INST") return classTwo ? joined(kClass2Inputs) : joined(kClass1Inputs);
    if (name == "FILT") return std::to_string(500 + projector.index);
    if (name == "RLMP") return "LMP-100";
    if (name == "RFIL") return "FLT-200";
    if (name == "SVER") return "1.0.0";
    if (name == "SNUM") {
        char serial[16];
        std::snprintf(serial, sizeof serial, "EMU%05zu", projector.index % 100'000);
        return serial;
    }
    return {};
}

}  // namespace

int PjlinkProjector::power(PjlinkClock::time_point now) {
    if ((powerState == kWarming || powerState == kCooling) && now >= until) {
        powerState = powerState == kWarming ? kOn : kStandby;
    }
    return powerState;
}

void PjlinkProjector::setPower(int power, PjlinkClock::time_point now) {
    powerState = power;
    if (power == kWarming) {
        until = now + warmUpTime;
    } else if (power == kCooling) {
        until = now + coolingTime;
    }
}

void PjlinkProjector::record(std::string line) {
    if (lines.size() >= kPjlinkLineLimit) {
        lines.pop_front();
    }
    lines.push_back(std::move(line));
}

std::optional<std::string> pjlinkAnswer(PjlinkProjector& projector, std::string_view line,
                                        PjlinkClock::time_point now) {
    if (line.size() < 7 || line[0] != '%' || line[1] < '1' || line[1] > '9' || line[6] != ' ') {
        return std::nullopt;
    }
    const std::string_view name = line.substr(2, 4);
    const std::string_view param = line.substr(7);
    if (!isCommandName(name)) {
        return std::nullopt;
    }
    const std::string head = std::string(line.substr(0, 6)) + "=";
    const int asked = line[1] - '0';
    const bool known =
        (asked == 1 && contains(kClass1Commands, name)) ||
        (asked == 2 && projector.projectorClass >= 2 && contains(kClass2Commands, name));
    if (!known) {
        return head + kErr1;
    }
    if (projector.fault == PjlinkFault::Err4) {
        return head + (name == "ERST" && param == "?" ? "000002" : kErr4);
    }
    if (name == "POWR") {
        return head + answerPower(projector, param, now);
    }
    const bool on = projector.power(now) == kOn;
    if (name == "INPT") return head + answerInput(projector, param, on, asked == 2);
    if (name == "AVMT") return head + answerMute(projector, param, on);
    if (name == "FREZ") return head + answerFreeze(projector, param, on);
    if (name == "INNM") return head + answerInputName(param);
    if (param != "?") {
        return head + kErr2;
    }
    return head + fact(projector, name, asked == 2, on);
}

}  // namespace zolvane::emulator
