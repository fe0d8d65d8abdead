#include "alert/engine.h"

#include <date/tz.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "alert/notification.h"
#include "alert/outbox.h"
#include "clock.h"
#include "log.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::service::alert {
namespace {

using nlohmann::json;
using std::chrono::minutes;

constexpr auto kTick = std::chrono::seconds(1);
constexpr auto kResolvedShown = std::chrono::hours(24 * 7);  // list(): resolved this recently
constexpr std::int64_t kMostListed = 200;

constexpr const char* kColumns =
    "id, rule, kind, projector, schedule, severity, state, value, sentence, started, changed, "
    "resolved, acknowledged_by, acknowledged_at, notified";

// What a rule finds of its subject at one moment. The sentence says what is so: why it fires
// when it holds, what ended it when it does not.
struct Finding {
    bool holds = false;
    std::string severity = "warning";
    std::string value;
    std::string sentence;
};

std::string hoursText(unsigned hours) { return std::to_string(hours) + " h"; }

std::string clockText(minutes ofDay) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(ofDay.count() / 60),
                  static_cast<int>(ofDay.count() % 60));
    return text;
}

std::optional<Finding> judgeHours(const Rule& rule, const std::string& name,
                                  const std::optional<std::uint16_t>& value, const char* what) {
    if (!value) return std::nullopt;
    const unsigned hours = *value;
    const std::string head = name + ": " + what + " " + hoursText(hours);
    if (rule.critical && hours >= *rule.critical) {
        return Finding{true, "critical", hoursText(hours),
                       head + ", at or past the critical level of " + hoursText(*rule.critical)};
    }
    if (rule.warning && hours >= *rule.warning) {
        return Finding{true, "warning", hoursText(hours),
                       head + ", at or past the warning level of " + hoursText(*rule.warning)};
    }
    const bool byWarning = rule.warning.has_value();
    const unsigned level = byWarning ? *rule.warning : rule.critical.value_or(0);
    return Finding{false, "warning", hoursText(hours),
                   head + ", below the " + (byWarning ? "warning" : "critical") + " level of " +
                       hoursText(level)};
}

// The projector's local time of day in the rule's zone.
minutes localTimeOfDay(const Rule& rule, WallTime now) {
    const date::time_zone* zone = rule.zone ? rule.zone : findZone("");
    const auto seconds = date::floor<std::chrono::seconds>(now);
    const auto local =
        zone ? zone->to_local(seconds) : date::local_seconds(seconds.time_since_epoch());
    return date::floor<minutes>(local - date::floor<date::days>(local));
}

bool withinWindow(const Rule& rule, minutes ofDay) {
    if (rule.after < rule.before) return ofDay >= rule.after && ofDay < rule.before;
    if (rule.before < rule.after) return ofDay >= rule.after || ofDay < rule.before;
    return false;
}

// What the rule finds of the projector's state; empty when what it needs is not known yet.
std::optional<Finding> judge(const Rule& rule, const std::string& name,
                             const fleet::ProjectorState& state, WallTime now) {
    if (state.reach == fleet::Reach::Unknown) return std::nullopt;
    switch (rule.kind) {
        case Kind::Offline:
            if (state.reach == fleet::Reach::Offline) {
                const std::string why = state.lastFailure.empty() ? "no reply" : state.lastFailure;
                return Finding{true, "warning", why, name + " is offline: " + why};
            }
            return Finding{false, "warning", "online", name + " is back online"};
        case Kind::LampHours:
            return judgeHours(rule, name, state.lampHours, "lamp time");
        case Kind::FilterHours:
            return judgeHours(rule, name, state.filterHours, "filter time");
        case Kind::ErrorStatus: {
            if (!state.errorStatus) return std::nullopt;
            if (*state.errorStatus == 0) {
                return Finding{false, "warning", "no error", name + " reports no error"};
            }
            const fleet::WatchedValue* row = fleet::watchedByKey("error_status");
            const char* known = row ? fleet::valueName(state, *row, *state.errorStatus) : nullptr;
            std::string value;
            if (known) {
                value = known;
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(*state.errorStatus));
                value = hex;
            }
            return Finding{true, "warning", value, name + " reports an error: " + value};
        }
        case Kind::LeftOn: {
            // Whether it is on is not known while it does not answer.
            if (!state.power || state.reach != fleet::Reach::Online) return std::nullopt;
            const minutes ofDay = localTimeOfDay(rule, now);
            const std::string window = clockText(rule.after) + " and " + clockText(rule.before);
            if (*state.power != 1) {
                return Finding{false, "warning", "off", name + " is no longer on"};
            }
            if (!withinWindow(rule, ofDay)) {
                return Finding{
                    false, "warning", "on",
                    name + " is on at " + clockText(ofDay) + ", no longer between " + window};
            }
            return Finding{true, "warning", "on",
                           name + " is on at " + clockText(ofDay) + ", between " + window};
        }
        case Kind::ScheduleFailed:
            break;
    }
    return std::nullopt;
}

