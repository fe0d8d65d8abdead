// zolvaned's MQTT side under load: 200 projectors, served by one emulator inside this process
// over loopback TCP, watched by zolvaned (a child process) that publishes to a mosquitto broker
// (another child, on a free loopback port) to which this program subscribes with a libmosquitto
// client of its own. One run of about 2 minutes prints one table:
//   - the service's CPU (share of one core, utime + stime from /proc/PID/stat) and memory when
//     polling without an [mqtt] table, as the ground the MQTT side is measured against;
//   - from the service's connect to the full retained state and discovery of all 200 projectors
//     at the subscriber, and the rate of messages on the way: at a cold start, when Home
//     Assistant says it started again, and after a broker restart;
//   - the service's CPU and memory, the broker's CPU and the messages published in steady state,
//     with the broker connected;
//   - from a command published to its result arriving, median and 99th percentile: back to
//     back at QoS 1 and 0 and 100 ms apart with the broker's defaults, and back to back again
//     after the restart with its set_tcp_nodelay on; beside them the same command over the
//     HTTP API, the projector's exchange alone. With the broker's defaults its small writes
//     wait for delayed ACKs (Nagle's algorithm): some 40 ms whenever one follows another that
//     is not yet acknowledged.
// MQTT_BENCH_TRACE=1 adds where the time of each burst went (messages per 100 ms).
//
// zolvaned is the one built beside this benchmark, or the program ZOLVANED names; the broker is
// /usr/sbin/mosquitto or the program MOSQUITTO names. Their logs go to the run's temporary
// directory, named at the end.
#include <httplib.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "projector_emulator/emulator.h"
#include "service_api.h"
#include "service_harness.h"

namespace {

namespace emu = zolvane::emulator;
using namespace zolvane::bench;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Json = nlohmann::json;

constexpr int kProjectors = 200;
constexpr milliseconds kPollInterval{5000};
constexpr seconds kCpuWindow{30};
constexpr int kCommands = 400;
constexpr milliseconds kCommandTimeout{5000};
constexpr seconds kBurstTimeout{20};

const std::string kSite = "bench";
const std::string kBase = "zolvane/" + kSite;
const std::string kDiscoveryPrefix = "homeassistant";

// What a projector publishes once its state is known, beside its availability.
constexpr const char* kStateTopics[] = {"state",        "power",        "input",
                                        "blank",        "mute",         "lamp_hours",
                                        "filter_hours", "error_status", "reach"};
// Home Assistant's entities of one projector: component and object.
constexpr const char* kEntities[][2] = {
    {"switch", "power"},        {"select", "input"},
    {"switch", "blank"},        {"switch", "mute"},
    {"sensor", "lamp_hours"},   {"sensor", "filter_hours"},
    {"sensor", "error_status"}, {"binary_sensor", "connectivity"},
};

std::string ProjectorTopic(int index, const std::string& leaf) {
    return kBase + "/projector/" + Name(index) + "/" + leaf;
}

// Every projector online, as the HTTP API says.
bool WaitAllOnline(uint16_t apiPort, seconds timeout) {
    httplib::Client api("127.0.0.1", apiPort);
    api.set_read_timeout(10, 0);
    return WaitForReach(api, "online", kProjectors, timeout);
}

// ---- the benchmark's own client: every message of this site and of Home Assistant's prefix,
// each stamped with the moment it arrived. libmosquitto calls back on a thread of its own.

struct Arrival {
    Clock::time_point at;
    std::string topic, payload;
    bool retained = false;  // a broker's replay at subscribing, not something just published
};

// A message the service published (not one of the commands this program sends, nor Home
// Assistant's status, which come back to it as well).
bool FromService(const Arrival& m) {
    return !m.retained && m.topic.find("/set/") == std::string::npos &&
           !m.topic.ends_with("/command") && m.topic != kDiscoveryPrefix + "/status";
}

class Subscriber {
public:
    Subscriber(const char* id, std::vector<std::string> filters) : filters_(std::move(filters)) {
        mosq_ = ::mosquitto_new(id, true, this);
        ::mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
        ::mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void* self, int rc) {
            if (rc != 0) return;
            for (const std::string& filter : static_cast<Subscriber*>(self)->filters_) {
                ::mosquitto_subscribe(m, nullptr, filter.c_str(), 1);
            }
        });
        ::mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard lock(s->mutex_);
            ++s->subscribed_;
            s->changed_.notify_all();
        });
        ::mosquitto_message_callback_set(
            mosq_, [](mosquitto*, void* self, const mosquitto_message* message) {
                auto* s = static_cast<Subscriber*>(self);
                Arrival arrival{Clock::now(), message->topic,
                                std::string(static_cast<const char*>(message->payload),
                                            static_cast<size_t>(message->payloadlen)),
                                message->retain};
                std::lock_guard lock(s->mutex_);
                s->arrivals_.push_back(std::move(arrival));
                s->changed_.notify_all();
            });
    }
    ~Subscriber() {
        ::mosquitto_disconnect(mosq_);
        ::mosquitto_loop_stop(mosq_, true);
        ::mosquitto_destroy(mosq_);
    }
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    // Connected and both subscriptions acknowledged.
    bool connect(uint16_t port) {
        if (::mosquitto_connect(mosq_, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS) return false;
        ::mosquitto_loop_start(mosq_);
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, seconds(5),
                                 [this] { return subscribed_ >= filters_.size(); });
    }

    void publish(const std::string& topic, const std::string& payload, int qos = 1) {
        ::mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                            payload.data(), qos, false);
    }

    size_t count() {
        std::lock_guard lock(mutex_);
        return arrivals_.size();
    }

    // Waits until done(arrivals) is true or the deadline passes; done sees every arrival so far
    // and is called again as more come, under the lock.
    template <class Done>
    bool waitUntil(Clock::time_point deadline, Done done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_until(lock, deadline, [&] { return done(arrivals_); });
    }

    std::vector<Arrival> since(size_t from) {
        std::lock_guard lock(mutex_);
        return {arrivals_.begin() + static_cast<std::ptrdiff_t>(std::min(from, arrivals_.size())),
                arrivals_.end()};
    }

