// A small wrapper over libmosquitto: one connection kept up by a network thread of its own,
// reconnecting with a delay growing from 1 s to 60 s, with the service's last will set. The
// thread is ours rather than the library's because the library's own gives up for good when
// the broker is not there at the first attempt or its name does not resolve. It speaks MQTT 5,
// and 3.1.1 from the first broker that refuses 5 on, for as long as the client lives.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "mqtt/settings.h"
#include "zolvane_fleet/inventory.h"

struct mosquitto;
struct mosquitto_message;
// The broker library's own names.
struct mqtt5__property;                             // NOLINT(bugprone-reserved-identifier)
typedef struct mqtt5__property mosquitto_property;  // NOLINT(bugprone-reserved-identifier)

namespace zolvane::service::mqtt {

class Client {
public:
    // Each is called on the network thread; they must not block for long.
    struct Handlers {
        std::function<void()> connected;
        std::function<void(const std::string& why)> disconnected;
        std::function<void(const std::string& topic, std::string_view payload, bool retained)>
            message;
    };

    // willTopic gets "offline", retained, when the connection is lost without a clean stop.
    Client(const mqtt::Settings& settings, std::string willTopic, Handlers handlers);
    ~Client();  // stop()
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Reads the password file, sets TLS, starts the network thread and the first connect; the
    // reason in *why when it cannot start. A broker that is down is no fault: it is retried.
    bool start(std::string* why);
    // Publishes lastWords (retained, on the will's topic) when connected, disconnects cleanly
    // and joins the network thread. Safe to call twice.
    void stop(const std::string& lastWords);

    // Both only queue the message for the network thread; false when it was not taken.
    bool publish(const std::string& topic, const std::string& payload, bool retain);
    // asPublished: messages keep the retain flag their publisher gave them, also those
    // forwarded live, and our own publications are not sent back (MQTT 5 only; under 3.1.1 a
    // live message always comes without the flag).
    bool subscribe(const std::string& filter, bool asPublished = false);
    bool unsubscribe(const std::string& filter);
    // False once a broker refused MQTT 5.
    bool speaksV5() const { return v5_; }

private:
    static void onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
    static void onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message,
                          const mosquitto_property*);

    void run();

    mqtt::Settings settings_;
    std::string willTopic_;
    Handlers handlers_;
    mosquitto* handle_ = nullptr;
    std::thread network_;
    std::mutex mutex_;  // for the waits between attempts
    std::condition_variable stopped_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> accepted_{false};  // the broker took the connection since the last wait
    std::atomic<bool> v5_{true};
};

}  // namespace zolvane::service::mqtt
