#include "alert/delivery.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

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

// Whether a notifier read anew is the one running: then its thread and its outbox go on.
bool sameSettings(const Notifier& before, const Notifier& now) {
    const auto settings = [](const Notifier& n) {
        return std::tie(n.name, n.kind, n.url, n.headers, n.body, n.tls, n.caFile, n.from, n.to,
                        n.user, n.password, n.timeout, n.retryFirst, n.retryMost, n.attempts);
    };
    return settings(before) == settings(now);
}

}  // namespace

class Delivery::Impl {
    // A notifier and its thread; a reload that changes the notifier puts a new one in its place.
    struct Worker {
        explicit Worker(Notifier n) : notifier(std::move(n)) {}
        const Notifier notifier;
        std::thread thread;                // started, joined and ended by start, stop and reload
        std::uint64_t woken = 0;           // under mutex_
        std::atomic<bool> ending = false;  // a reload changed or removed the notifier
        Shown shown;                       // under shownMutex_
    };
    using Workers = std::vector<std::shared_ptr<Worker>>;

public:
    Impl(Database& database, const std::vector<Notifier>& notifiers) : outbox_(database) {
        startCurl();
        for (const Notifier& notifier : notifiers) {
            workers_.push_back(std::make_shared<Worker>(notifier));
        }
    }

    ~Impl() { stop(); }

    void attachMqtt(MqttPublisher publisher) {
        std::lock_guard lock(mqttMutex_);
        mqtt_ = std::move(publisher);
    }

    void start() {
        Workers workers;
        {
            std::lock_guard lock(mutex_);
            if (started_) return;
            started_ = true;
            stopping_ = false;
            workers = workers_;
        }
        for (const auto& worker : workers) launch(worker);
    }

