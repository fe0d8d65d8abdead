#include "alert/delivery.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "alert/channels.h"
#include "alert/notification.h"
#include "alert/outbox.h"
#include "clock.h"
#include "log.h"

namespace zolvane::service::alert {
namespace {

using Steady = std::chrono::steady_clock;

// How long a notifier waits after its database failed it before it reads again.
constexpr std::chrono::seconds kDatabasePause{5};

// What list() and counters() show of a notifier, as its thread last read it.
struct Shown {
    NotifierRecord record;
    std::uint64_t pending = 0;
};

bool upFrom(const NotifierRecord& record) {
    return !record.lastFailure ||
           (record.lastSuccess && *record.lastSuccess >= *record.lastFailure);
}

nlohmann::json instantOrNull(const std::optional<WallTime>& time) {
    return time ? nlohmann::json(instantText(*time)) : nlohmann::json(nullptr);
}

// The wait before the next try after `attempts` failed ones: the first wait doubled each time,
// up to the bound.
std::chrono::milliseconds backoff(const Notifier& notifier, unsigned attempts) {
    std::chrono::milliseconds wait = notifier.retryFirst;
    for (unsigned i = 0; i < attempts && wait < notifier.retryMost; ++i) wait *= 2;
    return std::min(wait, notifier.retryMost);
}

}  // namespace

class Delivery::Impl {
public:
    Impl(Database& database, const std::vector<Notifier>& notifiers)
        : outbox_(database), notifiers_(notifiers), shown_(notifiers.size()) {
        startCurl();
        woken_.assign(notifiers_.size(), 0);
    }

    ~Impl() { stop(); }

    void attachMqtt(MqttPublisher publisher) {
        std::lock_guard lock(mqttMutex_);
        mqtt_ = std::move(publisher);
    }

    void start() {
        if (!threads_.empty()) return;
        for (std::size_t i = 0; i < notifiers_.size(); ++i) refresh(i);
        stopping_ = false;
        for (std::size_t i = 0; i < notifiers_.size(); ++i) {
            threads_.emplace_back([this, i] { run(i); });
        }
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
    }

    void wake() {
        {
            std::lock_guard lock(mutex_);
            for (std::uint64_t& count : woken_) ++count;
        }
        changed_.notify_all();
        // The counts of what waits, also for a notifier whose thread is in a try.
        for (std::size_t i = 0; i < notifiers_.size(); ++i) {
            try {
                const std::size_t pending = outbox_.pending(notifiers_[i].name);
                std::lock_guard lock(shownMutex_);
                shown_[i].pending = pending;
            } catch (const std::exception&) {
                // The thread says it when it reads.
            }
        }
    }

    Answer list() const {
        nlohmann::json notifiers = nlohmann::json::array();
        std::lock_guard lock(shownMutex_);
        for (std::size_t i = 0; i < notifiers_.size(); ++i) {
            const Notifier& notifier = notifiers_[i];
            const NotifierRecord& record = shown_[i].record;
            std::string target;
            if (notifier.kind == NotifierKind::Webhook) target = shownUrl(notifier.url);
            if (notifier.kind == NotifierKind::Email) {
                for (const std::string& to : notifier.to) {
                    target += (target.empty() ? "" : ", ") + to;
                }
            }
            notifiers.push_back({{"name", notifier.name},
                                 {"kind", notifierKindWord(notifier.kind)},
                                 {"target", target},
                                 {"pending", shown_[i].pending},
                                 {"delivered", record.delivered},
                                 {"failed", record.failed},
                                 {"given_up", record.givenUp},
                                 {"last_success", instantOrNull(record.lastSuccess)},
                                 {"last_failure", instantOrNull(record.lastFailure)},
                                 {"last_error", record.lastError},
                                 {"up", upFrom(record)}});
        }
        return jsonAnswer({{"notifiers", notifiers}});
    }

    std::vector<Counters> counters() const {
        std::vector<Counters> counters;
        std::lock_guard lock(shownMutex_);
        for (std::size_t i = 0; i < notifiers_.size(); ++i) {
            const NotifierRecord& record = shown_[i].record;
            counters.push_back({notifiers_[i].name,
                                std::string(notifierKindWord(notifiers_[i].kind)), record.delivered,
                                record.failed, record.givenUp, shown_[i].pending, upFrom(record)});
        }
        return counters;
    }

private:
    // The notifier's record and what waits for it, read again for list() and counters().
    void refresh(std::size_t index) {
        try {
            Shown read{outbox_.record(notifiers_[index].name),
                       outbox_.pending(notifiers_[index].name)};
            std::lock_guard lock(shownMutex_);
            shown_[index] = std::move(read);
        } catch (const std::exception& error) {
            log(Level::Error, "notifier " + notifiers_[index].name + ": " + error.what());
        }
    }

