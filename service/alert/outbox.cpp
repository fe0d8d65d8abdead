#include "alert/outbox.h"

#include <algorithm>

namespace zolvane::service::alert {

void Outbox::add(std::string_view notifier, std::int64_t alert, std::string_view event,
                 const std::string& body, WallTime now) {
    Query(database_,
          "INSERT INTO outbox(notifier, alert, event, body, created, next_try) "
          "VALUES(?, ?, ?, ?, ?, ?)")
        .bind(1, notifier)
        .bind(2, alert)
        .bind(3, event)
        .bind(4, std::string_view(body))
        .bind(5, now)
        .bind(6, now)
        .run();
}

std::optional<OutboxItem> Outbox::next(std::string_view notifier) {
    Database::Lock lock(database_);
    Query query(database_,
                "SELECT id, alert, event, body, created, attempts, next_try, last_error FROM "
                "outbox WHERE notifier = ? ORDER BY id LIMIT 1");
    query.bind(1, notifier);
    if (!query.step()) return std::nullopt;
    OutboxItem item;
    item.id = query.integer(0);
    item.notifier = std::string(notifier);
    item.alert = query.integer(1);
    item.event = query.text(2);
    item.body = query.text(3);
    item.created = query.time(4);
    item.attempts = static_cast<unsigned>(std::max<std::int64_t>(query.integer(5), 0));
    item.nextTry = query.time(6);
    item.lastError = query.text(7);
    return item;
}

namespace {

// The notifier's row, made when missing.
void touch(Database& database, std::string_view notifier) {
    Query(database, "INSERT OR IGNORE INTO notifiers(name) VALUES(?)").bind(1, notifier).run();
}

}  // namespace

void Outbox::delivered(const OutboxItem& item, WallTime now) {
    Database::Lock lock(database_, true);
    Query(database_, "DELETE FROM outbox WHERE id = ?").bind(1, item.id).run();
    touch(database_, item.notifier);
    Query(database_,
          "UPDATE notifiers SET delivered = delivered + 1, last_success = ? WHERE name = ?")
        .bind(1, now)
        .bind(2, std::string_view(item.notifier))
        .run();
    lock.commit();
}

void Outbox::failed(const OutboxItem& item, WallTime now, WallTime nextTry, std::string_view why) {
    Database::Lock lock(database_, true);
    Query(database_,
          "UPDATE outbox SET attempts = attempts + 1, next_try = ?, last_error = ? WHERE id = ?")
        .bind(1, nextTry)
        .bind(2, why)
        .bind(3, item.id)
        .run();
    touch(database_, item.notifier);
    Query(database_,
          "UPDATE notifiers SET failed = failed + 1, last_failure = ?, last_error = ? "
          "WHERE name = ?")
        .bind(1, now)
        .bind(2, why)
        .bind(3, std::string_view(item.notifier))
        .run();
    lock.commit();
}

void Outbox::givenUp(const OutboxItem& item, WallTime now, std::string_view why) {
    Database::Lock lock(database_, true);
    Query(database_, "DELETE FROM outbox WHERE id = ?").bind(1, item.id).run();
    touch(database_, item.notifier);
    Query(database_,
          "UPDATE notifiers SET failed = failed + 1, given_up = given_up + 1, last_failure = ?, "
          "last_error = ? WHERE name = ?")
        .bind(1, now)
        .bind(2, why)
        .bind(3, std::string_view(item.notifier))
        .run();
    lock.commit();
}

std::size_t Outbox::pending(std::string_view notifier) {
    Database::Lock lock(database_);
    Query query(database_, "SELECT count(*) FROM outbox WHERE notifier = ?");
    query.bind(1, notifier);
    return query.step() ? static_cast<std::size_t>(query.integer(0)) : 0;
}

std::size_t Outbox::drop(std::string_view notifier) {
    Database::Lock lock(database_);
    Query(database_, "DELETE FROM outbox WHERE notifier = ?").bind(1, notifier).run();
    Query changes(database_, "SELECT changes()");
    return changes.step() ? static_cast<std::size_t>(changes.integer(0)) : 0;
}

NotifierRecord Outbox::record(std::string_view notifier) {
    Database::Lock lock(database_);
    Query query(database_,
                "SELECT delivered, failed, given_up, last_success, last_failure, last_error "
                "FROM notifiers WHERE name = ?");
    query.bind(1, notifier);
    NotifierRecord record;
    if (!query.step()) return record;
    const auto count = [&](int column) {
        return static_cast<std::uint64_t>(std::max<std::int64_t>(query.integer(column), 0));
    };
    record.delivered = count(0);
    record.failed = count(1);
    record.givenUp = count(2);
    record.lastSuccess = query.maybeTime(3);
    record.lastFailure = query.maybeTime(4);
    record.lastError = query.text(5);
    return record;
}

}  // namespace zolvane::service::alert
