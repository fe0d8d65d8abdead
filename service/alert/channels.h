// One try of a notification over the network: a webhook's POST and an e-mail over SMTP, each
// through libcurl within the notifier's time-out, cut short when the delivery stops.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "alert/rules.h"
#include "clock.h"

namespace zolvane::service::alert {

// True once the try is to end at once (the service is stopping).
using Stopping = std::function<bool()>;

// Once in the process, before any transfer.
void startCurl();

// Each returns nothing when the notification was taken, else why not, shortly: "HTTP 503",
// "timed out after 10 s", curl's own message.
std::optional<std::string> postWebhook(const Notifier& notifier, const nlohmann::json& notification,
                                       const std::string& stored, const Stopping& stopping);
std::optional<std::string> sendEmail(const Notifier& notifier, const nlohmann::json& notification,
                                     WallTime now, const Stopping& stopping);

// Where a notifier sends, for people who may read the API without a token: the scheme, host and
// port, without a user, a password, a path or a query.
std::string shownUrl(const std::string& url);

}  // namespace zolvane::service::alert
