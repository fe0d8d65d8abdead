#include "http/api_front_end.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "alert/alerts.h"
#include "http/tls.h"
#include "http_api.h"
#include "log.h"
#include "token.h"

namespace zolvane::service::http {
namespace {

bool isLoopback(const std::string& host) {
    return host.starts_with("127.") || host == "::1" || host == "localhost";
}

class Api final : public FrontEnd {
public:
    explicit Api(const FrontEndContext& context)
        : fleet_(context.fleet),
          settings_(context.settings),
          listen_(context.listen),
          history_(context.history),
          schedules_(context.schedules),
          alerts_(context.alerts),
          zone_(context.zone) {}

    std::string_view name() const override { return "http"; }

    bool start(std::string* why) override {
        ApiOptions api;
        api.maxBodyBytes = settings_.maxBodyBytes;
        api.lampWarningHours = settings_.lampWarningHours;
        api.history = &history_;
        api.schedules = &schedules_;
        api.alerts = &alerts_;
        api.zone = zone_;
        if (!settings_.tokenFile.empty()) {
            api.token = readToken(settings_.tokenFile, why);
            if (!api.token) {
                *why = "the token file " + *why;
                return false;
            }
        }
        tokenNeeded_ = api.token.has_value();
        if (!settings_.tlsCertificate.empty()) {
            api.tls = loadTls(settings_.tlsCertificate, settings_.tlsKey, why);
            if (!api.tls) return false;
        } else if (!isLoopback(listen_.host) && !settings_.allowPlainHttp) {
            *why = "plain HTTP on " + listen_.host +
                   " would carry tokens in clear text beyond this machine: give [service] "
                   "tls_certificate and tls_key, or allow_plain_http = true";
            return false;
        }
        tls_ = api.tls != nullptr;
        http_.emplace(fleet_, std::move(api));
        port_ = http_->bind(listen_.host, listen_.port, why);
        return port_.has_value();
    }

    void serve() override {
        const std::string& host = listen_.host;
        const std::string shownHost = host.find(':') == std::string::npos ? host : "[" + host + "]";
        const bool loopback = isLoopback(host);
        if (!tokenNeeded_) {
            log(loopback ? Level::Info : Level::Warning,
                "write calls need no token: anyone who reaches " + host +
                    " may command the projectors");
        }
        if (tls_) log(Level::Info, "HTTPS with the certificate " + settings_.tlsCertificate);
        log(Level::Info, "listening on " + shownHost + ":" + std::to_string(*port_));
        server_ = std::thread([this] {
            http_->serve();
            served_ = true;
        });
    }

    // The fleet stops before the server is waited for: a request waiting on a queue (a
    // power-on waiting out a cool-down) is then answered at once instead of holding up the stop.
    void closing() override {
        if (http_) http_->stop();
    }

    void stop() override {
        if (!server_.joinable()) return;
        // A stop that came before the server was listening is not seen by it: ask until it ends.
        while (!served_) {
            http_->stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        server_.join();
    }

    bool alive() const override { return !http_ || http_->alive(); }

private:
    fleet::Fleet& fleet_;
    const Settings& settings_;
    const ListenAddress listen_;
    history::Store& history_;
    schedule::Scheduler& schedules_;
    alert::Alerts& alerts_;
    const date::time_zone* zone_;
    bool tokenNeeded_ = false;
    bool tls_ = false;
    std::optional<HttpApi> http_;
    std::optional<std::uint16_t> port_;
    std::atomic<bool> served_{false};
    std::thread server_;
};

class Part final : public FrontEndPart {
public:
    std::unique_ptr<FrontEnd> make(const FrontEndContext& context) const override {
        return std::make_unique<Api>(context);
    }

    void reload(FrontEnd&, const FrontEndContext&, const fleet::Changes&) const override {}
};

}  // namespace

std::unique_ptr<FrontEndPart> frontEnd(const service::Settings&) {
    return std::make_unique<Part>();
}

}  // namespace zolvane::service::http
