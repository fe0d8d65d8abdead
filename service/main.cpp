// zolvaned: watches and drives every projector of the inventory and answers the HTTP API.
#include <pthread.h>
#include <signal.h>

#include <cstring>
#include <iostream>
#include <map>
#include <mutex>

#include "alert/alerts.h"
#include "clock.h"
#include "command_line.h"
#include "front_ends.h"
#include "history/store.h"
#include "log.h"
#include "schedule/scheduler.h"
#include "zolvane_fleet/fleet.h"

namespace {

using namespace zolvane;
using service::Level;
using service::log;

int check(const std::string& file) {
    const service::ServiceInventory read(file);
    const fleet::LoadResult& loaded = read.loaded();
    if (!loaded.inventory) {
        for (const fleet::Fault& fault : loaded.faults) {
            std::cout << fleet::describe(file, fault) << '\n';
        }
        return 1;
    }
    std::cout << file << ": ok, " << loaded.inventory->projectors.size() << " projectors in "
              << loaded.inventory->groups().size() << " groups\n";
    return 0;
}

// Logs each projector's change of reachability once, with the reason when it went offline.
class ReachLog {
public:
    void operator()(const std::string& name, const fleet::ProjectorState& state) {
        std::lock_guard lock(mutex_);
        fleet::Reach& known = reach_[name];
        if (known == state.reach) return;
        known = state.reach;
        if (state.reach == fleet::Reach::Offline) {
            log(Level::Warning, name + " offline: " + state.lastFailure);
        } else if (state.reach == fleet::Reach::Online) {
            log(Level::Info, name + " online");
        }
    }

private:
    std::mutex mutex_;
    std::map<std::string, fleet::Reach> reach_;
};

int run(const service::CommandLine& options) {
    const service::ServiceInventory read(options.inventory);
    const fleet::LoadResult& loaded = read.loaded();
    if (!loaded.inventory) {
        for (const fleet::Fault& fault : loaded.faults) {
            log(Level::Error, fleet::describe(options.inventory, fault));
        }
        log(Level::Error, "not started: the inventory " + options.inventory + " has faults");
        return 1;
    }
    const fleet::Inventory& inventory = *loaded.inventory;
    const service::ListenAddress listen = options.listen.value_or(
        service::ListenAddress{read.settings().listenHost, read.settings().listenPort});

    // Signals are taken by one thread with sigwait(); every thread started from here on
    // inherits the mask, so none is interrupted by them.
    // SIGHUP (a reload, by convention) and SIGUSR1 are taken too, so that neither ends the
    // service as their default would.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int number : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&stopSignals, number);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    fleet::Fleet fleet(inventory);
    ReachLog reachLog;
    const auto reachWatcher = fleet.subscribe(std::ref(reachLog));
    // The history watches before any command can run; without a file it keeps none, and the
    // service goes on without it.
    service::history::Store::Options kept;
    kept.file = service::databaseFile(read.settings());
    kept.retentionDays = read.settings().historyDays;
    service::history::Store history(kept);
    if (history.open()) history.watch(fleet);
    service::schedule::Scheduler schedules(fleet, history, read.schedules());
    // Alerts are kept beside the history, or in memory when there is none.
    service::alert::Alerts alerts(fleet, inventory, history, schedules, read.alerting());
    const service::FrontEndContext context{
        fleet,   inventory, read.settings(), listen,
        history, schedules, alerts,          service::findZone(read.settings().timezone)};
    const auto frontEnds = read.frontEnds(context);
    for (auto started = frontEnds.begin(); started != frontEnds.end(); ++started) {
        std::string why;
        if ((*started)->start(&why)) continue;
        log(Level::Error, "not started: " + why);
        while (started != frontEnds.begin()) (*--started)->stop();
        history.stop();
        fleet.unsubscribe(reachWatcher);
        return 1;
    }
    alerts.start();  // sees the first poll
    fleet.start();
    log(Level::Info, "started with " + std::to_string(inventory.projectors.size()) +
                         " projectors from " + options.inventory);
    for (const auto& frontEnd : frontEnds) frontEnd->serve();
    schedules.start();

    int received = 0;
    for (;;) {
        if (sigwait(&stopSignals, &received) != 0) continue;
        if (received == SIGTERM || received == SIGINT) break;
        if (received == SIGHUP) {
            log(Level::Warning,
                "SIGHUP ignored: the inventory is read only at start; restart "
                "the service to apply a changed " +
                    options.inventory);
        }
    }
    log(Level::Info, std::string("stopping on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
    // Every front end stops taking work before the fleet stops, and ends after it (front_end.h).
    for (const auto& frontEnd : frontEnds) frontEnd->closing();
    fleet.stop();
    schedules.stop();  // a run under way has been answered as the fleet stopped
    alerts.stop();     // before the broker it may be publishing on
    for (const auto& frontEnd : frontEnds) frontEnd->stop();
    history.stop();
    fleet.unsubscribe(reachWatcher);
    log(Level::Info, "stopped");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const service::ParsedCommandLine parsed = service::parseCommandLine(argc, argv);
    if (!parsed.options) return parsed.exitStatus;
    if (!parsed.options->check.empty()) return check(parsed.options->check);
    if (parsed.options->verbose) service::setLogLevel(Level::Debug);
    if (parsed.options->testClock) {
        service::startWallClockAt(*service::parseInstant(*parsed.options->testClock));
    }
    try {
        return run(*parsed.options);
    } catch (const std::exception& error) {
        log(Level::Error, std::string("stopped by an error: ") + error.what());
        return 1;
    }
}