private:
    const std::vector<std::string> filters_;
    mosquitto* mosq_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Arrival> arrivals_;
    size_t subscribed_ = 0;
};

// The full retained state and discovery of every projector, from arrivals at and after a
// place: each topic seen at least once (availability as "online"). Fed incrementally.
struct Coverage {
    std::unordered_set<std::string> awaited;
    size_t next = 0;
    long messages = 0;  // from the service, up to the one that completed the set
    std::optional<Clock::time_point> first, complete;

    Coverage(size_t from, bool withStatus) : next(from) {
        if (withStatus) awaited.insert(kBase + "/status");
        for (int i = 0; i < kProjectors; ++i) {
            awaited.insert(ProjectorTopic(i, "availability"));
            for (const char* leaf : kStateTopics) awaited.insert(ProjectorTopic(i, leaf));
            for (const auto& [component, object] : kEntities) {
                awaited.insert(kDiscoveryPrefix + "/" + component + "/zolvane_" + kSite + "_" +
                               Name(i) + "/" + object + "/config");
            }
        }
    }

    bool feed(const std::vector<Arrival>& arrivals) {
        for (; next < arrivals.size() && !complete; ++next) {
            const Arrival& m = arrivals[next];
            if (!FromService(m)) continue;
            ++messages;
            if (!first) first = m.at;
            const auto found = awaited.find(m.topic);
            if (found == awaited.end()) continue;
            if ((m.topic.ends_with("/availability") || m.topic.ends_with("/status")) &&
                m.payload != "online") {
                continue;
            }
            awaited.erase(found);
            if (awaited.empty()) complete = m.at;
        }
        return complete.has_value();
    }
};

// ---- the table

// A burst of publications from `from`, measured from its first message (the service's
// connect, or its answer to Home Assistant's status) to the last topic of the full set.
void BurstRows(const char* what, Subscriber& subscriber, size_t from, bool withStatus = true) {
    Coverage coverage(from, withStatus);
    const bool done = subscriber.waitUntil(Clock::now() + kBurstTimeout,
                                           [&](const auto& all) { return coverage.feed(all); });
    if (!done) {
        std::string example = coverage.awaited.empty() ? "" : *coverage.awaited.begin();
        Row(what,
            Format("incomplete: %zu topics missing, e.g. %s", coverage.awaited.size(),
                   example.c_str()),
            "< 1000 ms", false);
        return;
    }
    const double ms = Ms(*coverage.complete - *coverage.first);
    if (std::getenv("MQTT_BENCH_TRACE")) {
        // Where the time went: the service's messages per 100 ms, and the kinds of the last ones.
        std::map<long, long> buckets;
        std::map<std::string, long> lateKinds;
        for (const Arrival& m : subscriber.since(from)) {
            if (!FromService(m) || m.at > *coverage.complete) continue;
            const double at = Ms(m.at - *coverage.first);
            ++buckets[static_cast<long>(at / 100)];
            if (at > ms - 100) ++lateKinds[m.topic.substr(m.topic.rfind('/') + 1)];
        }
        for (const auto& [bucket, n] : buckets) std::printf("    %5ld ms: %ld\n", bucket * 100, n);
        for (const auto& [kind, n] : lateKinds) std::printf("    late: %s %ld\n", kind.c_str(), n);
    }
    Row(what, Format("%.0f ms, %ld messages", ms, coverage.messages), "< 1000 ms", ms < 1000);
    Row("  messages per second on the way",
        Format("%.0f/s", 1000.0 * static_cast<double>(coverage.messages) / std::max(ms, 1.0)));
}

