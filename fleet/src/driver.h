// How a queue talks to its projector. The queue knows commands on the catalogue's settings and
// the values it watches; a driver carries each one to the projector in the projector's own
// protocol: our frames over the library's link, or PJLink lines for projectors of other makes.
// Everything here runs on the event loop's thread, and nothing in it blocks: a driver waits for
// its socket through the loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "event_loop.h"
#include "zolvane_fleet/command.h"
#include "zolvane_fleet/driver_results.h"
#include "zolvane_fleet/inventory.h"
#include "zolvane_fleet/state.h"

namespace zolvane::fleet {

class Driver {
public:
    // The end of one exchange: its result (a ZV_RESULT_ code or one of driver_results.h) and,
    // for a get, the value read.
    using Done = EventLoop::Exchanged;

    virtual ~Driver() = default;

    // Carries out one command, as our frame would carry it (LinkAction). One at a time: the
    // queue starts the next only once done has been called; done runs on the loop's thread,
    // never before this returns.
    virtual void exchange(const LinkAction& action, Done done) = 0;

    // Asks the projector what it has and says of itself (the slow polls call it, and the first
    // poll); done, on the loop's thread, once abilities() holds what was found.
    virtual void survey(std::function<void()> done) = 0;

    // What the projector has, as far as known now.
    virtual Abilities abilities() const = 0;

    // The words for a failure this driver knows better than the queue does; empty: the
    // queue's own words.
    virtual std::string reason(zv_result result) const = 0;
};

// The driver for the entry's address: "pjlink://" speaks PJLink, every other address our own
// protocol over the library's link. Throws std::invalid_argument for an address or timing it
// cannot use.
std::unique_ptr<Driver> openDriver(const ProjectorEntry& entry, EventLoop& loop);

// The PJLink driver (pjlink_driver.cpp); openDriver() calls it for "pjlink://" addresses.
std::unique_ptr<Driver> openPjlinkDriver(const ProjectorEntry& entry, EventLoop& loop);

}  // namespace zolvane::fleet
