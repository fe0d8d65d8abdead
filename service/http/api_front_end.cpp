#include "http/api_front_end.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "alert/alerts.h"
#include "auth/access.h"
#include "http/tls.h"
#include "http_api.h"
#include "log.h"

namespace zolvane::service::http {
namespace {

bool isLoopback(const std::string& host) {
    return host.starts_with("127.") || host == "::1" || host == "localhost";
}

// The tokens of a reading: its [[token]] tables, and [service] token_file's as the admin's.
// Null with the reason when the token file cannot be read.
std::shared_ptr<const auth::Access> accessOf(const FrontEndContext& context, std::string* why) {
    std::vector<auth::Token> tokens = context.tokens.tokens;
    if (!context.settings.tokenFile.empty()) {
        const std::optional<std::string> token = auth::readToken(context.settings.tokenFile, why);
        if (!token) {
            *why = "the token file " + *why;
            return nullptr;
        }
        auth::Token admin;
        admin.name = auth::kServiceTokenName;
        admin.sha256 = auth::sha256Of(*token);
        admin.role = auth::Role::Admin;
        tokens.push_back(std::move(admin));
    }
    return std::make_shared<const auth::Access>(std::move(tokens),
                                                context.settings.readRequiresToken);
}

class Api final : public FrontEnd {
public:
    explicit Api(const FrontEndContext& context)
        : accessFault_(),
          access_(accessOf(context, &accessFault_)),
          fleet_(context.fleet),
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
        if (!access_) {
            *why = accessFault_;
            return false;
        }
        api.access = access_;
        tokenNeeded_ = access_->anyToken();
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

    // What a reload changes: the tokens, the TLS set-up, the lamp warning and the time zone.
    // What cannot be taken (a token file gone) is logged and the running one kept.
    void reload(const FrontEndContext& next, const fleet::Changes& changes) {
        if (!http_) return;
        ApiReload reload;
        std::string why;
        reload.access = accessOf(next, &why);
        if (!reload.access) log(Level::Error, "reload: " + why + "; the tokens stay as they were");
        reload.lampWarningHours = next.settings.lampWarningHours;
        reload.zone = next.zone;
        reload.changes = changes;
        if (!next.settings.tlsCertificate.empty()) {
            if (auto tls = loadTls(next.settings.tlsCertificate, next.settings.tlsKey, &why)) {
                http_->setTls(std::move(tls));
                tls_ = true;
            } else {
                log(Level::Error, "reload: " + why + "; the TLS set-up stays as it was");
            }
        } else if (tls_ && (isLoopback(listen_.host) || next.settings.allowPlainHttp)) {
            http_->setTls(nullptr);
            tls_ = false;
            log(Level::Warning, "reload: without tls_certificate, new connections are plain HTTP");
        } else if (tls_) {
            log(Level::Error,
                "reload: without tls_certificate the API would be plain HTTP beyond "
                "loopback; HTTPS goes on (allow_plain_http = true permits plain)");
        }
        http_->reload(reload);
        settings_ = next.settings;
    }

private:
    std::string accessFault_;                     // before access_, which is made with it
    std::shared_ptr<const auth::Access> access_;  // the tokens it starts with; null: a fault
    fleet::Fleet& fleet_;
    Settings settings_;
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

    void reload(FrontEnd& running, const FrontEndContext& next,
                const fleet::Changes& changes) const override {
        static_cast<Api&>(running).reload(next, changes);
    }
};

}  // namespace

std::unique_ptr<FrontEndPart> frontEnd(const service::Settings&) {
    return std::make_unique<Part>();
}

}  // namespace zolvane::service::http
