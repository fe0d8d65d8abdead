#include "http_api.h"

#include <httplib.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "alert/alerts.h"
#include "answer.h"
#include "auth/access.h"
#include "command_request.h"
#include "event_hub.h"
#include "history/queries.h"
#include "http/exchange_stream.h"
#include "http/gate.h"
#include "json_text.h"
#include "log.h"
#include "metrics.h"
#include "projector_json.h"
#include "projector_texts.h"
#include "schedule/scheduler.h"
#include "web/web_assets.h"
#include "zolvane_fleet/driver_results.h"
#include "zolvane_fleet/text.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::service {
namespace {

using nlohmann::json;
using Request = httplib::Request;
using Response = httplib::Response;

constexpr const char* jsonType = "application/json; charset=utf-8";

std::string who(const Request& request) {
    return request.remote_addr + ":" + std::to_string(request.remote_port);
}

// What each status means when nothing more precise was said.
std::string statusReason(int status) {
    switch (status) {
        case 400:
            return "the request cannot be read";
        case 401:
            return "this call needs a token";
        case 404:
            return "no such path";
        case 405:
            return "the path does not take this method";
        case 413:
            return "the body is larger than the service takes";
        case 414:
            return "the request's target is longer than the service takes";
        case 503:
            return "the service is stopping";
        default:
            return "the request failed";
    }
}

std::string describeCommand(const fleet::Command& command) {
    std::string text =
        std::string(fleet::operationInfo(command.operation).word) + " " + command.setting->name;
    if (command.operation == fleet::Operation::Set && !command.ownValue.empty()) {
        // An input as it was given, which each projector names by its own inputs.
        text += " \"" + fleet::printable(command.ownValue) + "\"";
    } else if (command.operation == fleet::Operation::Set) {
        text += " " + std::to_string(command.value);
        if (const char* name =
                zv_value_name(command.setting, static_cast<std::uint16_t>(command.value))) {
            text += std::string(" (") + name + ")";
        }
    }
    return text;
}

// The request a worker answers now: its socket, and its target as sent, which the server has
// already decoded whole (an encoded slash then splits the path where the client meant none);
// the tokens it is answered with, and the one it carried.
struct Current {
    int socket = -1;
    const std::string* target = nullptr;
    std::shared_ptr<const auth::Access> access;
    const auth::Token* token = nullptr;  // in *access; null: none that matched
};
thread_local Current current;

// Who a write call is from, as the audit trail and an acknowledgement name them: the token's
// name, else the peer's address.
std::string requester(const Request& request) {
    return current.token ? current.token->name : request.remote_addr;
}

// The server's own reading and answering of one request, on bytes that came through the gate.
class ExchangeServer final : public httplib::Server {
public:
    ExchangeServer() { running(true); }
    bool answer(httplib::Stream& stream, bool close, bool& closed) {
        return process_request(stream, close, closed, nullptr);
    }
    // A chunked answer (the event stream) goes on while the server's listening socket is
    // valid; the gate listens instead, so this stands for it.
    void running(bool on) { svr_sock_ = on ? 0 : INVALID_SOCKET; }
};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The path of a target split at its slashes first, each part decoded after: "%2F" is a part's
// character, never a separator. Empty when a "%" is not followed by two hexadecimal digits.
std::optional<std::vector<std::string>> pathParts(std::string_view target) {
    target = target.substr(0, target.find('?'));
    if (target.empty() || target.front() != '/') return {};
    std::vector<std::string> parts;
    std::string_view rest = target.substr(1);
    while (true) {
        const std::size_t slash = rest.find('/');
        const std::string_view raw = rest.substr(0, slash);
        std::string part;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '%') {
                part += raw[i];
                continue;
            }
            if (i + 2 >= raw.size()) return {};
            const int high = hexValue(raw[i + 1]);
            const int low = hexValue(raw[i + 2]);
            if (high < 0 || low < 0) return {};
            part += static_cast<char>(high * 16 + low);
            i += 2;
        }
        parts.push_back(std::move(part));
        if (slash == std::string_view::npos) break;
        rest = rest.substr(slash + 1);
    }
    return parts;
}