// The first arrival at or after `from` on `topic` (with `payload`, when one is given), waited
// for until the deadline.
std::optional<Arrival> Await(Subscriber& client, size_t from, const std::string& topic,
                             Clock::time_point deadline, const char* payload = nullptr) {
    std::optional<Arrival> found;
    client.waitUntil(deadline, [&](const std::vector<Arrival>& all) {
        for (size_t i = from; i < all.size() && !found; ++i) {
            if (all[i].topic == topic && !all[i].retained &&
                (!payload || all[i].payload == payload))
                found = all[i];
        }
        return found.has_value();
    });
    return found;
}

std::string Spread(const std::vector<double>& ms) {
    return Format("median %.2f ms, p99 %.2f, max %.2f (%zu)", Quantile(ms, 0.5), Quantile(ms, 0.99),
                  Quantile(ms, 1.0), ms.size());
}

// Commands one at a time, each to the next projector, blank on and off in turn, published by
// `everything` (a client of every topic, as a dashboard) at the QoS given: from each command to
// its result at `results` (a client of the result topics alone, whose socket carries nothing
// else, so that its arrival is as near as can be seen to its publication), and to the blank
// topic and the result at `everything`.
void CommandRows(const char* what, Subscriber& everything, Subscriber& results, int qos,
                 int commands = kCommands, milliseconds pause = {}) {
    std::vector<double> toResult, toState, toResultThere;
    long failed = 0;
    std::string lastReason;
    for (int k = 0; k < commands; ++k) {
        if (pause.count() > 0) std::this_thread::sleep_for(pause);
        const int index = k % kProjectors;
        const char* value = (k / kProjectors) % 2 == 0 ? "on" : "off";
        const size_t fromHere = everything.count(), fromThere = results.count();
        const auto sent = Clock::now();
        everything.publish(ProjectorTopic(index, "set/Blank"), value, qos);
        const auto deadline = sent + kCommandTimeout;
        const auto result = Await(results, fromThere, ProjectorTopic(index, "result"), deadline);
        if (!result) {
            ++failed;
            lastReason = "no result within 5 s";
            if (failed == k + 1 && failed == 5) break;  // none answered: no point going on
            continue;
        }
        const Json body = Json::parse(result->payload, nullptr, false);
        if (!body.is_object() || body.value("outcome", "") != "accepted") {
            ++failed;
            lastReason = result->payload;
            continue;
        }
        toResult.push_back(Ms(result->at - sent));
        if (const auto state =
                Await(everything, fromHere, ProjectorTopic(index, "blank"), deadline, value)) {
            toState.push_back(Ms(state->at - sent));
        }
        if (const auto there =
                Await(everything, fromHere, ProjectorTopic(index, "result"), deadline)) {
            toResultThere.push_back(Ms(there->at - sent));
        }
    }
    const double median = Quantile(toResult, 0.5);
    Row(what, Spread(toResult), "median<10 ms", median < 10.0 && failed == 0);
    Row("  to the blank topic, at a client of everything", Spread(toState));
    Row("  to the result, at that client of everything", Spread(toResultThere));
    Row("  commands not accepted",
        Format("%ld%s%.80s", failed, failed ? ": " : "", lastReason.c_str()));
}

struct Steady {
    double share = 0;  // % of one core
    long rss = 0, hwm = 0, threads = 0;
};

Steady Quiet(pid_t service) {
    const double before = CpuSeconds(service);
    std::this_thread::sleep_for(kCpuWindow);
    Steady steady;
    steady.share = 100.0 * (CpuSeconds(service) - before) / static_cast<double>(kCpuWindow.count());
    steady.rss = StatusValue(service, "VmRSS");
    steady.hwm = StatusValue(service, "VmHWM");
    steady.threads = StatusValue(service, "Threads");
    return steady;
}

void MemoryRow(const char* what, const Steady& steady) {
    Row(what, Format("%.1f / %.1f MB, %ld threads", steady.rss / 1024.0, steady.hwm / 1024.0,
                     steady.threads));
}

