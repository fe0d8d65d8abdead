// The notifications still to be delivered, in the database, so that one made before a crash is
// delivered after the restart: at least once, in the order made, per notifier.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "alert/database.h"
#include "clock.h"

namespace zolvane::service::alert {

struct OutboxItem {
    std::int64_t id = 0;
    std::string notifier;
    std::int64_t alert = 0;
    std::string event;
    std::string body;  // the notification's JSON (notification.h)
    WallTime created{};
    unsigned attempts = 0;  // failed tries so far
    WallTime nextTry{};
    std::string lastError;
};

// A notifier's record, kept across restarts.
struct NotifierRecord {
    std::uint64_t delivered = 0;
    std::uint64_t failed = 0;   // tries that failed
    std::uint64_t givenUp = 0;  // notifications dropped after the last attempt
    std::optional<WallTime> lastSuccess;
    std::optional<WallTime> lastFailure;
    std::string lastError;
};

class Outbox {
public:
    explicit Outbox(Database& database) : database_(database) {}

    // Inside the caller's transaction (Database::Lock with begin), with the alert's change.
    void add(std::string_view notifier, std::int64_t alert, std::string_view event,
             const std::string& body, WallTime now);

    // The oldest notification still to go to this notifier; due or not.
    std::optional<OutboxItem> next(std::string_view notifier);
    void delivered(const OutboxItem& item, WallTime now);
    void failed(const OutboxItem& item, WallTime now, WallTime nextTry, std::string_view why);
    void givenUp(const OutboxItem& item, WallTime now, std::string_view why);

    std::size_t pending(std::string_view notifier);
    // Every notification still to go to a notifier that is no longer in the inventory; how many.
    std::size_t drop(std::string_view notifier);
    NotifierRecord record(std::string_view notifier);

private:
    Database& database_;
};

}  // namespace zolvane::service::alert