// What a schedule's run (as the API shows last_run) says for a schedule_failed rule.
Finding judgeRun(const std::string& schedule, const json& run) {
    if (run.value("outcome", "") == "missed") {
        return Finding{true, "warning", "missed", "schedule " + schedule + " was missed"};
    }
    std::string failed;
    for (const json& result : run.value("results", json::array())) {
        if (result.value("ok", false)) continue;
        if (!failed.empty()) failed += "; ";
        failed += result.value("projector", "?") + ": " + result.value("result", "failed");
    }
    if (!failed.empty()) {
        return Finding{true, "warning", failed,
                       "schedule " + schedule + " did not reach " + failed};
    }
    return Finding{false, "warning", "ran", "schedule " + schedule + " reached every projector"};
}

std::optional<Kind> kindOf(std::string_view word) {
    for (Kind kind : {Kind::Offline, Kind::LampHours, Kind::FilterHours, Kind::ErrorStatus,
                      Kind::LeftOn, Kind::ScheduleFailed}) {
        if (kindWord(kind) == word) return kind;
    }
    return std::nullopt;
}

// A row read with kColumns; `notified` beside it.
Alert readAlert(const Query& query, std::optional<WallTime>* notified = nullptr) {
    Alert alert;
    alert.id = query.integer(0);
    alert.rule = query.text(1);
    alert.kind = kindOf(query.text(2)).value_or(Kind::Offline);
    alert.projector = query.text(3);
    alert.schedule = query.text(4);
    alert.severity = query.text(5);
    alert.state = query.text(6);
    alert.value = query.text(7);
    alert.sentence = query.text(8);
    alert.started = query.time(9);
    alert.changed = query.time(10);
    alert.resolved = query.maybeTime(11);
    alert.acknowledgedBy = query.text(12);
    alert.acknowledgedAt = query.maybeTime(13);
    if (notified) *notified = query.maybeTime(14);
    return alert;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

class Engine::Impl {
public:
    Impl(fleet::Fleet& fleet, fleet::Inventory inventory, Database& database, Alerting alerting,
         std::function<void()> told)
        : fleet_(fleet),
          database_(database),
          told_(std::move(told)),
          outbox_(database),
          inventory_(std::move(inventory)),
          alerting_(std::move(alerting)) {}

    ~Impl() { stop(); }

    void start() {
        if (started_) return;
        started_ = true;
        {
            std::lock_guard lock(mutex_);
            takeUp();
        }
        {
            std::lock_guard lock(queueMutex_);
            stopping_ = false;
        }
        subscription_ =
            fleet_.subscribe([this](const std::string& name, const fleet::ProjectorState& state) {
                std::lock_guard lock(queueMutex_);
                handed_[name] = state;
                wake_.notify_one();
            });
        thread_ = std::thread([this] { run(); });
    }

    void stop() {
        if (subscription_) {
            fleet_.unsubscribe(*subscription_);
            subscription_.reset();
        }
        {
            std::lock_guard lock(queueMutex_);
            stopping_ = true;
            wake_.notify_one();
        }
        if (thread_.joinable()) thread_.join();
    }

    void scheduleRan(const std::string& schedule, const json& run) {
        std::lock_guard lock(queueMutex_);
        runs_.emplace_back(schedule, run);
        wake_.notify_one();
    }

    // What the reload no longer watches is resolved and told now; the rest keeps its state and
    // is judged by its rule as read anew from here on.
    void reload(fleet::Inventory inventory, Alerting alerting,
                const std::vector<std::string>& schedules) {
        std::lock_guard lock(mutex_);
        const WallTime now = wallNow();
        for (auto it = tracks_.begin(); it != tracks_.end();) {
            const auto& [subject, track] = *it;
            const std::string why = unwatched(subject, track, inventory, alerting, schedules);
            if (why.empty()) {
                ++it;
                continue;
            }
            if (track.alert && track.rule != nullptr) {
                endUnwatched(subject, track, why, alerting.notifiers, now);
            }
            it = tracks_.erase(it);
        }
        inventory_ = std::move(inventory);
        alerting_ = std::move(alerting);
        for (auto& [subject, track] : tracks_) track.rule = ruleNamed(subject.first);
        std::erase_if(
            states_, [this](const auto& state) { return inventory_.find(state.first) == nullptr; });
    }

    Answer list() const {
        try {
            Database::Lock lock(database_);
            json alerts = json::array();
            Query open(database_, (std::string("SELECT ") + kColumns +
                                   " FROM alerts WHERE state != 'resolved' "
                                   "ORDER BY started DESC, id DESC LIMIT ?")
                                      .c_str());
            open.bind(1, kMostListed);
            while (open.step()) alerts.push_back(alertJson(readAlert(open)));
            Query closed(database_, (std::string("SELECT ") + kColumns +
                                     " FROM alerts WHERE state = 'resolved' AND resolved >= ? "
                                     "ORDER BY resolved DESC, id DESC LIMIT ?")
                                        .c_str());
            closed.bind(1, wallNow() - kResolvedShown)
                .bind(2, kMostListed - static_cast<std::int64_t>(alerts.size()));
            while (closed.step()) alerts.push_back(alertJson(readAlert(closed)));
            return jsonAnswer({{"alerts", alerts}});
        } catch (const std::runtime_error& error) {
            log(Level::Error, std::string("alerts cannot be read: ") + error.what());
            return refusal(500, std::string("alerts cannot be read: ") + error.what());
        }
    }

    Answer acknowledge(std::string_view text, const std::string& who) {
        const std::string unknown = "no alert " + std::string(text);
        std::int64_t id = 0;
        const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
            return c >= '0' && c <= '9';
        });
        if (!digits ||
            std::from_chars(text.data(), text.data() + text.size(), id).ec != std::errc()) {
            return refusal(404, unknown);
        }
        std::lock_guard lock(mutex_);
        for (auto& [subject, track] : tracks_) {
            if (!track.alert || track.alert->id != id) continue;
            if (track.alert->state == kStateAcknowledged) {
                return jsonAnswer({{"alert", alertJson(*track.alert)}});
            }
            const WallTime now = wallNow();
            Alert next = *track.alert;
            next.state = std::string(kStateAcknowledged);
            next.acknowledgedBy = who;
            next.acknowledgedAt = now;
            next.changed = now;
            if (!write(*track.rule, next, track.notified, kAcknowledged, now)) {
                return refusal(500, "alert " + std::to_string(id) + " cannot be written");
            }
            track.alert = next;
            log(Level::Info, "alert " + std::to_string(id) + " acknowledged by " + who);
            return jsonAnswer({{"alert", alertJson(next)}});
        }
        try {
            Database::Lock dbLock(database_);
            Query query(database_, "SELECT state FROM alerts WHERE id = ?");
            query.bind(1, id);
            if (query.step() && query.text(0) == kStateResolved) {
                return refusal(409, "alert " + std::to_string(id) + " is resolved");
            }
        } catch (const std::runtime_error& error) {
            log(Level::Error, std::string("alerts cannot be read: ") + error.what());
            return refusal(500, std::string("alerts cannot be read: ") + error.what());
        }
        return refusal(404, unknown);
    }

    Counters counters() const {
        std::lock_guard lock(mutex_);
        Counters counters = counters_;
        for (const auto& [subject, track] : tracks_) {
            if (!track.alert) continue;
            if (track.alert->state == kStateAcknowledged) {
                ++counters.acknowledged;
            } else {
                ++counters.firing;
            }
            if (track.alert->severity == "critical") ++counters.firingCritical;
        }
        return counters;
    }