    void stop() {
        Workers workers;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            started_ = false;
            workers = workers_;
        }
        changed_.notify_all();
        for (const auto& worker : workers) {
            if (worker->thread.joinable()) worker->thread.join();
        }
    }

    // Each notifier of the same name and settings goes on; one changed is ended and started
    // anew over what waits for it; one removed is ended and what waits for it dropped.
    void reload(const std::vector<Notifier>& notifiers) {
        Workers fresh;
        Workers ending;
        bool started = false;
        {
            std::lock_guard lock(mutex_);
            started = started_;
            Workers next;
            for (const Notifier& notifier : notifiers) {
                const auto old = std::find_if(workers_.begin(), workers_.end(), [&](const auto& w) {
                    return w->notifier.name == notifier.name;
                });
                if (old != workers_.end() && sameSettings((*old)->notifier, notifier)) {
                    next.push_back(*old);
                    continue;
                }
                fresh.push_back(next.emplace_back(std::make_shared<Worker>(notifier)));
            }
            for (const auto& worker : workers_) {
                if (std::find(next.begin(), next.end(), worker) != next.end()) continue;
                worker->ending = true;
                ending.push_back(worker);
            }
            workers_ = std::move(next);
        }
        changed_.notify_all();
        for (const auto& worker : ending) {
            if (worker->thread.joinable()) worker->thread.join();
            const std::string& name = worker->notifier.name;
            const bool kept = std::any_of(notifiers.begin(), notifiers.end(),
                                          [&](const Notifier& n) { return n.name == name; });
            if (kept) {
                log(Level::Info, "notifier " + name + " changed: started anew");
                continue;
            }
            try {
                const std::size_t dropped = outbox_.drop(name);
                log(dropped == 0 ? Level::Info : Level::Warning,
                    "notifier " + name + " removed" +
                        (dropped == 0
                             ? std::string()
                             : ", " + std::to_string(dropped) + " notifications to it dropped"));
            } catch (const std::exception& error) {
                log(Level::Error, "notifier " + name + ": " + error.what());
            }
        }
        for (const auto& worker : fresh) {
            if (started) launch(worker);
        }
    }

    void wake() {
        Workers workers;
        {
            std::lock_guard lock(mutex_);
            for (const auto& worker : workers_) ++worker->woken;
            workers = workers_;
        }
        changed_.notify_all();
        // The counts of what waits, also for a notifier whose thread is in a try.
        for (const auto& worker : workers) {
            try {
                const std::size_t pending = outbox_.pending(worker->notifier.name);
                std::lock_guard lock(shownMutex_);
                worker->shown.pending = pending;
            } catch (const std::exception&) {
                // The thread says it when it reads.
            }
        }
    }

    Answer list() const {
        nlohmann::json notifiers = nlohmann::json::array();
        const Workers workers = current();
        std::lock_guard lock(shownMutex_);
        for (const auto& worker : workers) {
            const Notifier& notifier = worker->notifier;
            const NotifierRecord& record = worker->shown.record;
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
                                 {"pending", worker->shown.pending},
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
        const Workers workers = current();
        std::lock_guard lock(shownMutex_);
        for (const auto& worker : workers) {
            const Notifier& notifier = worker->notifier;
            const NotifierRecord& record = worker->shown.record;
            counters.push_back({notifier.name, std::string(notifierKindWord(notifier.kind)),
                                record.delivered, record.failed, record.givenUp,
                                worker->shown.pending, upFrom(record)});
        }
        return counters;
    }

private:
    Workers current() const {
        std::lock_guard lock(mutex_);
        return workers_;
    }

    void launch(const std::shared_ptr<Worker>& worker) {
        refresh(*worker);
        worker->thread = std::thread([this, worker = worker.get()] { run(*worker); });
    }

    // The notifier's record and what waits for it, read again for list() and counters().
    void refresh(Worker& worker) {
        try {
            Shown read{outbox_.record(worker.notifier.name), outbox_.pending(worker.notifier.name)};
            std::lock_guard lock(shownMutex_);
            worker.shown = std::move(read);
        } catch (const std::exception& error) {
            log(Level::Error, "notifier " + worker.notifier.name + ": " + error.what());
        }
    }

    bool over(const Worker& worker) const { return stopping_ || worker.ending; }

    // The notifier's thread: its oldest notification, tried once due, until the service stops
    // or a reload ends it.
    void run(Worker& worker) {
        const Notifier& notifier = worker.notifier;
        const auto over = [&] { return this->over(worker); };
        std::unique_lock lock(mutex_);
        while (!over()) {
            const std::uint64_t seen = worker.woken;
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
            if (over()) break;
            if (!readable) {
                changed_.wait_for(lock, kDatabasePause, over);
                continue;
            }
            if (!item) {
                changed_.wait(lock, [&] { return over() || worker.woken != seen; });
                continue;
            }
            const WallTime now = wallNow();
            if (item->nextTry > now) {
                changed_.wait_until(lock, Steady::now() + (item->nextTry - now), over);
                continue;
            }
            lock.unlock();
            attempt(worker, *item);
            refresh(worker);
            lock.lock();
        }
    }

    // One try of the item, and what came of it in the outbox; nothing when the service or a
    // reload stopped it, so that it is tried again by the notifier's next thread.
    void attempt(const Worker& worker, const OutboxItem& item) {
        const Notifier& notifier = worker.notifier;
        std::optional<std::string> why;
        nlohmann::json notification;
        try {
            notification = nlohmann::json::parse(item.body);
            why = deliver(worker, notification, item);
        } catch (const std::exception& error) {
            why = std::string("the notification could not be sent: ") + error.what();
        }
        const WallTime now = wallNow();
        try {
            if (!why) {
                outbox_.delivered(item, now);
                return;
            }
            if (over(worker)) return;
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

    std::optional<std::string> deliver(const Worker& worker, const nlohmann::json& notification,
                                       const OutboxItem& item) {
        const Notifier& notifier = worker.notifier;
        const Stopping stopping = [this, &worker] { return over(worker); };
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

    MqttPublisher mqttPublisher() {
        std::lock_guard lock(mqttMutex_);
        return mqtt_;
    }

    Outbox outbox_;

    std::mutex mqttMutex_;  // a broker may come and go with a reload
    MqttPublisher mqtt_;

    mutable std::mutex mutex_;  // the workers, stopping_ as the threads wait on it, their wakes
    std::condition_variable changed_;
    std::atomic<bool> stopping_ = false;
    bool started_ = false;
    Workers workers_;

    mutable std::mutex shownMutex_;  // each worker's shown
};

Delivery::Delivery(Database& database, const std::vector<Notifier>& notifiers)
    : impl_(std::make_unique<Impl>(database, notifiers)) {}
Delivery::~Delivery() = default;
void Delivery::attachMqtt(MqttPublisher publisher) { impl_->attachMqtt(std::move(publisher)); }
void Delivery::start() { impl_->start(); }
void Delivery::stop() { impl_->stop(); }
void Delivery::wake() { impl_->wake(); }
void Delivery::reload(const std::vector<Notifier>& notifiers) { impl_->reload(notifiers); }
Answer Delivery::list() const { return impl_->list(); }
std::vector<Delivery::Counters> Delivery::counters() const { return impl_->counters(); }

}  // namespace zolvane::service::alert