bool projectorName(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

// How many requests wait on projectors, in all and on each: past either bound a request is
// refused at once, so that waits for a slow projector never take the threads that the page,
// the readings and the other projectors' commands need.
class Waits {
public:
    Waits(std::size_t total, std::size_t each) : total_(total), each_(each) {}

    // A place for a request on these projectors; empty with the reason when there is none.
    std::optional<std::string> enter(const std::vector<fleet::QueueRef>& targets) {
        std::lock_guard lock(mutex_);
        if (waiting_ >= total_) {
            return std::to_string(waiting_) + " requests are already waiting for projectors";
        }
        for (const fleet::QueueRef& queue : targets) {
            if (perProjector_[queue.get()] >= each_) {
                return std::to_string(each_) + " requests are already waiting for " +
                       queue->entry().name;
            }
        }
        ++waiting_;
        for (const fleet::QueueRef& queue : targets) ++perProjector_[queue.get()];
        return {};
    }
    void leave(const std::vector<fleet::QueueRef>& targets) {
        std::lock_guard lock(mutex_);
        --waiting_;
        for (const fleet::QueueRef& queue : targets) {
            if (--perProjector_[queue.get()] == 0) perProjector_.erase(queue.get());
        }
    }

private:
    std::mutex mutex_;
    const std::size_t total_;
    const std::size_t each_;
    std::size_t waiting_ = 0;
    std::map<const fleet::ProjectorQueue*, std::size_t> perProjector_;
};

// The words of the catalogue's answer; a switch, so that a new enumerator warns here.
const char* cadenceWord(fleet::Cadence cadence) {
    switch (cadence) {
        case fleet::Cadence::EveryPoll:
            return "every-poll";
        case fleet::Cadence::WhileOn:
            return "while-on";
        case fleet::Cadence::Slow:
            return "slow";
    }
    return "";
}

const char* shownWord(fleet::Shown shown) {
    switch (shown) {
        case fleet::Shown::Plain:
            return "plain";
        case fleet::Shown::Hours:
            return "hours";
        case fleet::Shown::Code:
            return "code";
    }
    return "";
}

// What a page needs to show and send values by name: every setting of the catalogue, and the
// values the fleet watches.
json catalogueJson() {
    json settings = json::array();
    for (std::size_t i = 0; i < zv_catalogue_size(); ++i) {
        const zv_setting* setting = zv_catalogue_entry(i);
        json operations = json::array();
        for (const fleet::OperationInfo& info : fleet::operations()) {
            if (fleet::supports(*setting, info.operation)) operations.push_back(info.word);
        }
        json values = json::array();
        for (std::size_t n = 0; n < setting->name_count; ++n) {
            values.push_back(
                {{"value", setting->names[n].value}, {"name", setting->names[n].name}});
        }
        json entry = {{"name", setting->name},
                      {"label", setting->label},
                      {"type", setting->type},
                      {"operations", operations},
                      {"values", values}};
        if (setting->has_range) {
            entry["range"] = {
                {"min", setting->min}, {"max", setting->max}, {"step", setting->step}};
        }
        settings.push_back(std::move(entry));
    }
    const auto text = [](const char* value) { return value ? json(value) : json(nullptr); };
    json watched = json::array();
    for (const fleet::WatchedValue& row : fleet::watchedValues()) {
        watched.push_back({{"key", row.key},
                           {"setting", row.described().name},
                           {"cadence", cadenceWord(row.cadence)},
                           {"command", text(row.command)},
                           {"title", row.title},
                           {"shown", shownWord(row.shown)},
                           {"unit", text(row.homeAssistant.unit)}});
    }
    return {{"settings", settings}, {"watched", watched}};
}

// A result that says the service could take no more or was stopping: an answer of 503.
bool unavailable(const fleet::CommandResult& result) {
    return result.result == fleet::kQueueFull || result.result == ZV_RESULT_LINK_CLOSED;
}

}  // namespace

class HttpApi::Impl {
public:
    Impl(fleet::Fleet& fleet, ApiOptions options)
        : fleet_(fleet),
          options_(std::move(options)),
          hub_(options_.maxStreams),
          texts_(fleet),
          waits_(options_.projectorWaits, options_.waitsPerProjector),
          live_(std::make_shared<const Live>(
              Live{options_.access ? options_.access : std::make_shared<const auth::Access>(),
                   options_.lampWarningHours, options_.zone, jsonText(groupsJson())})),
          gate_(gateOptions(options_),
                [this](const http::Exchange& exchange) { return answer(exchange); }) {
        buildRoutes();
        // The gate bounds every body already; this is the server's own guard behind it.
        server_.set_payload_max_length(options_.maxBodyBytes);
        server_.set_keep_alive_timeout(options_.ioTimeout.count());
        server_.set_keep_alive_max_count(1000);
        server_.set_error_handler([this](const Request& request, Response& response) {
            // Statuses the server sets itself (400 of an unreadable request): JSON too.
            if (response.body.empty()) fail(request, response, response.status, {});
        });
        server_.set_logger([](const Request& request, const Response& response) {
            if (!logs(Level::Debug)) return;
            log(Level::Debug, request.method + " " + request.path + " from " + who(request) + ": " +
                                  std::to_string(response.status));
        });
        server_.set_exception_handler(
            [this](const Request& request, Response& response, const std::exception_ptr&) {
                fail(request, response, 500, "the request failed inside the service");
            });
        for (const auto& add : {&httplib::Server::Get, &httplib::Server::Options}) {
            (server_.*add)(".*", [this](const Request& q, Response& r) { dispatch(q, r); });
        }
        using Plain =
            httplib::Server& (httplib::Server::*)(const std::string&, httplib::Server::Handler);
        for (const Plain add :
             {static_cast<Plain>(&httplib::Server::Post), static_cast<Plain>(&httplib::Server::Put),
              static_cast<Plain>(&httplib::Server::Patch),
              static_cast<Plain>(&httplib::Server::Delete)}) {
            (server_.*add)(".*", [this](const Request& q, Response& r) { dispatch(q, r); });
        }
        watcher_ =
            fleet_.subscribe([this](const std::string& name, const fleet::ProjectorState& s) {
                if (const fleet::QueueRef queue = fleet_.find(name)) {
                    hub_.publish(texts_.text(*queue, s));
                }
            });
    }

