// Alert rules and the notifiers they tell, as the inventory defines them:
//
//   [[alert]]
//   name = "lamp-end"
//   kind = "lamp_hours"        # offline, lamp_hours, filter_hours, error_status, left_on,
//                              # schedule_failed
//   targets = ["@halls", "p1"] # projectors, groups ("@name"), "@all"; not for schedule_failed
//   schedules = ["evening-off"]# schedule_failed only: the schedules watched; every one if not
//   warning = 2800             # lamp_hours, filter_hours: the levels, in hours
//   critical = 3000            #   (at least one of the two)
//   after = "22:00"            # left_on: on between these local times
//   before = "06:00"
//   timezone = "Europe/Berlin" # left_on: [service]'s, else the system's, if not
//   for_minutes = 5            # how long the condition holds before it fires, and how long it
//                              # is gone before the alert resolves (offline: 5, others: 0)
//   repeat_minutes = 60        # told again while firing and not acknowledged; never if not
//   notifiers = ["ops-hook", "journal"]
//
//   [[notifier]]
//   name = "ops-hook"
//   kind = "webhook"           # webhook, email, mqtt, journal
//   url = "https://chat.example/hooks/1"
//   headers_file = "/etc/zolvaned/hook-headers"  # "Name: value" lines (a bearer token)
//   template = "/etc/zolvaned/chat.json"          # the body's shape; the alert's JSON if not
//   timeout_seconds = 10       # every notifier: one try's time-out
//   retry_seconds = 30         #   the first wait after a failure, doubled to retry_max_seconds
//   retry_max_seconds = 3600
//   attempts = 20              #   tries before the notification is given up
//
//   [[notifier]]
//   name = "mail"
//   kind = "email"
//   url = "smtp://mail.example:587"   # smtps:// for TLS from the start
//   tls = "starttls"           # "starttls" (required), "tls" (smtps), "none"
//   ca_file = "/etc/zolvaned/ca.pem"  # else the system's authorities
//   from = "zolvaned@example"
//   to = ["av-team@example"]
//   user = "zolvaned"
//   password_file = "/etc/zolvaned/smtp-password"
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "alert/body_template.h"
#include "settings.h"

namespace date {
class time_zone;
}
namespace zolvane::fleet {
class InventorySection;
}
namespace zolvane::service::schedule {
struct Schedule;
}

namespace zolvane::service::alert {

enum class Kind { Offline, LampHours, FilterHours, ErrorStatus, LeftOn, ScheduleFailed };
std::string_view kindWord(Kind kind);  // as the inventory and the API write it: "lamp_hours"

struct Rule {
    std::string name;
    Kind kind = Kind::Offline;
    std::vector<std::string> targets;     // as written
    std::vector<std::string> projectors;  // what they name, in inventory order, each once
    std::vector<std::string> schedules;   // schedule_failed: empty watches every schedule
    std::vector<std::string> notifiers;   // names of [[notifier]]s, each once
    std::chrono::minutes forMinutes{0};
    std::optional<std::chrono::minutes> repeat;  // empty: once when firing, once when resolved
    std::optional<unsigned> warning;             // lamp_hours, filter_hours
    std::optional<unsigned> critical;
    std::chrono::minutes after{0};          // left_on: from this local time ...
    std::chrono::minutes before{0};         // ... to this one, across midnight when before < after
    const date::time_zone* zone = nullptr;  // left_on
    std::string zoneName;
    std::size_t line = 0;  // of its [[alert]]
};

enum class NotifierKind { Webhook, Email, Mqtt, Journal };
std::string_view notifierKindWord(NotifierKind kind);  // "webhook", "email", "mqtt", "journal"

enum class Tls { StartTls, Tls, None };

struct Notifier {
    std::string name;
    NotifierKind kind = NotifierKind::Journal;
    std::string url;  // webhook, email
    // webhook
    std::vector<std::pair<std::string, std::string>> headers;  // read from headers_file
    std::optional<BodyTemplate> body;                          // read from template
    // email
    Tls tls = Tls::StartTls;
    std::string caFile;
    std::string from;
    std::vector<std::string> to;
    std::string user;
    std::string password;  // read from password_file
    // every kind
    std::chrono::milliseconds timeout{10000};
    std::chrono::milliseconds retryFirst{30000};
    std::chrono::milliseconds retryMost{3600000};
    unsigned attempts = 20;
    std::size_t line = 0;  // of its [[notifier]]
};

struct Alerting {
    std::vector<Rule> rules;
    std::vector<Notifier> notifiers;
};

// Reads every [[alert]] and [[notifier]] into `into`; targets, schedules and notifiers are
// checked at the end of the file. It must be offered the inventory's tables before the broker's
// reader, so that it sees whether there is an [mqtt] table for a notifier of kind mqtt, and
// after the schedules' reader, whose schedules it checks names against.
std::unique_ptr<fleet::InventorySection> alertsReader(
    const Settings& service, const std::vector<schedule::Schedule>& schedules, Alerting& into);

}  // namespace zolvane::service::alert
