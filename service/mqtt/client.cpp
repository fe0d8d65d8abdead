#include "mqtt/client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>

#include "log.h"

namespace zolvane::service::mqtt {
namespace {

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        mosquitto_lib_init();
        std::atexit([] { mosquitto_lib_cleanup(); });
    });
}

std::optional<std::string> firstLine(const std::string& file, std::string* why) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        *why = "the password file " + file + " cannot be read";
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// A handler that throws would unwind through the library's C frames: it ends here instead, the
// message or event lost but the connection and the service kept.
template <typename Call>
void guarded(const char* what, Call&& call) noexcept {
    try {
        call();
    } catch (const std::exception& e) {
        log(Level::Error, std::string("mqtt: ") + what + " failed: " + e.what());
    } catch (...) {
        log(Level::Error, std::string("mqtt: ") + what + " failed");
    }
}

}  // namespace

Client::Client(const mqtt::Settings& settings, std::string willTopic, Handlers handlers)
    : settings_(settings), willTopic_(std::move(willTopic)), handlers_(std::move(handlers)) {}

Client::~Client() { stop({}); }

bool Client::start(std::string* why) {
    initialiseOnce();
    handle_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    if (handle_ == nullptr) {
        *why = "no broker client could be made";
        return false;
    }
    const auto failed = [&](const std::string& what, int rc) {
        *why = what + ": " + mosquitto_strerror(rc);
        mosquitto_destroy(handle_);
        handle_ = nullptr;
        return false;
    };
    // MQTT 5, for the retain flag of live messages: under 3.1.1 a broker forwards a message to
    // those already subscribed without it, and a retained command could not be told apart.
    mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Without it a publication sent while an earlier small packet (an acknowledgement) is not
    // yet acknowledged waits for the broker's delayed ACK: some 40 ms a result, a second for
    // the burst at connect.
    mosquitto_int_option(handle_, MOSQ_OPT_TCP_NODELAY, 1);
    int rc = mosquitto_will_set(handle_, willTopic_.c_str(), 7, "offline", settings_.qos, true);
    if (rc != MOSQ_ERR_SUCCESS) return failed("the last will cannot be set", rc);
    if (!settings_.username.empty()) {
        std::optional<std::string> password;
        if (!settings_.passwordFile.empty()) {
            password = firstLine(settings_.passwordFile, why);
            if (!password) {
                mosquitto_destroy(handle_);
                handle_ = nullptr;
                return false;
            }
        }
        rc = mosquitto_username_pw_set(handle_, settings_.username.c_str(),
                                       password ? password->c_str() : nullptr);
        if (rc != MOSQ_ERR_SUCCESS) return failed("the user name cannot be set", rc);
    }
    if (!settings_.caFile.empty()) {
        rc = mosquitto_tls_set(handle_, settings_.caFile.c_str(), nullptr, nullptr, nullptr,
                               nullptr);
        if (rc != MOSQ_ERR_SUCCESS) return failed("TLS with " + settings_.caFile, rc);
    }
    mosquitto_connect_v5_callback_set(handle_, &Client::onConnect);
    mosquitto_disconnect_v5_callback_set(handle_, &Client::onDisconnect);
    mosquitto_message_v5_callback_set(handle_, &Client::onMessage);
    // Other threads publish while ours runs the loop: the library then only queues their
    // messages and wakes the loop.
    mosquitto_threaded_set(handle_, true);
    network_ = std::thread([this] { run(); });
    return true;
}

