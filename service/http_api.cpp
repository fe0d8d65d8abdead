#include "http_api.h"

#include <httplib.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <vector>

#include "command_request.h"
#include "event_hub.h"
#include "log.h"
#include "metrics.h"
#include "projector_json.h"
#include "projector_texts.h"
#include "token.h"
#include "web/web_assets.h"

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
            return "this call needs the service's bearer token";
        case 404:
            return "no such path";
        case 405:
            return "the path does not take this method";
        case 413:
            return "the body is larger than the service takes";
        case 503:
            return "the service is stopping";
        default:
            return "the request failed";
    }
}

std::string describeCommand(const fleet::Command& command) {
    std::string text = std::string(operationName(command.operation)) + " " + command.setting->name;
    if (command.operation == fleet::Operation::Set) {
        text += " " + std::to_string(command.value);
        if (const char* name =
                zv_value_name(command.setting, static_cast<std::uint16_t>(command.value))) {
            text += std::string(" (") + name + ")";
        }
    }
    return text;
}

}  // namespace

class HttpApi::Impl {
public:
    Impl(fleet::Fleet& fleet, ApiOptions options)
        : fleet_(fleet), options_(std::move(options)), hub_(options_.maxStreams), texts_(fleet) {
        buildRoutes();
        // Headers and body go out in two writes: without this the body waits for the client's
        // delayed acknowledgement of the headers, 40 ms on Linux, on every answer.
        server_.set_tcp_nodelay(true);
        const std::size_t threads = options_.maxStreams + options_.clients;
        server_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        server_.set_payload_max_length(options_.maxBodyBytes);
        server_.set_read_timeout(options_.ioTimeout);
        server_.set_write_timeout(options_.ioTimeout);
        server_.set_keep_alive_timeout(options_.ioTimeout.count());
        // The listening socket: SO_REUSEADDR only. The server's own default adds SO_REUSEPORT,
        // with which a second service started on the same port shares it without a word and
        // takes half the requests.
        server_.set_socket_options([this](socket_t socket) {
            const int yes = 1;
            ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            listening_ = socket;
        });
        server_.set_error_handler([this](const Request& request, Response& response) {
            // Statuses the server sets itself (413, 400 of an unreadable request): JSON too.
            if (response.body.empty()) fail(request, response, response.status, {});
        });
        server_.set_logger([](const Request& request, const Response& response) {
            if (!logs(Level::Debug)) return;
            log(Level::Debug, request.method + " " + request.path + " from " + who(request) + ": " +
                                  std::to_string(response.status));
        });
        server_.set_exception_handler(
            [this](const Request& request, Response& response, std::exception_ptr) {
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
                if (const fleet::ProjectorQueue* queue = fleet_.find(name)) {
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
        const int bound = port == 0 ? server_.bind_to_any_port(host)
                                    : (server_.bind_to_port(host, port) ? port : -1);
        if (bound <= 0) {
            if (why) {
                *why = "cannot listen on " + host + ":" + std::to_string(port) + ": " +
                       std::strerror(errno);
            }
            return {};
        }
        // The server's backlog of 5 makes a burst of new clients wait for SYN retries, a second
        // and more each, while the threads are busy: a longer one, as the system allows.
        if (listening_ >= 0) ::listen(listening_, SOMAXCONN);
        return static_cast<std::uint16_t>(bound);
    }

    void serve() { server_.listen_after_bind(); }

    void stop() {
        stopping_ = true;
        hub_.stop();
        server_.stop();
    }

private:
    using Handler = std::function<void(const Request&, Response&, const std::smatch&)>;
    struct Route {
        std::string method;
        std::regex path;
        bool write;  // needs the token
        Handler handler;
    };

    void buildRoutes() {
        const auto bound =
            [this](void (Impl::*member)(const Request&, Response&, const std::smatch&)) {
                return [this, member](const Request& q, Response& r, const std::smatch& m) {
                    (this->*member)(q, r, m);
                };
            };
        const std::string name = "([A-Za-z0-9._-]+)";
        const std::string setting = "([^/]+)";
        routes_ = {
            {"GET", std::regex("/api/projectors"), false, bound(&Impl::listProjectors)},
            {"GET", std::regex("/api/projectors/" + name), false, bound(&Impl::oneProjector)},
            {"GET", std::regex("/api/groups"), false, bound(&Impl::listGroups)},
            {"GET", std::regex("/api/projectors/" + name + "/settings"), false,
             bound(&Impl::readSettings)},
            {"GET", std::regex("/api/projectors/" + name + "/settings/" + setting), false,
             bound(&Impl::readSetting)},
            {"PUT", std::regex("/api/projectors/" + name + "/settings/" + setting), true,
             bound(&Impl::writeSetting)},
            {"POST", std::regex("/api/projectors/" + name + "/commands"), true,
             bound(&Impl::projectorCommand)},
            {"POST", std::regex("/api/groups/" + name + "/commands"), true,
             bound(&Impl::groupCommand)},
            {"GET", std::regex("/api/events"), false, bound(&Impl::events)},
            {"GET", std::regex("/metrics"), false, bound(&Impl::metrics)},
        };
    }

    void dispatch(const Request& request, Response& response) {
        const std::string method = request.method == "HEAD" ? "GET" : request.method;
        std::string allowed;
        std::smatch match;
        for (const Route& route : routes_) {
            if (!std::regex_match(request.path, match, route.path)) continue;
            if (route.method != method) {
                allowed += (allowed.empty() ? "" : ", ") + route.method;
                continue;
            }
            if (route.write && !authorised(request)) {
                return fail(request, response, 401, {});
            }
            return route.handler(request, response, match);
        }
        if (!allowed.empty()) {
            response.set_header("Allow", allowed);
            return fail(request, response, 405, {});
        }
        const bool page = method == "GET" && !request.path.starts_with("/api/") &&
                          request.path != "/api" && request.path != "/metrics";
        if (page) {
            if (const WebAsset* asset = findWebAsset(request.path)) {
                response.set_content(std::string(asset->body), std::string(asset->contentType));
                return;
            }
        }
        fail(request, response, 404, {});
    }

    bool authorised(const Request& request) const {
        return !options_.token ||
               bearerMatches(request.get_header_value("Authorization"), *options_.token);
    }

    // Every error answer: {"error": reason} with its status, and a line in the log.
    void fail(const Request& request, Response& response, int status, std::string reason) {
        if (reason.empty()) reason = statusReason(status);
        response.status = status;
        response.set_content(json{{"error", reason}}.dump(), jsonType);
        log(status >= 500 ? Level::Warning : Level::Info,
            "refused " + request.method + " " + request.path + " from " + who(request) + ": " +
                std::to_string(status) + " " + reason);
    }

    void answer(Response& response, const json& body, int status = 200) {
        response.status = status;
        response.set_content(body.dump(), jsonType);
    }

    fleet::ProjectorQueue* projector(const Request& request, Response& response,
                                     const std::string& name) {
        fleet::ProjectorQueue* queue = fleet_.find(name);
        if (!queue) fail(request, response, 404, "no projector \"" + name + "\"");
        return queue;
    }

    json groupsJson() const {
        json groups = json::array();
        for (const std::string& group : fleet_.groups()) {
            json members = json::array();
            for (const fleet::ProjectorQueue* queue : fleet_.group(group)) {
                members.push_back(queue->entry().name);
            }
            groups.push_back({{"name", group}, {"projectors", members}});
        }
        return groups;
    }

    void listProjectors(const Request&, Response& response, const std::smatch&) {
        // Built as text: the projectors' texts are ready, the rest never changes.
        std::string body = "{\"projectors\":" + texts_.list() + ",\"groups\":" + groupsText_ +
                           ",\"lamp_warning_hours\":" +
                           std::to_string(options_.lampWarningHours) + "}";
        response.status = 200;
        response.set_content(std::move(body), jsonType);
    }

    void oneProjector(const Request& request, Response& response, const std::smatch& match) {
        if (fleet::ProjectorQueue* queue = projector(request, response, match[1])) {
            response.status = 200;
            response.set_content(texts_.text(*queue), jsonType);
        }
    }

    void listGroups(const Request&, Response& response, const std::smatch&) {
        answer(response, {{"groups", groupsJson()}});
    }

    bool refuseWhileStopping(const Request& request, Response& response) {
        if (stopping_) fail(request, response, 503, {});
        return stopping_;
    }

    static fleet::CommandResult read(fleet::ProjectorQueue& queue, const zv_setting* setting) {
        return queue.run({fleet::Operation::Get, setting, 0}).get();
    }

    static std::string reasonOf(const fleet::CommandResult& result) {
        return result.reason.empty() ? fleet::resultReason(result.result) : result.reason;
    }

    static json readJson(const zv_setting* setting, std::uint16_t value) {
        json shown = {{"value", value}};
        if (const char* name = zv_value_name(setting, value)) shown["name"] = name;
        return shown;
    }

    void readSettings(const Request& request, Response& response, const std::smatch& match) {
        fleet::ProjectorQueue* queue = projector(request, response, match[1]);
        if (!queue || refuseWhileStopping(request, response)) return;
        json settings = json::object();
        for (std::size_t i = 0; i < zv_catalogue_size(); ++i) {
            const zv_setting* setting = zv_catalogue_entry(i);
            if ((setting->operations & ZV_OP_GET) == 0) continue;
            const fleet::CommandResult result = read(*queue, setting);
            if (result.ok() && result.value) {
                settings[setting->name] = readJson(setting, *result.value);
            } else if (result.result == ZV_RESULT_BAD_REPLY) {
                settings[setting->name] = {{"error", reasonOf(result)}};
            } else {
                // Not answering: asking the other sixty settings would only wait as long again.
                return fail(request, response, 502,
                            queue->entry().name + " did not answer: " + reasonOf(result));
            }
        }
        answer(response, {{"settings", settings}});
    }

    void readSetting(const Request& request, Response& response, const std::smatch& match) {
        fleet::ProjectorQueue* queue = projector(request, response, match[1]);
        if (!queue) return;
        RequestFault fault;
        const zv_setting* setting = findSetting(match[2].str(), &fault);
        if (!setting) return fail(request, response, fault.status, fault.reason);
        if ((setting->operations & ZV_OP_GET) == 0) {
            return fail(request, response, 422, std::string(setting->name) + " cannot be read");
        }
        if (refuseWhileStopping(request, response)) return;
        const fleet::CommandResult result = read(*queue, setting);
        if (!result.ok() || !result.value) {
            return fail(
                request, response, 502,
                queue->entry().name + " did not read " + setting->name + ": " + reasonOf(result));
        }
        json shown = readJson(setting, *result.value);
        shown["setting"] = setting->name;
        answer(response, shown);
    }

    void writeSetting(const Request& request, Response& response, const std::smatch& match) {
        fleet::ProjectorQueue* queue = projector(request, response, match[1]);
        if (!queue) return;
        run(request, response, {queue}, setFromBody(match[2].str(), request.body), {});
    }

    void projectorCommand(const Request& request, Response& response, const std::smatch& match) {
        fleet::ProjectorQueue* queue = projector(request, response, match[1]);
        if (!queue) return;
        run(request, response, {queue}, commandFromBody(request.body), {});
    }

    void groupCommand(const Request& request, Response& response, const std::smatch& match) {
        const std::string group = match[1];
        const std::vector<fleet::ProjectorQueue*> targets = fleet_.group(group);
        if (targets.empty() && group != "all") {  // "all" of a site with none yet is empty
            return fail(request, response, 404, "no group \"" + group + "\"");
        }
        run(request, response, targets, commandFromBody(request.body), group);
    }

    // Runs a checked command on its targets (a group's, when group is not empty): nothing is
    // queued unless the whole request is valid.
    void run(const Request& request, Response& response,
             const std::vector<fleet::ProjectorQueue*>& targets, const CheckedCommand& checked,
             const std::string& group) {
        if (!checked.command) {
            return fail(request, response, checked.fault.status, checked.fault.reason);
        }
        if (refuseWhileStopping(request, response)) return;
        const fleet::Command& command = *checked.command;
        const std::vector<fleet::Fleet::Outcome> outcomes = fleet_.runAll(targets, command);
        json results = json::array();
        bool ok = true;
        std::string summary;
        for (const fleet::Fleet::Outcome& outcome : outcomes) {
            ok = ok && outcome.result.ok();
            results.push_back(outcomeJson(outcome, command));
            summary += (summary.empty() ? "" : ", ") + outcome.projector + " " +
                       (outcome.result.ok() ? "ok" : reasonOf(outcome.result));
        }
        log(Level::Info, "command from " + who(request) + ": " + describeCommand(command) + " to " +
                             (group.empty() ? targets.front()->entry().name : "group " + group) +
                             ": " + summary);
        answer(response, {{"ok", ok}, {"results", results}}, ok || !group.empty() ? 200 : 502);
    }

    void metrics(const Request&, Response& response, const std::smatch&) {
        response.set_content(metricsText(fleet_), "text/plain; version=0.0.4; charset=utf-8");
    }

    // The event stream: a snapshot of every projector, then each change, with a comment line
    // when nothing happened for a while.
    struct Stream {
        std::uint64_t after = 0;
        bool snapshot = true;
    };

    void events(const Request& request, Response& response, const std::smatch&) {
        if (!hub_.open()) {
            return fail(request, response, 503,
                        hub_.stopped() ? "the service is stopping" : "too many event streams");
        }
        auto stream = std::make_shared<Stream>();
        response.set_header("Cache-Control", "no-cache");
        response.set_header("X-Accel-Buffering", "no");
        response.set_chunked_content_provider(
            "text/event-stream",
            [this, stream](std::size_t, httplib::DataSink& sink) {
                if (stream->snapshot) return sendSnapshot(*stream, sink);
                const EventHub::Taken taken = hub_.take(stream->after, options_.keepAlive);
                if (taken.stopped) {
                    sink.done();
                    return true;
                }
                if (taken.missed) {
                    stream->snapshot = true;  // fell behind: the whole state again
                    return true;
                }
                if (taken.events.empty()) return sink.write(": keep-alive\n\n", 14);
                for (const std::string& block : taken.events) {
                    if (!sink.write(block.data(), block.size())) return false;
                }
                return true;
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
    const std::string groupsText_ = groupsJson().dump();
    httplib::Server server_;
    std::vector<Route> routes_;
    std::atomic<bool> stopping_{false};
    std::uint64_t watcher_ = 0;
    socket_t listening_ = -1;
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

}  // namespace zolvane::service
