#include "zolvane_fleet/state.h"

#include "zolvane_fleet/watched.h"

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
    if (reach != other.reach || lastFailure != other.lastFailure) return false;
    if (abilities != other.abilities) return false;
    for (const WatchedValue& row : watchedValues()) {
        if (this->*row.member != other.*row.member) return false;
    }
    return true;
}

}  // namespace zolvane::fleet