void Client::run() {
    std::chrono::seconds delay{1};
    bool first = true;
    while (!stopping_) {
        const int port = settings_.port;
        const int keepalive = static_cast<int>(settings_.keepalive.count());
        int rc = first ? mosquitto_connect_async(handle_, settings_.host.c_str(), port, keepalive)
                       : mosquitto_reconnect_async(handle_);
        first = false;
        if (rc == MOSQ_ERR_SUCCESS) {
            // Once stopping, until the status and the disconnect are sent (2 s at most).
            std::optional<std::chrono::steady_clock::time_point> until;
            while ((rc = mosquitto_loop(handle_, 1000, 1)) == MOSQ_ERR_SUCCESS) {
                if (!stopping_) continue;
                if (!until) until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                if (!mosquitto_want_write(handle_) || std::chrono::steady_clock::now() > *until) {
                    break;
                }
            }
            if (stopping_) break;
        } else if (handlers_.disconnected) {
            handlers_.disconnected(rc == MOSQ_ERR_ERRNO ? std::strerror(errno)
                                                        : mosquitto_strerror(rc));
        }
        if (accepted_.exchange(false)) delay = std::chrono::seconds(1);
        std::unique_lock lock(mutex_);
        stopped_.wait_for(lock, delay, [this] { return stopping_.load(); });
        delay = std::min(delay * 2, std::chrono::seconds(60));
    }
}

void Client::stop(const std::string& lastWords) {
    if (handle_ == nullptr) return;
    if (network_.joinable()) {
        if (!lastWords.empty()) {
            mosquitto_publish(handle_, nullptr, willTopic_.c_str(),
                              static_cast<int>(lastWords.size()), lastWords.data(), settings_.qos,
                              true);
        }
        // The loop sends what is queued, the status and then the disconnect, and ends.
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        mosquitto_disconnect(handle_);
        stopped_.notify_all();
        network_.join();
    }
    mosquitto_destroy(handle_);
    handle_ = nullptr;
}

bool Client::publish(const std::string& topic, const std::string& payload, bool retain) {
    return mosquitto_publish(handle_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), settings_.qos, retain) == MOSQ_ERR_SUCCESS;
}

bool Client::subscribe(const std::string& filter, bool asPublished) {
    const int options =
        asPublished && v5_ ? MQTT_SUB_OPT_RETAIN_AS_PUBLISHED | MQTT_SUB_OPT_NO_LOCAL : 0;
    return mosquitto_subscribe_v5(handle_, nullptr, filter.c_str(), settings_.qos, options,
                                  nullptr) == MOSQ_ERR_SUCCESS;
}

bool Client::unsubscribe(const std::string& filter) {
    return mosquitto_unsubscribe(handle_, nullptr, filter.c_str()) == MOSQ_ERR_SUCCESS;
}

void Client::onConnect(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
    auto* client = static_cast<Client*>(self);
    guarded("a connect", [&] {
        if (rc == 0) {
            client->accepted_ = true;
            if (client->handlers_.connected) client->handlers_.connected();
            return;
        }
        std::string why =
            std::string("refused by the broker: ") +
            (client->v5_ ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc));
        // A 3.1.1 broker answers a CONNECT of 5 with its own "unacceptable protocol version";
        // the library reports that as 5's "unsupported protocol version".
        if (client->v5_ && (rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION ||
                            rc == CONNACK_REFUSED_PROTOCOL_VERSION)) {
            client->v5_ = false;
            mosquitto_int_option(client->handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
            client->accepted_ = true;  // the next attempt after the shortest wait
            why +=
                "; trying MQTT 3.1.1, under which a retained command sent while connected "
                "cannot be told from a live one";
        }
        if (client->handlers_.disconnected) client->handlers_.disconnected(why);
    });
}

void Client::onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*) {
    auto* client = static_cast<Client*>(self);
    guarded("a disconnect", [&] {
        if (client->handlers_.disconnected) {
            client->handlers_.disconnected(rc == 0 ? "stopped" : mosquitto_strerror(rc));
        }
    });
}

void Client::onMessage(mosquitto*, void* self, const mosquitto_message* message,
                       const mosquitto_property*) {
    auto* client = static_cast<Client*>(self);
    if (!client->handlers_.message || message->topic == nullptr) return;
    guarded("a message", [&] {
        client->handlers_.message(
            message->topic,
            std::string_view(
                static_cast<const char*>(message->payload),
                static_cast<std::size_t>(message->payloadlen > 0 ? message->payloadlen : 0)),
            message->retain);
    });
}

}  // namespace zolvane::service::mqtt
