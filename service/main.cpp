// zolvaned: watches and drives every projector of the inventory and answers the HTTP API.
#include <pthread.h>
#include <signal.h>

#include <cstring>
#include <iostream>
#include <map>
#include <mutex>

#include "alert/alerts.h"
#include "auth/tokens.h"
#include "clock.h"
#include "command_line.h"
#include "front_ends.h"
#include "history/store.h"
#include "log.h"
#include "schedule/scheduler.h"
#include "systemd/notify.h"
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

// What a reading of the inventory changes that only a restart applies.
void logRestartNeeded(const service::ServiceInventory& now, const service::ServiceInventory& next,
                      bool listenFromCommandLine) {
    const service::Settings& a = now.settings();
    const service::Settings& b = next.settings();
    if (!listenFromCommandLine && (a.listenHost != b.listenHost || a.listenPort != b.listenPort)) {
        log(Level::Warning, "reload: the listen address changed to " + b.listenHost + ":" +
                                std::to_string(b.listenPort) +
                                "; it takes effect when the service is restarted");
    }
    if (a.maxBodyBytes != b.maxBodyBytes) {
        log(Level::Warning, "reload: max_body_bytes changed to " + std::to_string(b.maxBodyBytes) +
                                "; it takes effect when the service is restarted");
    }
    if (service::databaseFile(a) != service::databaseFile(b)) {
        log(Level::Warning, "reload: the database changed to \"" +
                                service::databaseFile(b).string() +
                                "\"; it takes effect when the service is restarted");
    }
}

std::string changeSummary(const fleet::Changes& changes) {
    return std::to_string(changes.added.size()) + " added, " +
           std::to_string(changes.removed.size()) + " removed, " +
           std::to_string(changes.changed.size()) + " changed";
}

int run(const service::CommandLine& options) {
    auto read = std::make_unique<const service::ServiceInventory>(options.inventory);
    const fleet::LoadResult& loaded = read->loaded();
    if (!loaded.inventory) {
        for (const fleet::Fault& fault : loaded.faults) {
            log(Level::Error, fleet::describe(options.inventory, fault));
        }
        log(Level::Error, "not started: the inventory " + options.inventory + " has faults");
        return 1;
    }
    const fleet::Inventory& inventory = *loaded.inventory;
    // The address is bound once; a reload that changes it is told to restart.
    const service::ListenAddress listen = options.listen.value_or(
        service::ListenAddress{read->settings().listenHost, read->settings().listenPort});

    // Signals are taken by one thread with sigwait(); every thread started from here on
    // inherits the mask, so none is interrupted by them. SIGUSR1 is taken too, so that it does
    // not end the service as its default would.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int number : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&signals, number);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    fleet::Fleet fleet(inventory);
    ReachLog reachLog;
    const auto reachWatcher = fleet.subscribe(std::ref(reachLog));
    // The history watches before any command can run; without a file it keeps none, and the
    // service goes on without it.
    service::history::Store::Options kept;
    kept.file = service::databaseFile(read->settings());
    kept.retentionDays = read->settings().historyDays;
    service::history::Store history(kept);
    if (history.open()) history.watch(fleet);
    service::schedule::Scheduler schedules(fleet, history, read->schedules());
    // Alerts are kept beside the history, or in memory when there is none.
    service::alert::Alerts alerts(fleet, inventory, history, schedules, read->alerting());
    const auto contextOf = [&](const service::ServiceInventory& reading) {
        return service::FrontEndContext{fleet,
                                        *reading.loaded().inventory,
                                        reading.settings(),
                                        reading.tokens(),
                                        listen,
                                        history,
                                        schedules,
                                        alerts,
                                        service::findZone(reading.settings().timezone)};
    };
    // Guards the list against the watchdog's look while a reload changes it.
    std::mutex frontEndsMutex;
    auto frontEnds = read->frontEnds(contextOf(*read));
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
    service::systemd::ready("serving " + std::to_string(inventory.projectors.size()) +
                            " projectors");
    service::systemd::Watchdog watchdog([&](std::string* why) {
        if (const std::vector<std::string> stuck = fleet.stuck(); !stuck.empty()) {
            *why = "the queue of " + stuck.front() + " is stuck in one exchange";
            return false;
        }
        std::unique_lock lock(frontEndsMutex, std::try_to_lock);
        if (!lock) return true;  // a reload is changing them
        for (const auto& frontEnd : frontEnds) {
            if (!frontEnd->alive()) {
                *why = "the " + std::string(frontEnd->name()) + " front end no longer turns";
                return false;
            }
        }
        return true;
    });
    watchdog.start();

    // Reads the inventory anew and applies it; with any fault the service goes on unchanged.
    const auto reload = [&] {
        service::systemd::reloading();
        log(Level::Info, "reloading " + options.inventory);
        auto next = std::make_unique<const service::ServiceInventory>(options.inventory);
        if (!next->loaded().inventory) {
            for (const fleet::Fault& fault : next->loaded().faults) {
                log(Level::Error, fleet::describe(options.inventory, fault));
            }
            log(Level::Error, "reload refused: the inventory " + options.inventory +
                                  " has faults; the service goes on unchanged");
            service::systemd::ready("reload refused");
            return;
        }
        logRestartNeeded(*read, *next, options.listen.has_value());
        const fleet::Inventory& projectors = *next->loaded().inventory;
        const fleet::Changes changes = fleet.reconcile(projectors);
        history.setRetentionDays(next->settings().historyDays);
        schedules.reload(next->schedules());
        alerts.reload(projectors, next->alerting());
        {
            std::lock_guard lock(frontEndsMutex);
            next->reload(frontEnds, contextOf(*next), changes);
        }
        read = std::move(next);
        log(Level::Info, "reloaded " + options.inventory + ": " +
                             std::to_string(projectors.projectors.size()) + " projectors, " +
                             changeSummary(changes));
        service::systemd::ready("serving " + std::to_string(projectors.projectors.size()) +
                                " projectors");
    };

    int received = 0;
    for (;;) {
        if (sigwait(&signals, &received) != 0) continue;
        if (received == SIGTERM || received == SIGINT) break;
        if (received == SIGHUP) reload();
    }
    log(Level::Info, std::string("stopping on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
    service::systemd::stopping();
    watchdog.stop();
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
    if (parsed.options->hashToken) return service::auth::hashToken(std::cin, std::cout, std::cerr);
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
