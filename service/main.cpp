// zolvaned: watches and drives every projector of the inventory and answers the HTTP API.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "command_line.h"
#include "http_api.h"
#include "log.h"
#include "mqtt/bridge.h"
#include "pjlink/gateway.h"
#include "token.h"
#include "zolvane_fleet/fleet.h"

namespace {

using namespace zolvane;
using service::Level;
using service::log;

int check(const std::string& file) {
    const fleet::LoadResult loaded = fleet::loadInventory(file);
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
    const fleet::LoadResult loaded = fleet::loadInventory(options.inventory);
    if (!loaded.inventory) {
        for (const fleet::Fault& fault : loaded.faults) {
            log(Level::Error, fleet::describe(options.inventory, fault));
        }
        log(Level::Error, "not started: the inventory " + options.inventory + " has faults");
        return 1;
    }
    const fleet::Inventory& inventory = *loaded.inventory;
    service::ApiOptions api;
    api.maxBodyBytes = inventory.service.maxBodyBytes;
    api.lampWarningHours = inventory.service.lampWarningHours;
    if (!inventory.service.tokenFile.empty()) {
        std::string why;
        api.token = service::readToken(inventory.service.tokenFile, &why);
        if (!api.token) {
            log(Level::Error, "not started: the token file " + why);
            return 1;
        }
    }
    const service::ListenAddress listen = options.listen.value_or(
        service::ListenAddress{inventory.service.listenHost, inventory.service.listenPort});

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
    service::HttpApi http(fleet, api);
    std::string why;
    const auto port = http.bind(listen.host, listen.port, &why);
    if (!port) {
        log(Level::Error, "not started: " + why);
        fleet.unsubscribe(reachWatcher);
        return 1;
    }
    std::optional<service::mqtt::Bridge> broker;
    if (inventory.mqtt) {
        broker.emplace(fleet, inventory, *inventory.mqtt);
        if (!broker->start(&why)) {
            log(Level::Error, "not started: mqtt: " + why);
            broker.reset();
            fleet.unsubscribe(reachWatcher);
            return 1;
        }
    }
    // The gateways bind before the fleet starts, so that a port in use stops the start cleanly.
    service::pjlink::Gateways pjlink(fleet, inventory);
    const std::string pjlinkHost =
        inventory.service.pjlinkHost.empty() ? listen.host : inventory.service.pjlinkHost;
    if (!pjlink.start(pjlinkHost, &why)) {
        log(Level::Error, "not started: " + why);
        if (broker) broker->stop();
        fleet.unsubscribe(reachWatcher);
        return 1;
    }
    fleet.start();
    const std::string shownHost =
        listen.host.find(':') == std::string::npos ? listen.host : "[" + listen.host + "]";
    log(Level::Info, "started with " + std::to_string(inventory.projectors.size()) +
                         " projectors from " + options.inventory);
    const bool loopback =
        listen.host.starts_with("127.") || listen.host == "::1" || listen.host == "localhost";
    if (!api.token) {
        log(loopback ? Level::Info : Level::Warning,
            "write calls need no token: anyone who reaches " + listen.host +
                " may command the projectors");
    }
    log(Level::Info, "listening on " + shownHost + ":" + std::to_string(*port));
    std::atomic<bool> served{false};
    std::thread server([&http, &served] {
        http.serve();
        served = true;
    });

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
    // The fleet stops before the server is waited for: a request waiting on a queue (a
    // power-on waiting out a cool-down) is then answered at once instead of holding up the stop.
    http.stop();
    fleet.stop();
    if (broker) broker->stop();  // after the fleet, so that no command it waits for waits long
    pjlink.stop();               // likewise
    // A stop that came before the server was listening is not seen by it: ask until it ends.
    while (!served) {
        http.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    server.join();
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
    try {
        return run(*parsed.options);
    } catch (const std::exception& error) {
        log(Level::Error, std::string("stopped by an error: ") + error.what());
        return 1;
    }
}