private:
    // One rule's view of one projector or schedule: what it last found and its open alert.
    struct Track {
        const Rule* rule = nullptr;
        std::optional<bool> holds;  // empty: nothing decided yet
        WallTime since{};           // when `holds` became what it is
        Finding finding;
        std::optional<Alert> alert;  // the open one
        std::optional<WallTime> notified;
        bool takenUp = false;  // left open by the last run, not judged since
    };
    using Subject = std::pair<std::string, std::string>;  // the rule's name, the subject's

    const Rule* ruleNamed(const std::string& name) const {
        for (const Rule& rule : alerting_.rules) {
            if (rule.name == name) return &rule;
        }
        return nullptr;
    }

    const Notifier* notifierNamed(const std::string& name) const {
        for (const Notifier& notifier : alerting_.notifiers) {
            if (notifier.name == name) return &notifier;
        }
        return nullptr;
    }

    // Whether the rule still watches what the alert is about.
    bool stillWatched(const Rule* rule, const Alert& alert) const {
        if (rule == nullptr || rule->kind != alert.kind) return false;
        if (alert.kind == Kind::ScheduleFailed) {
            return !alert.schedule.empty() &&
                   (rule->schedules.empty() || contains(rule->schedules, alert.schedule));
        }
        return inventory_.find(alert.projector) != nullptr &&
               contains(rule->projectors, alert.projector);
    }

    // Why a reading (its projectors, rules and schedules) no longer watches the track's subject;
    // empty when it still does.
    static std::string unwatched(const Subject& subject, const Track& track,
                                 const fleet::Inventory& inventory, const Alerting& alerting,
                                 const std::vector<std::string>& schedules) {
        const auto rule = std::find_if(alerting.rules.begin(), alerting.rules.end(),
                                       [&](const Rule& r) { return r.name == subject.first; });
        if (rule == alerting.rules.end()) return "its rule was removed";
        const std::string& name = subject.second;
        if (track.rule != nullptr && track.rule->kind == Kind::ScheduleFailed) {
            if (rule->kind != Kind::ScheduleFailed) return "its rule no longer watches schedules";
            if (!contains(schedules, name)) return "the schedule was removed";
            if (!rule->schedules.empty() && !contains(rule->schedules, name)) {
                return "no longer among its rule's schedules";
            }
            return {};
        }
        if (inventory.find(name) == nullptr) return "removed from the inventory";
        if (rule->kind == Kind::ScheduleFailed || !contains(rule->projectors, name)) {
            return "no longer a target of its rule";
        }
        return {};
    }

    // Resolves the track's open alert for the reason, told as any resolution to those of its
    // rule's notifiers that are still there. With the reading it was raised under in place.
    void endUnwatched(const Subject& subject, const Track& track, const std::string& why,
                      const std::vector<Notifier>& notifiers, WallTime now) {
        Rule told = *track.rule;
        std::erase_if(told.notifiers, [&](const std::string& name) {
            return std::none_of(notifiers.begin(), notifiers.end(),
                                [&](const Notifier& n) { return n.name == name; });
        });
        Alert next = *track.alert;
        next.state = std::string(kStateResolved);
        next.sentence = subject.second + " is no longer watched: " + why;
        next.changed = now;
        next.resolved = now;
        if (!write(told, next, now, kResolved, now)) return;
        log(Level::Info,
            "alert " + std::to_string(next.id) + " (" + told.name + ") resolved: " + next.sentence);
    }

    // The alerts the last run left open, kept without telling anyone again; those whose rule or
    // projector is gone end here, silently.
    void takeUp() {
        try {
            std::vector<Alert> gone;
            {
                Database::Lock lock(database_);
                Query query(database_, (std::string("SELECT ") + kColumns +
                                        " FROM alerts WHERE state IN ('firing', 'acknowledged') "
                                        "ORDER BY id")
                                           .c_str());
                while (query.step()) {
                    std::optional<WallTime> notified;
                    Alert alert = readAlert(query, &notified);
                    const Rule* rule = ruleNamed(alert.rule);
                    if (!stillWatched(rule, alert)) {
                        gone.push_back(std::move(alert));
                        continue;
                    }
                    Track& track =
                        tracks_[{alert.rule, alert.kind == Kind::ScheduleFailed ? alert.schedule
                                                                                : alert.projector}];
                    if (track.alert) gone.push_back(*track.alert);  // a twin: the newer stays
                    track.rule = rule;
                    track.alert = std::move(alert);
                    track.notified = notified;
                    track.takenUp = true;
                }
            }
            if (gone.empty()) return;
            const WallTime now = wallNow();
            Database::Lock lock(database_, true);
            Query end(
                database_,
                "UPDATE alerts SET state = 'resolved', resolved = ?, changed = ? WHERE id = ?");
            for (const Alert& alert : gone) {
                end.bind(1, now).bind(2, now).bind(3, alert.id).run();
                end.reset();
            }
            lock.commit();
            for (const Alert& alert : gone) {
                log(Level::Info, "alert " + std::to_string(alert.id) + " (" + alert.rule +
                                     ") resolved: its rule or its subject is gone");
            }
        } catch (const std::runtime_error& error) {
            failed(error);
        }
    }

    void run() {
        auto nextTick = std::chrono::steady_clock::now();
        while (true) {
            std::map<std::string, fleet::ProjectorState> handed;
            std::vector<std::pair<std::string, json>> runs;
            bool tick = false;
            {
                std::unique_lock lock(queueMutex_);
                wake_.wait_until(lock, nextTick,
                                 [&] { return stopping_ || !handed_.empty() || !runs_.empty(); });
                if (stopping_) return;
                handed.swap(handed_);
                runs.swap(runs_);
                if (std::chrono::steady_clock::now() >= nextTick) {
                    tick = true;
                    nextTick = std::chrono::steady_clock::now() + kTick;
                }
            }
            try {
                judgeAll(handed, runs, tick);
            } catch (const std::exception& error) {
                log(Level::Error, std::string("alerts: ") + error.what());
            }
        }
    }

    void judgeAll(std::map<std::string, fleet::ProjectorState>& handed,
                  const std::vector<std::pair<std::string, json>>& runs, bool tick) {
        std::lock_guard lock(mutex_);
        const WallTime now = wallNow();
        counters_.evaluations += handed.size() + runs.size() + (tick ? 1 : 0);
        for (auto& [name, state] : handed) states_[name] = std::move(state);
        for (const Rule& rule : alerting_.rules) {
            if (rule.kind == Kind::ScheduleFailed) {
                for (const auto& [schedule, ran] : runs) {
                    if (!rule.schedules.empty() && !contains(rule.schedules, schedule)) continue;
                    decide(rule, schedule, judgeRun(schedule, ran), now);
                }
                continue;
            }
            for (const std::string& projector : rule.projectors) {
                const auto state = states_.find(projector);
                if (state == states_.end()) continue;
                if (auto finding = judge(rule, projector, state->second, now)) {
                    decide(rule, projector, std::move(*finding), now);
                }
            }
        }
        for (auto& [subject, track] : tracks_) step(subject, track, now);
    }

    void decide(const Rule& rule, const std::string& subject, Finding finding, WallTime now) {
        Track& track = tracks_[{rule.name, subject}];
        track.rule = &rule;
        if (track.holds != finding.holds) track.since = now;
        track.holds = finding.holds;
        track.finding = std::move(finding);
    }

    // Fires, changes, repeats or resolves the track's alert as what was found and the holds say.
    void step(const Subject& subject, Track& track, WallTime now) {
        if (!track.holds || track.rule == nullptr) return;
        const Rule& rule = *track.rule;
        const bool takenUp = std::exchange(track.takenUp, false);
        const bool held = now - track.since >= rule.forMinutes;
        const Finding& found = track.finding;
        if (*track.holds && !track.alert) {
            if (!held) return;
            Alert alert;
            alert.rule = rule.name;
            alert.kind = rule.kind;
            (rule.kind == Kind::ScheduleFailed ? alert.schedule : alert.projector) = subject.second;
            alert.severity = found.severity;
            alert.value = found.value;
            alert.sentence = found.sentence;
            alert.started = now;
            alert.changed = now;
            if (!write(rule, alert, now, kFiring, now)) return;
            ++counters_.raised;
            log(Level::Info,
                "alert " + std::to_string(alert.id) + " (" + rule.name + "): " + alert.sentence);
            track.alert = std::move(alert);
            track.notified = now;
            return;
        }
        if (!track.alert) return;
        Alert& open = *track.alert;
        if (*track.holds) {
            if (open.severity != found.severity || open.value != found.value) {
                Alert next = open;
                const bool escalated = open.severity != "critical" && found.severity == "critical";
                next.severity = found.severity;
                next.value = found.value;
                next.sentence = found.sentence;
                next.changed = now;
                const auto notified = escalated ? std::optional<WallTime>(now) : track.notified;
                if (!write(rule, next, notified, escalated ? kEscalated : std::string_view(),
                           now)) {
                    return;
                }
                if (escalated) {
                    log(Level::Info, "alert " + std::to_string(open.id) + " (" + rule.name +
                                         ") escalated: " + next.sentence);
                }
                open = std::move(next);
                track.notified = notified;
            }
        } else if (takenUp || held) {
            Alert next = open;
            next.state = std::string(kStateResolved);
            next.value = found.value;
            next.sentence = found.sentence;
            next.changed = now;
            next.resolved = now;
            if (!write(rule, next, now, kResolved, now)) return;
            log(Level::Info, "alert " + std::to_string(open.id) + " (" + rule.name +
                                 ") resolved: " + next.sentence);
            track.alert.reset();
            track.notified.reset();
            return;
        }
        if (rule.repeat && open.state == kStateFiring &&
            (!track.notified || now - *track.notified >= *rule.repeat)) {
            if (write(rule, open, now, kRepeat, now)) track.notified = now;
        }
    }

    // Writes the alert's row (a new one when its id is 0, which it then gets) and, in the same
    // transaction, the event for each of the rule's notifiers (none for an empty event; an
    // acknowledgement only to the brokers). False, said in the log, when the database fails.
    bool write(const Rule& rule, Alert& alert, std::optional<WallTime> notified,
               std::string_view event, WallTime now) {
        const bool inserting = alert.id == 0;
        bool told = false;
        try {
            Database::Lock lock(database_, true);
            if (inserting) {
                Query(database_,
                      "INSERT INTO alerts(rule, kind, projector, schedule, severity, state, value, "
                      "sentence, started, changed, notified) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                      "?)")
                    .bind(1, std::string_view(alert.rule))
                    .bind(2, kindWord(alert.kind))
                    .bind(3, std::string_view(alert.projector))
                    .bind(4, std::string_view(alert.schedule))
                    .bind(5, std::string_view(alert.severity))
                    .bind(6, std::string_view(alert.state))
                    .bind(7, std::string_view(alert.value))
                    .bind(8, std::string_view(alert.sentence))
                    .bind(9, alert.started)
                    .bind(10, alert.changed)
                    .bind(11, notified)
                    .run();
                alert.id = database_.lastInsert();
            } else {
                Query(database_,
                      "UPDATE alerts SET severity = ?, state = ?, value = ?, sentence = ?, "
                      "changed = ?, resolved = ?, acknowledged_by = ?, acknowledged_at = ?, "
                      "notified = ? WHERE id = ?")
                    .bind(1, std::string_view(alert.severity))
                    .bind(2, std::string_view(alert.state))
                    .bind(3, std::string_view(alert.value))
                    .bind(4, std::string_view(alert.sentence))
                    .bind(5, alert.changed)
                    .bind(6, alert.resolved)
                    .bind(7, std::string_view(alert.acknowledgedBy))
                    .bind(8, alert.acknowledgedAt)
                    .bind(9, notified)
                    .bind(10, alert.id)
                    .run();
            }
            if (!event.empty()) {
                const std::string body =
                    notificationJson(event, alert, inventory_.find(alert.projector)).dump();
                for (const std::string& name : rule.notifiers) {
                    const Notifier* notifier = notifierNamed(name);
                    if (event == kAcknowledged &&
                        (notifier == nullptr || notifier->kind != NotifierKind::Mqtt)) {
                        continue;
                    }
                    outbox_.add(name, alert.id, event, body, now);
                    told = true;
                }
            }
            lock.commit();
        } catch (const std::runtime_error& error) {
            if (inserting) alert.id = 0;
            failed(error);
            return false;
        }
        lastError_.clear();
        // With the database let go: the delivery takes it to read what was just put there.
        if (told && told_) told_();
        return true;
    }

    // A database error, said once while it lasts: the judging goes on and tries again.
    void failed(const std::runtime_error& error) {
        if (lastError_ == error.what()) return;
        lastError_ = error.what();
        log(Level::Error, std::string("alerts cannot be written: ") + error.what());
    }

    fleet::Fleet& fleet_;
    Database& database_;
    const std::function<void()> told_;
    Outbox outbox_;

    // The reading, the tracks, the states and the counters; a track's rule is one of
    // alerting_'s, pointed anew when a reload replaces them.
    mutable std::mutex mutex_;
    fleet::Inventory inventory_;
    Alerting alerting_;
    std::map<Subject, Track> tracks_;
    std::map<std::string, fleet::ProjectorState> states_;
    Counters counters_;
    std::string lastError_;

    std::mutex queueMutex_;  // what the watchers and the scheduler hand over
    std::condition_variable wake_;
    std::map<std::string, fleet::ProjectorState> handed_;
    std::vector<std::pair<std::string, json>> runs_;
    bool stopping_ = false;

    bool started_ = false;
    std::optional<std::uint64_t> subscription_;
    std::thread thread_;
};

Engine::Engine(fleet::Fleet& fleet, fleet::Inventory inventory, Database& database,
               Alerting alerting, std::function<void()> told)
    : impl_(std::make_unique<Impl>(fleet, std::move(inventory), database, std::move(alerting),
                                   std::move(told))) {}
Engine::~Engine() { stop(); }
void Engine::start() { impl_->start(); }
void Engine::stop() { impl_->stop(); }
void Engine::reload(fleet::Inventory inventory, Alerting alerting,
                    const std::vector<std::string>& schedules) {
    impl_->reload(std::move(inventory), std::move(alerting), schedules);
}
void Engine::scheduleRan(const std::string& schedule, const nlohmann::json& run) {
    impl_->scheduleRan(schedule, run);
}
Answer Engine::list() const { return impl_->list(); }
Answer Engine::acknowledge(std::string_view id, const std::string& who) {
    return impl_->acknowledge(id, who);
}
Engine::Counters Engine::counters() const { return impl_->counters(); }

}  // namespace zolvane::service::alert
