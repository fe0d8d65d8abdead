#include "zolvane_fleet/state.h"

#include <tuple>

namespace zolvane::fleet {

std::string_view reachName(Reach reach) {
    switch (reach) {
        case Reach::Online:
            return "online";
        case Reach::Offline:
            return "offline";
        case Reach::Unknown:
            break;
    }
    return "unknown";
}

bool ProjectorState::sameAs(const ProjectorState& other) const {
    const auto shown = [](const ProjectorState& s) {
        return std::tie(s.reach, s.power, s.input, s.blank, s.mute, s.lampHours, s.filterHours,
                        s.errorStatus, s.lastFailure);
    };
    return shown(*this) == shown(other);
}

}  // namespace zolvane::fleet
