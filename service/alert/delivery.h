// Delivers the outbox: a thread per notifier takes its oldest notification, tries it within the
// notifier's time-out and, when it fails, waits a backoff that doubles up to the notifier's
// bound before the next try, until its attempts are spent. A notifier that hangs holds up only
// itself; nothing here ever waits on a projector's queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "alert/database.h"
#include "alert/rules.h"
#include "answer.h"

namespace zolvane::service::alert {

// How a notification reaches the broker: the alert's JSON with its event, retained while the
// alert is open and cleared when it resolved. False when the broker is not connected.
using MqttPublisher = std::function<bool(const nlohmann::json& notification)>;

class Delivery {
public:
    struct Counters {
        std::string name;
        std::string kind;
        std::uint64_t delivered = 0;
        std::uint64_t failed = 0;
        std::uint64_t givenUp = 0;
        std::uint64_t pending = 0;
        bool up = true;  // the last try succeeded, or none was made yet
    };

    Delivery(Database& database, const std::vector<Notifier>& notifiers);
    ~Delivery();  // stop()
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

    // At any time; the broker's front end gives it.
    void attachMqtt(MqttPublisher publisher);
    void start();
    // A try under way is cut short at once; what it was delivering stays in the outbox.
    void stop();
    // Something was put in the outbox.
    void wake();
    // The notifiers read anew, from the thread that starts and stops it.
    void reload(const std::vector<Notifier>& notifiers);

    Answer list() const;  // GET /api/notifiers
    std::vector<Counters> counters() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::service::alert