    // The notifier's thread: its oldest notification, tried once due, until the service stops.
    void run(std::size_t index) {
        const Notifier& notifier = notifiers_[index];
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            const std::uint64_t seen = woken_[index];
            lock.unlock();
            std::optional<OutboxItem> item;
            bool readable = true;
            try {
                item = outbox_.next(notifier.name);
            } catch (const std::exception& error) {
                log(Level::Error, "notifier " + notifier.name + ": " + error.what());
                readable = false;
            }
            lock.lock();
            if (stopping_) break;
            if (!readable) {
                changed_.wait_for(lock, kDatabasePause, [this] { return stopping_.load(); });
                continue;
            }
            if (!item) {
                changed_.wait(lock, [&] { return stopping_.load() || woken_[index] != seen; });
                continue;
            }
            const WallTime now = wallNow();
            if (item->nextTry > now) {
                changed_.wait_until(lock, Steady::now() + (item->nextTry - now),
                                    [this] { return stopping_.load(); });
                continue;
            }
            lock.unlock();
            attempt(notifier, *item);
            refresh(index);
            lock.lock();
        }
    }

    // One try of the item, and what came of it in the outbox; nothing when the service stopped
    // it, so that it is tried again after the next start.
    void attempt(const Notifier& notifier, const OutboxItem& item) {
        std::optional<std::string> why;
        nlohmann::json notification;
        try {
            notification = nlohmann::json::parse(item.body);
            why = deliver(notifier, notification, item);
        } catch (const std::exception& error) {
            why = std::string("the notification could not be sent: ") + error.what();
        }
        const WallTime now = wallNow();
        try {
            if (!why) {
                outbox_.delivered(item, now);
                return;
            }
            if (stopping_) return;
            if (item.attempts + 1 >= notifier.attempts) {
                outbox_.givenUp(item, now, *why);
                log(Level::Warning,
                    "notifier " + notifier.name + " gave up on " +
                        (notification.is_object() ? notificationTitle(notification)
                                                  : "notification " + std::to_string(item.id)) +
                        ": " + *why);
            } else {
                outbox_.failed(item, now, now + backoff(notifier, item.attempts), *why);
            }
        } catch (const std::exception& error) {
            log(Level::Error, "notifier " + notifier.name + ": " + error.what());
        }
    }

    std::optional<std::string> deliver(const Notifier& notifier, const nlohmann::json& notification,
                                       const OutboxItem& item) {
        const Stopping stopping = [this] { return stopping_.load(); };
        switch (notifier.kind) {
            case NotifierKind::Webhook:
                return postWebhook(notifier, notification, item.body, stopping);
            case NotifierKind::Email:
                return sendEmail(notifier, notification, wallNow(), stopping);
            case NotifierKind::Mqtt:
                if (const MqttPublisher mqtt = mqttPublisher(); mqtt && mqtt(notification)) {
                    return std::nullopt;
                }
                return "the broker is not connected";
            case NotifierKind::Journal: {
                const std::string event = notification.value("event", std::string());
                const bool calm = event == kAcknowledged || event == kResolved;
                log(calm ? Level::Info : Level::Warning,
                    notificationTitle(notification) + ": " +
                        notification.value("sentence", std::string()));
                return std::nullopt;
            }
        }
        return "unknown notifier";
    }

    Outbox outbox_;
    const std::vector<Notifier> notifiers_;
    MqttPublisher mqttPublisher() {
        std::lock_guard lock(mqttMutex_);
        return mqtt_;
    }

    std::mutex mqttMutex_;  // a broker may come and go with a reload
    MqttPublisher mqtt_;

    std::mutex mutex_;  // stopping_ as the threads wait on it, and each one's wakes
    std::condition_variable changed_;
    std::atomic<bool> stopping_ = false;
    std::vector<std::uint64_t> woken_;
    std::vector<std::thread> threads_;

    mutable std::mutex shownMutex_;
    std::vector<Shown> shown_;
};

Delivery::Delivery(Database& database, const std::vector<Notifier>& notifiers)
    : impl_(std::make_unique<Impl>(database, notifiers)) {}
Delivery::~Delivery() = default;
void Delivery::attachMqtt(MqttPublisher publisher) { impl_->attachMqtt(std::move(publisher)); }
void Delivery::start() { impl_->start(); }
void Delivery::stop() { impl_->stop(); }
void Delivery::wake() { impl_->wake(); }
Answer Delivery::list() const { return impl_->list(); }
std::vector<Delivery::Counters> Delivery::counters() const { return impl_->counters(); }

}  // namespace zolvane::service::alert