std::string Inventory(uint16_t apiPort, const emu::Emulator& fleet,
                      std::optional<uint16_t> brokerPort) {
    std::string text = InventoryHead(apiPort, kPollInterval);
    if (brokerPort) {
        text += "\n[mqtt]\nhost = \"127.0.0.1\"\nport = " + std::to_string(*brokerPort) +
                "\nclient_id = \"zolvaned-bench\"\nsite = \"" + kSite +
                "\"\nqos = 1\ndiscovery = true\n";
    }
    return text + FloorProjectors(kProjectors, fleet);
}

}  // namespace

int main() {
    const std::string program = ServiceProgram();
    const char* brokerNamed = std::getenv("MOSQUITTO");
    const std::string brokerProgram = brokerNamed ? brokerNamed : "/usr/sbin/mosquitto";

    emu::Options options;
    options.count = kProjectors;
    options.frameLogLimit = 16;
    options.idleTimeout = milliseconds(0);
    emu::Emulator fleet(options);
    if (!StartEmulator(fleet)) return 1;

    const std::filesystem::path dir = RunDirectory("mqtt-bench");
    const uint16_t apiPort = FreePort(), brokerPort = FreePort();
    // A burst of 3600 retained messages meets the broker's default of 1000 queued per client
    // should this subscriber fall behind; the figure is the service's, so the queue is let grow.
    std::ofstream(dir / "mosquitto.conf")
        << "listener " << brokerPort << " 127.0.0.1\nallow_anonymous true\n"
        << "persistence false\nmax_queued_messages 100000\n";
    const auto startBroker = [&] {
        const pid_t pid =
            Start({brokerProgram, "-c", (dir / "mosquitto.conf").string()}, dir / "mosquitto.log");
        const auto end = Clock::now() + seconds(5);
        while (!Accepts(brokerPort) && Clock::now() < end) {
            std::this_thread::sleep_for(milliseconds(10));
        }
        return pid;
    };
    pid_t broker = startBroker();
    const std::vector<std::string> serviceArgs = {program, "--inventory",
                                                  (dir / "inventory.toml").string()};

    std::printf("mqtt_bench: %d emulated projectors, polled every %lld ms; broker on port %u\n",
                kProjectors, static_cast<long long>(kPollInterval.count()), brokerPort);
    std::fflush(stdout);

    // The ground: polling alone, no [mqtt] table.
    std::ofstream(dir / "inventory.toml") << Inventory(apiPort, fleet, std::nullopt);
    pid_t service = Start(serviceArgs, dir / "zolvaned-plain.log");
    if (!WaitAllOnline(apiPort, seconds(30))) {
        std::fprintf(stderr, "the service without MQTT did not see all projectors online\n");
        Stop(service);
        Stop(broker);
        return 1;
    }
    const Steady plain = Quiet(service);
    Row("service CPU, polling only", Format("%.2f %% of one core", plain.share));
    MemoryRow("  VmRSS / VmHWM", plain);
    Stop(service);

    ::mosquitto_lib_init();
    {
        const auto resultsOnly = [] {
            return std::make_unique<Subscriber>(
                "mqtt-bench-results", std::vector<std::string>{kBase + "/projector/+/result"});
        };
        const auto ofEverything = [] {
            return std::make_unique<Subscriber>(
                "mqtt-bench", std::vector<std::string>{kBase + "/#", kDiscoveryPrefix + "/#"});
        };
        auto subscriber = ofEverything();
        auto results = resultsOnly();
        if (!subscriber->connect(brokerPort) || !results->connect(brokerPort)) {
            std::fprintf(stderr, "the benchmark's client could not subscribe to the broker\n");
            Stop(broker);
            return 1;
        }

        // Cold start: the service connects while its first polls are under way.
        std::ofstream(dir / "inventory.toml") << Inventory(apiPort, fleet, brokerPort);
        const auto launched = Clock::now();
        service = Start(serviceArgs, dir / "zolvaned.log");
        size_t mark = subscriber->count();
        const bool heard = subscriber->waitUntil(launched + seconds(10), [&](const auto& all) {
            return std::any_of(all.begin() + static_cast<std::ptrdiff_t>(mark), all.end(),
                               FromService);
        });
        if (!heard) {
            std::fprintf(stderr, "nothing from the service on the broker within 10 s (logs: %s)\n",
                         dir.c_str());
            Stop(service);
            Stop(broker);
            return 1;
        }
        Row("start to the service's first message", Format("%.0f ms", Ms(Clock::now() - launched)));
        BurstRows("cold start: connect to full state and discovery", *subscriber, mark);
        WaitAllOnline(apiPort, seconds(10));

        // Steady state with the broker connected.
        std::this_thread::sleep_for(seconds(2));  // the last of the start's publications
        mark = subscriber->count();
        const double brokerBefore = CpuSeconds(broker);
        const Steady mqtt = Quiet(service);
        const double brokerShare =
            100.0 * (CpuSeconds(broker) - brokerBefore) / static_cast<double>(kCpuWindow.count());
        const auto quiet = subscriber->since(mark);
        const auto published = std::count_if(quiet.begin(), quiet.end(), FromService);
        const double extra = mqtt.share - plain.share;
        Row("service CPU, polling with the broker connected",
            Format("%.2f %% of one core", mqtt.share));
        Row("  of which the MQTT side (less polling only)", Format("%.2f %% of one core", extra),
            "< 2 %", extra < 2.0);
        MemoryRow("  VmRSS / VmHWM", mqtt);
        Row("  messages published in steady state",
            Format("%.1f/s",
                   static_cast<double>(published) / static_cast<double>(kCpuWindow.count())));
        Row("broker CPU in steady state", Format("%.2f %% of one core", brokerShare));

        // At QoS 1 the broker's acknowledgement of the command goes out just before the result
        // on the same socket; Home Assistant publishes its commands at QoS 0 unless told.
        CommandRows("command published to its result, QoS 1", *subscriber, *results, 1);
        CommandRows("command published to its result, QoS 0", *subscriber, *results, 0);
        // Commands far apart, as people send them: nothing of the last one is still in flight.
        CommandRows("command to result, QoS 1, 100 ms apart", *subscriber, *results, 1, 50,
                    milliseconds(100));

        // The same command over the HTTP API: what the projector's exchange costs alone.
        {
            httplib::Client api("127.0.0.1", apiPort);
            api.set_keep_alive(true);
            api.set_tcp_nodelay(true);
            std::vector<double> http;
            for (int k = 0; k < kCommands / 4; ++k) {
                const std::string path = "/api/projectors/" + Name(k) + "/commands";
                const auto sent = Clock::now();
                const auto answer =
                    api.Post(path, R"({"command":"blank","value":"off"})", "application/json");
                if (answer && answer->status == 200) http.push_back(Ms(Clock::now() - sent));
            }
            Row("  the same over the HTTP API, request to answer",
                Format("median %.2f ms, p99 %.2f (%zu)", Quantile(http, 0.5), Quantile(http, 0.99),
                       http.size()));
        }

        // Home Assistant says it started again: everything once more.
        std::this_thread::sleep_for(seconds(1));
        mark = subscriber->count();
        subscriber->publish(kDiscoveryPrefix + "/status", "online");
        BurstRows("Home Assistant online: full state and discovery", *subscriber, mark, false);

        // The broker restarts: the service reconnects, with its state known, and publishes it all.
        subscriber.reset();
        results.reset();
        Stop(broker);
        const auto down = Clock::now();
        std::this_thread::sleep_for(seconds(1));
        // Back with Nagle's algorithm off on its sockets: a small publication forwarded right
        // after another one (the acknowledgement of a command, then its result) is not held
        // for the delayed acknowledgement of the first.
        std::ofstream(dir / "mosquitto.conf", std::ios::app) << "set_tcp_nodelay true\n";
        broker = startBroker();
        subscriber = ofEverything();
        results = resultsOnly();
        if (subscriber->connect(brokerPort) && results->connect(brokerPort)) {
            const auto back = Clock::now();
            mark = subscriber->count();
            std::optional<Clock::time_point> first;
            subscriber->waitUntil(back + seconds(30), [&](const auto& all) {
                const auto found = std::find_if(all.begin() + static_cast<std::ptrdiff_t>(mark),
                                                all.end(), FromService);
                if (found != all.end()) first = found->at;
                return first.has_value();
            });
            Row("broker down 1 s: back to the service's connect",
                first ? Format("%.0f ms (down to connect %.0f ms)", Ms(*first - back),
                               Ms(*first - down))
                      : std::string("no reconnect within 30 s"));
            if (first) {
                BurstRows("reconnect: connect to full state and discovery", *subscriber, mark);
                std::this_thread::sleep_for(seconds(1));
                CommandRows("command to result, QoS 1, set_tcp_nodelay", *subscriber, *results, 1);
            }
        } else {
            Row("broker restart", "the benchmark's client could not subscribe again");
        }
        const long peak = StatusValue(service, "VmHWM");
        Row("service VmHWM at the end", Format("%.1f MB", peak / 1024.0));

        StopRow(service);
    }
    ::mosquitto_lib_cleanup();
    Stop(broker);
    std::printf("logs: %s\n", dir.c_str());
    fleet.stop();
    return 0;
}