    ~Impl() {
        stop();
        fleet_.unsubscribe(watcher_);
    }

    std::optional<std::uint16_t> bind(const std::string& host, std::uint16_t port,
                                      std::string* why) {
        return gate_.bind(host, port, why);
    }

    void serve() { gate_.run(); }
    void setTls(std::shared_ptr<const http::TlsServer> tls) { gate_.setTls(std::move(tls)); }

    void reload(const ApiReload& reload) {
        texts_.forget(reload.changes);
        {
            std::lock_guard lock(liveMutex_);
            live_ = std::make_shared<const Live>(Live{reload.access ? reload.access : live_->access,
                                                      reload.lampWarningHours, reload.zone,
                                                      jsonText(groupsJson())});
        }
        for (const std::string& name : reload.changes.removed) {
            hub_.publish(jsonText(json{{"name", name}}), "removed");
        }
    }
    bool alive() const { return gate_.alive(); }

    void stop() {
        stopping_ = true;
        hub_.stop();
        server_.running(false);
        gate_.stop();
    }

private:
    using Parts = std::vector<std::string>;
    using Handler = std::function<void(const Request&, Response&, const Parts&)>;
    struct Route {
        std::string method;
        std::vector<std::string> pattern;  // "{name}": a projector's or group's; "{any}": any
        std::optional<auth::Role> least;   // the role a token needs; none: open to all
        Handler handler;
    };

    // What a reload replaces, taken whole by each request.
    struct Live {
        std::shared_ptr<const auth::Access> access;
        unsigned lampWarningHours;
        const date::time_zone* zone;
        std::string groupsText;
    };
    std::shared_ptr<const Live> live() const {
        std::lock_guard lock(liveMutex_);
        return live_;
    }

    static http::GateOptions gateOptions(const ApiOptions& options) {
        http::GateOptions gate;
        gate.limits.headBytes = options.headBytes;
        gate.limits.headLines = options.headLines;
        gate.limits.bodyBytes = options.maxBodyBytes;
        gate.requestTime = options.requestTime;
        gate.idleTime = options.ioTimeout;
        gate.perPeer = options.perPeer;
        gate.workers = options.maxStreams + options.clients;
        gate.tls = options.tls;
        return gate;
    }

    bool answer(const http::Exchange& exchange) {
        http::ExchangeStream stream(exchange, options_.ioTimeout);
        current = {exchange.socket, &exchange.target, nullptr, nullptr};
        bool closed = false;
        const bool written = server_.answer(stream, exchange.close || stopping_, closed);
        current = {};
        return written && !closed && !stopping_;
    }

