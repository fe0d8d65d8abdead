// A front end: a way in to the fleet for the outside (the HTTP API, the broker, the PJLink
// gateways). Each is made from its own part of the inventory, started before the fleet and
// stopped after it; front_ends.cpp lists them all.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "command_line.h"
#include "settings.h"
#include "zolvane_fleet/fleet.h"

namespace date {
class time_zone;
}

namespace zolvane::service {

namespace history {
class Store;
}
namespace schedule {
class Scheduler;
}
namespace alert {
class Alerts;
}
namespace auth {
struct TokenTable;
}

// What every front end is made from. The fleet, the history, the schedules and the alerts live
// as long as the service; the rest belongs to one reading of the inventory, and a front end that
// keeps any of it keeps a copy (a reload reads the inventory anew and drops the old reading).
struct FrontEndContext {
    fleet::Fleet& fleet;
    const fleet::Inventory& inventory;
    const Settings& settings;  // [service]
    const auth::TokenTable& tokens;
    ListenAddress listen;     // the command line's, else [service]'s
    history::Store& history;  // unavailable when the service keeps none
    schedule::Scheduler& schedules;
    alert::Alerts& alerts;
    const date::time_zone* zone;  // [service]'s, else the system's
};

class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    virtual std::string_view name() const = 0;
    // Before the fleet starts, so that a port in use or a file that cannot be read stops the
    // start cleanly: false with the reason, nothing left open.
    virtual bool start(std::string* why) = 0;
    // Once the fleet has started.
    virtual void serve() {}
    // Before the fleet stops: no new work is taken, and what waits on a queue is answered as the
    // fleet stops rather than holding up the stop.
    virtual void closing() {}
    // After the fleet has stopped (every command queued has been answered by then), or when a
    // later front end could not start.
    virtual void stop() = 0;
    // Whether its threads still turn: the service's watchdog is fed only while every front end
    // is alive.
    virtual bool alive() const { return true; }
};

// A front end's part of the inventory, read with the rest of it, and the front end made from
// what was read.
class FrontEndPart {
public:
    virtual ~FrontEndPart() = default;
    // nullptr: it reads nothing of its own.
    virtual fleet::InventorySection* reader() { return nullptr; }
    // nullptr: the inventory asks for none.
    virtual std::unique_ptr<FrontEnd> make(const FrontEndContext& context) const = 0;
    // A reload: this part, read anew, applied to the front end of its kind that is running
    // (made by a part of the same kind from an earlier reading). next is the new reading's
    // context; changes what the fleet's reconcile() did to its projectors, already done. Whatever
    // cannot be applied (a new port in use) is logged and the rest applied; the front end goes on.
    virtual void reload(FrontEnd& running, const FrontEndContext& next,
                        const fleet::Changes& changes) const = 0;
};

}  // namespace zolvane::service
