// A small wrapper over libmosquitto: one connection kept up by a network thread of its own,
// reconnecting with a delay growing from 1 s to 60 s, with the service's last will set. The
// thread is ours rather than the library's because the library's own gives up for good when
// the broker is not there at the first attempt or its name does not resolve.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "zolvane_fleet/inventory.h"

struct mosquitto;
struct mosquitto_message;

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
    Client(const fleet::MqttSettings& settings, std::string willTopic, Handlers handlers);
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
    bool subscribe(const std::string& filter);
    bool unsubscribe(const std::string& filter);

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);

    void run();

    fleet::MqttSettings settings_;
    std::string willTopic_;
    Handlers handlers_;
    mosquitto* handle_ = nullptr;
    std::thread network_;
    std::mutex mutex_;  // for the waits between attempts
    std::condition_variable stopped_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> accepted_{false};  // the broker took the connection since the last wait
};

}  // namespace zolvane::service::mqtt