    void buildRoutes() {
        const auto bound = [this](void (Impl::*member)(const Request&, Response&, const Parts&)) {
            return [this, member](const Request& q, Response& r, const Parts& p) {
                (this->*member)(q, r, p);
            };
        };
        using auth::Role;
        constexpr auto read = Role::Read;  // open unless [service] read_requires_token
        constexpr auto operate = Role::Operate;
        constexpr auto admin = Role::Admin;
        routes_ = {
            {"GET", {"api", "session"}, {}, bound(&Impl::session)},
            {"GET", {"api", "projectors"}, read, bound(&Impl::listProjectors)},
            {"GET", {"api", "projectors", "{name}"}, read, bound(&Impl::oneProjector)},
            {"GET", {"api", "groups"}, read, bound(&Impl::listGroups)},
            {"GET", {"api", "catalogue"}, read, bound(&Impl::catalogue)},
            {"GET", {"api", "projectors", "{name}", "settings"}, read, bound(&Impl::readSettings)},
            {"GET",
             {"api", "projectors", "{name}", "settings", "{any}"},
             read,
             bound(&Impl::readSetting)},
            {"PUT",
             {"api", "projectors", "{name}", "settings", "{any}"},
             operate,
             bound(&Impl::writeSetting)},
            {"POST",
             {"api", "projectors", "{name}", "commands"},
             operate,
             bound(&Impl::projectorCommand)},
            {"POST", {"api", "groups", "{name}", "commands"}, operate, bound(&Impl::groupCommand)},
            {"GET", {"api", "events"}, read, bound(&Impl::events)},
            {"GET", {"metrics"}, read, bound(&Impl::metrics)},
            {"GET",
             {"api", "projectors", "{name}", "history"},
             read,
             bound(&Impl::projectorHistory)},
            {"GET", {"api", "log"}, read, bound(&Impl::auditLog)},
            {"GET", {"api", "reports", "usage"}, read, bound(&Impl::usageReport)},
            {"GET", {"api", "schedules"}, read, bound(&Impl::listSchedules)},
            {"PUT", {"api", "schedules", "{name}"}, admin, bound(&Impl::changeSchedule)},
            {"POST", {"api", "schedules", "{name}", "run"}, admin, bound(&Impl::runSchedule)},
            {"GET", {"api", "alerts"}, read, bound(&Impl::listAlerts)},
            {"POST", {"api", "alerts", "{any}", "ack"}, operate, bound(&Impl::acknowledgeAlert)},
            {"GET", {"api", "notifiers"}, read, bound(&Impl::listNotifiers)},
        };
    }

    static bool matches(const Route& route, const Parts& parts, Parts* values) {
        if (route.pattern.size() != parts.size()) return false;
        values->clear();
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const std::string& want = route.pattern[i];
            if (want == "{name}") {
                if (!projectorName(parts[i])) return false;
                values->push_back(parts[i]);
            } else if (want == "{any}") {
                if (parts[i].empty()) return false;
                values->push_back(parts[i]);
            } else if (want != parts[i]) {
                return false;
            }
        }
        return true;
    }

    void dispatch(const Request& request, Response& response) {
        const std::string method = request.method == "HEAD" ? "GET" : request.method;
        const std::optional<Parts> parts =
            pathParts(current.target ? *current.target : request.target);
        if (!parts) return fail(request, response, 400, "the path's %-escapes are not well-formed");
        for (const std::string& part : *parts) {
            if (!fleet::plainText(part)) {
                return fail(request, response, 404, "no such path: a part of it is not text");
            }
        }
        std::string allowed;
        Parts values;
        for (const Route& route : routes_) {
            if (!matches(route, *parts, &values)) continue;
            if (route.method != method) {
                allowed += (allowed.empty() ? "" : ", ") + route.method;
                continue;
            }
            if (!authorised(request, response, route.least)) return;
            return route.handler(request, response, values);
        }
        if (!allowed.empty()) {
            response.set_header("Allow", allowed);
            return fail(request, response, 405, {});
        }
        const bool api = !parts->empty() && ((*parts)[0] == "api" || (*parts)[0] == "metrics");
        std::string path;
        for (const std::string& part : *parts) path += "/" + part;
        if (!api) {
            if (const WebAsset* asset = findWebAsset(path)) {
                if (method != "GET") {
                    response.set_header("Allow", "GET");
                    return fail(request, response, 405, {});
                }
                response.set_content(std::string(asset->body), std::string(asset->contentType));
                return;
            }
        }
        fail(request, response, 404, {});
    }

    // Who the request is from (current.token) and whether it may make a call that needs least;
    // when not, the refusal is answered. A token is looked at whenever one is presented, so that
    // every call counts towards a peer's failures and a known one is named in the audit trail.
    bool authorised(const Request& request, Response& response, std::optional<auth::Role> least) {
        current.access = live()->access;
        current.token = nullptr;
        const auth::Access& access = *current.access;
        const bool presented = request.has_header("Authorization");
        if (presented && access.anyToken()) {
            const auto now = auth::Attempts::Clock::now();
            if (const std::chrono::seconds wait = attempts_.waiting(request.remote_addr, now);
                wait.count() > 0) {
                ++refused429_;
                response.set_header("Retry-After", std::to_string(wait.count()));
                fail(request, response, 429,
                     "too many unknown tokens from this address: try again in " +
                         std::to_string(wait.count()) + " s");
                return false;
            }
            current.token = access.match(request.get_header_value("Authorization"));
            if (current.token) {
                attempts_.succeeded(request.remote_addr);
            } else {
                ++authFailures_;
                attempts_.failed(request.remote_addr, now);
            }
        }
        if (access.open(least)) return true;
        if (!current.token) {
            ++refused401_;
            response.set_header("WWW-Authenticate", "Bearer");
            fail(request, response, 401, presented ? "the token is not known" : "");
            return false;
        }
        if (!auth::allows(*current.token, *least)) {
            ++refused403_;
            fail(request, response, 403,
                 "the token \"" + current.token->name + "\" has the role " +
                     auth::roleWord(current.token->role) + "; this call needs " +
                     auth::roleWord(*least));
            return false;
        }
        return true;
    }

    // Whether the request's token may command every target; when not, the refusal is
    // answered, naming the projectors outside its scope.
    bool inScope(const Request& request, Response& response,
                 const std::vector<fleet::QueueRef>& targets) {
        if (!current.token) return true;
        std::string outside;
        for (const fleet::QueueRef& queue : targets) {
            if (auth::inScope(*current.token, queue->entry())) continue;
            outside += (outside.empty() ? "" : ", ") + queue->entry().name;
        }
        if (outside.empty()) return true;
        ++refused403_;
        fail(request, response, 403,
             "the token \"" + current.token->name + "\" may not command " + outside);
        return false;
    }

    void session(const Request&, Response& response, const Parts&) {
        const auth::Token* token = current.token;
        json projectors = nullptr;
        if (token && !(token->projectors.empty() && token->groups.empty())) {
            projectors = json::array();
            for (const fleet::QueueRef& queue : fleet_.projectors()) {
                if (auth::inScope(*token, queue->entry()))
                    projectors.push_back(queue->entry().name);
            }
        }
        answer(response, {{"token", token ? json(token->name) : json(nullptr)},
                          {"role", token ? json(auth::roleWord(token->role)) : json(nullptr)},
                          {"projectors", projectors},
                          {"tokens_required",
                           {{"read", current.access->readRequiresToken()},
                            {"write", current.access->anyToken()}}}});
    }

    // Every error answer: {"error": reason} with its status, and a line in the log.
    void fail(const Request& request, Response& response, int status, std::string reason) {
        if (reason.empty()) reason = statusReason(status);
        response.status = status;
        response.set_content(jsonText(json{{"error", reason}}), jsonType);
        log(status >= 500 ? Level::Warning : Level::Info,
            "refused " + request.method + " " + request.path + " from " + who(request) + ": " +
                std::to_string(status) + " " + reason);
    }

    void answer(Response& response, const json& body, int status = 200) {
        response.status = status;
        response.set_content(jsonText(body), jsonType);
    }

    fleet::QueueRef projector(const Request& request, Response& response, const std::string& name) {
        fleet::QueueRef queue = fleet_.find(name);
        if (!queue) fail(request, response, 404, "no projector \"" + name + "\"");
        return queue;
    }

    json groupsJson() const {
        json groups = json::array();
        for (const std::string& group : fleet_.groups()) {
            json members = json::array();
            for (const fleet::QueueRef& queue : fleet_.group(group)) {
                members.push_back(queue->entry().name);
            }
            groups.push_back({{"name", group}, {"projectors", members}});
        }
        return groups;
    }

    void listProjectors(const Request&, Response& response, const Parts&) {
        // Built as text: the projectors' texts are ready, the rest changes only at a reload.
        const std::shared_ptr<const Live> live = this->live();
        std::string body =
            "{\"projectors\":" + texts_.list() + ",\"groups\":" + live->groupsText +
            ",\"lamp_warning_hours\":" + std::to_string(live->lampWarningHours) +
            ",\"history_days\":" +
            std::to_string(options_.history ? options_.history->retentionDays() : 0) + "}";
        response.status = 200;
        response.set_content(body, jsonType);
    }

    void oneProjector(const Request& request, Response& response, const Parts& parts) {
        if (const fleet::QueueRef queue = projector(request, response, parts[0])) {
            response.status = 200;
            response.set_content(texts_.text(*queue), jsonType);
        }
    }

    void listGroups(const Request&, Response& response, const Parts&) {
        answer(response, {{"groups", groupsJson()}});
    }

    void catalogue(const Request&, Response& response, const Parts&) {
        response.status = 200;
        response.set_content(catalogueText_, jsonType);
    }

    bool refuseWhileStopping(const Request& request, Response& response) {
        if (stopping_) fail(request, response, 503, {});
        return stopping_;
    }

    // A place among the requests that wait on projectors, left when it goes out of scope.
    class Waiting {
    public:
        Waiting(Waits& waits, std::vector<fleet::QueueRef> targets)
            : waits_(waits), targets_(std::move(targets)), refused_(waits_.enter(targets_)) {}
        ~Waiting() {
            if (!refused_) waits_.leave(targets_);
        }
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;
        const std::optional<std::string>& refused() const { return refused_; }

    private:
        Waits& waits_;
        const std::vector<fleet::QueueRef> targets_;
        const std::optional<std::string> refused_;
    };

    bool refuseWhenFull(const Request& request, Response& response, const Waiting& waiting) {
        if (waiting.refused()) fail(request, response, 503, *waiting.refused());
        return waiting.refused().has_value();
    }

    static fleet::CommandResult read(fleet::ProjectorQueue& queue, const zv_setting* setting) {
        return queue.run({fleet::Operation::Get, setting, 0, {}, {}}).get();
    }

    static std::string reasonOf(const fleet::CommandResult& result) {
        return result.reason.empty() ? fleet::resultReason(result.result) : result.reason;
    }

    // A value read, named as the projector names it.
    static json readJson(const zv_setting* setting, std::uint16_t value,
                         const fleet::ProjectorState& state) {
        json shown = {{"value", value}};
        const fleet::WatchedValue* row = fleet::watchedByType(setting->type);
        const char* name =
            row ? fleet::valueName(state, *row, value) : zv_value_name(setting, value);
        if (name) shown["name"] = name;
        return shown;
    }

    // Whether the projector answered, refusing this one setting: the others are still asked.
    static bool refusedAlone(const fleet::CommandResult& result) {
        return result.result == ZV_RESULT_BAD_REPLY || result.result == fleet::kUnsupported ||
               result.result == fleet::kUnavailable || result.result == fleet::kProjectorFailure;
    }

    void readSettings(const Request& request, Response& response, const Parts& parts) {
        const fleet::QueueRef queue = projector(request, response, parts[0]);
        if (!queue || refuseWhileStopping(request, response)) return;
        const Waiting waiting(waits_, {queue});
        if (refuseWhenFull(request, response, waiting)) return;
        json settings = json::object();
        const fleet::ProjectorState state = queue->state();
        for (std::size_t i = 0; i < zv_catalogue_size(); ++i) {
            const zv_setting* setting = zv_catalogue_entry(i);
            if (!fleet::supports(*setting, fleet::Operation::Get)) continue;
            const fleet::CommandResult result = read(*queue, setting);
            if (result.ok() && result.value) {
                settings[setting->name] = readJson(setting, *result.value, state);
            } else if (refusedAlone(result)) {
                settings[setting->name] = {{"error", reasonOf(result)}};
            } else {
                // Not answering: asking the other sixty settings would only wait as long again.
                return fail(request, response, unavailable(result) ? 503 : 502,
                            queue->entry().name + " did not answer: " + reasonOf(result));
            }
        }
        answer(response, {{"settings", settings}});
    }

    void readSetting(const Request& request, Response& response, const Parts& parts) {
        const fleet::QueueRef queue = projector(request, response, parts[0]);
        if (!queue) return;
        const fleet::Checked checked =
            fleet::check(fleet::Operation::Get, parts[1], {}, fleet::Phrasing::Path);
        if (!checked.command) {
            return fail(request, response, statusOf(checked.refusal), checked.refusal.reason);
        }
        const zv_setting* setting = checked.command->setting;
        if (refuseWhileStopping(request, response)) return;
        const Waiting waiting(waits_, {queue});
        if (refuseWhenFull(request, response, waiting)) return;
        const fleet::CommandResult result = read(*queue, setting);
        if (!result.ok() || !result.value) {
            return fail(
                request, response, unavailable(result) ? 503 : 502,
                queue->entry().name + " did not read " + setting->name + ": " + reasonOf(result));
        }
        json shown = readJson(setting, *result.value, queue->state());
        shown["setting"] = setting->name;
        answer(response, shown);
    }

    void writeSetting(const Request& request, Response& response, const Parts& parts) {
        const fleet::QueueRef queue = projector(request, response, parts[0]);
        if (!queue) return;
        run(request, response, {queue}, setFromBody(parts[1], request.body), {});
    }

    void projectorCommand(const Request& request, Response& response, const Parts& parts) {
        const fleet::QueueRef queue = projector(request, response, parts[0]);
        if (!queue) return;
        run(request, response, {queue}, commandFromBody(request.body), {});
    }

    void groupCommand(const Request& request, Response& response, const Parts& parts) {
        const std::string& group = parts[0];
        const std::vector<fleet::QueueRef> targets = fleet_.group(group);
        if (targets.empty() && group != "all") {  // "all" of a site with none yet is empty
            return fail(request, response, 404, "no group \"" + group + "\"");
        }
        run(request, response, targets, commandFromBody(request.body), group);
    }

    // A set of the input is checked by each target's own inputs (or the catalogue's): refused
    // when no target takes it, as a bad value is before anything is queued. Where some take it,
    // the others refuse it in their results.
    bool refuseUntaken(const Request& request, Response& response,
                       const std::vector<fleet::QueueRef>& targets, const fleet::Command& command) {
        std::optional<fleet::Refusal> first;
        for (const fleet::QueueRef& target : targets) {
            if (!target) continue;
            const fleet::Checked checked = fleet::checkFor(
                command, target->state(), target->entry().name, fleet::Phrasing::Command);
            if (checked.command) return false;
            if (!first) first = checked.refusal;
        }
        if (!first) return false;
        fail(request, response, statusOf(*first), first->reason);
        return true;
    }

    // Runs a checked command on its targets (a group's, when group is not empty): nothing is
    // queued unless the whole request is valid.
    void run(const Request& request, Response& response,
             const std::vector<fleet::QueueRef>& targets, const CheckedCommand& checked,
             const std::string& group) {
        if (!inScope(request, response, targets)) return;
        if (!checked.command) {
            return fail(request, response, checked.fault.status, checked.fault.reason);
        }
        if (refuseUntaken(request, response, targets, *checked.command)) return;
        if (refuseWhileStopping(request, response)) return;
        const Waiting waiting(waits_, targets);
        if (refuseWhenFull(request, response, waiting)) return;
        fleet::Command command = *checked.command;
        command.origin = {"http", requester(request)};
        const std::vector<fleet::Fleet::Outcome> outcomes = fleet_.runAll(targets, command);
        json results = json::array();
        bool ok = true;
        std::string summary;
        // One outcome per target that is there, in the targets' order.
        std::vector<const fleet::ProjectorQueue*> queues;
        for (const fleet::QueueRef& target : targets) {
            if (target) queues.push_back(target.get());
        }
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            const fleet::Fleet::Outcome& outcome = outcomes[i];
            ok = ok && outcome.result.ok();
            results.push_back(
                outcomeJson(outcome, command, i < queues.size() ? queues[i] : nullptr));
            summary += (summary.empty() ? "" : ", ") + outcome.projector + " " +
                       (outcome.result.ok() ? "ok" : reasonOf(outcome.result));
        }
        log(Level::Info, "command from " + who(request) + ": " + describeCommand(command) + " to " +
                             (group.empty() ? targets.front()->entry().name : "group " + group) +
                             ": " + summary);
        int status = 200;
        if (!ok && group.empty()) {
            // The one projector could not take it (its queue full, or the service stopping):
            // the service is unavailable, not the projector at fault.
            status = outcomes.size() == 1 && unavailable(outcomes.front().result) ? 503 : 502;
        }
        answer(response, {{"ok", ok}, {"results", results}}, status);
    }

    // An answer built elsewhere (the history's, the schedules'), failures logged as the API's own.
    void send(const Request& request, Response& response, const Answer& made) {
        if (made.status >= 400) {
            log(made.status >= 500 ? Level::Warning : Level::Info,
                "refused " + request.method + " " + request.path + " from " + who(request) + ": " +
                    std::to_string(made.status));
        }
        response.status = made.status;
        if (!made.filename.empty()) {
            response.set_header("Content-Disposition",
                                "attachment; filename=\"" + made.filename + "\"");
        }
        response.set_content(made.body, made.contentType);
    }

    bool refuseWithoutHistory(const Request& request, Response& response) {
        if (options_.history) return false;
        fail(request, response, 503, "the service keeps no history");
        return true;
    }

    void projectorHistory(const Request& request, Response& response, const Parts& parts) {
        if (!projector(request, response, parts[0]) || refuseWithoutHistory(request, response)) {
            return;
        }
        send(request, response,
             history::projectorHistory(*options_.history, fleet_, parts[0], request.params,
                                       live()->zone));
    }

    void auditLog(const Request& request, Response& response, const Parts&) {
        if (refuseWithoutHistory(request, response)) return;
        send(request, response,
             history::auditLog(*options_.history, fleet_, request.params, live()->zone));
    }

    void usageReport(const Request& request, Response& response, const Parts&) {
        if (refuseWithoutHistory(request, response)) return;
        send(request, response,
             history::usageReport(*options_.history, fleet_, request.params, live()->zone));
    }

    void listSchedules(const Request& request, Response& response, const Parts&) {
        if (!options_.schedules) return answer(response, {{"schedules", json::array()}});
        send(request, response, options_.schedules->list());
    }

    void changeSchedule(const Request& request, Response& response, const Parts& parts) {
        if (!options_.schedules)
            return fail(request, response, 404, "no schedule \"" + parts[0] + "\"");
        send(request, response, options_.schedules->change(parts[0], request.body));
    }

    void runSchedule(const Request& request, Response& response, const Parts& parts) {
        if (!options_.schedules)
            return fail(request, response, 404, "no schedule \"" + parts[0] + "\"");
        if (refuseWhileStopping(request, response)) return;
        send(request, response, options_.schedules->runNow(parts[0]));
    }

    void listAlerts(const Request& request, Response& response, const Parts&) {
        if (!options_.alerts) return answer(response, {{"alerts", json::array()}});
        send(request, response, options_.alerts->list());
    }

    void acknowledgeAlert(const Request& request, Response& response, const Parts& parts) {
        if (!options_.alerts) return fail(request, response, 404, "no alert " + parts[0]);
        send(request, response, options_.alerts->acknowledge(parts[0], requester(request)));
    }

    void listNotifiers(const Request& request, Response& response, const Parts&) {
        if (!options_.alerts) return answer(response, {{"notifiers", json::array()}});
        send(request, response, options_.alerts->notifiers());
    }

    void metrics(const Request&, Response& response, const Parts&) {
        const AuthCounters auth{authFailures_, refused401_, refused403_, refused429_};
        response.set_content(
            metricsText(fleet_, options_.history, options_.schedules, options_.alerts, &auth),
            "text/plain; version=0.0.4; charset=utf-8");
    }

    // The event stream: a snapshot of every projector, then each change, with a comment line
    // when nothing happened for a while.
    struct Stream {
        std::uint64_t after = 0;
        bool snapshot = true;
    };
    // The wait for changes is cut into slices this long, to see a client's hang-up between
    // them and give its place to the next stream at once.
    static constexpr std::chrono::milliseconds kStreamSlice{200};

    void events(const Request& request, Response& response, const Parts&) {
        if (!hub_.open()) {
            return fail(request, response, 503,
                        hub_.stopped() ? "the service is stopping" : "too many event streams");
        }
        auto stream = std::make_shared<Stream>();
        const int socket = current.socket;
        response.set_header("Cache-Control", "no-cache");
        response.set_header("X-Accel-Buffering", "no");
        response.set_chunked_content_provider(
            "text/event-stream",
            [this, stream, socket](std::size_t, httplib::DataSink& sink) {
                if (stream->snapshot) return sendSnapshot(*stream, sink);
                std::chrono::milliseconds waited{0};
                while (true) {
                    if (socket >= 0 && http::hungUp(socket)) return false;
                    const auto slice = std::min(kStreamSlice, options_.keepAlive - waited);
                    const EventHub::Taken taken = hub_.take(stream->after, slice);
                    if (taken.stopped) {
                        sink.done();
                        return true;
                    }
                    if (taken.missed) {
                        stream->snapshot = true;  // fell behind: the whole state again
                        return true;
                    }
                    if (!taken.events.empty()) {
                        for (const std::string& block : taken.events) {
                            if (!sink.write(block.data(), block.size())) return false;
                        }
                        return true;
                    }
                    waited += slice;
                    if (waited >= options_.keepAlive) return sink.write(": keep-alive\n\n", 14);
                }
            },
            [this](bool) { hub_.close(); });
    }

    bool sendSnapshot(Stream& stream, httplib::DataSink& sink) {
        stream.snapshot = false;
        stream.after = hub_.newest();  // changes from here on follow, none is lost
        std::string text;
        for (const auto& queue : fleet_.projectors()) {
            text += EventHub::block(stream.after, texts_.text(*queue));
        }
        return sink.write(text.data(), text.size());
    }

    fleet::Fleet& fleet_;
    const ApiOptions options_;
    EventHub hub_;
    ProjectorTexts texts_;
    Waits waits_;
    mutable std::mutex liveMutex_;
    std::shared_ptr<const Live> live_;
    auth::Attempts attempts_;
    std::atomic<std::uint64_t> authFailures_{0};
    std::atomic<std::uint64_t> refused401_{0};
    std::atomic<std::uint64_t> refused403_{0};
    std::atomic<std::uint64_t> refused429_{0};
    const std::string catalogueText_ = jsonText(catalogueJson());
    ExchangeServer server_;
    std::vector<Route> routes_;
    std::atomic<bool> stopping_{false};
    std::uint64_t watcher_ = 0;
    http::Gate gate_;
};

HttpApi::HttpApi(fleet::Fleet& fleet, ApiOptions options)
    : impl_(std::make_unique<Impl>(fleet, std::move(options))) {}
HttpApi::~HttpApi() = default;

std::optional<std::uint16_t> HttpApi::bind(const std::string& host, std::uint16_t port,
                                           std::string* why) {
    return impl_->bind(host, port, why);
}
void HttpApi::serve() { impl_->serve(); }
void HttpApi::stop() { impl_->stop(); }
void HttpApi::reload(const ApiReload& reload) { impl_->reload(reload); }
void HttpApi::setTls(std::shared_ptr<const http::TlsServer> tls) { impl_->setTls(std::move(tls)); }
bool HttpApi::alive() const { return impl_->alive(); }

}  // namespace zolvane::service
