// The HTTP API over the fleet: the projectors and their state, their settings, commands to one
// projector, a group or all, the event stream of state changes, the metrics and the web page.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "zolvane_fleet/fleet.h"

namespace date {
class time_zone;
}

namespace zolvane::service {

namespace http {
class TlsServer;
}
namespace auth {
class Access;
}
namespace history {
class Store;
}
namespace schedule {
class Scheduler;
}
namespace alert {
class Alerts;
}

struct ApiOptions {
    std::shared_ptr<const auth::Access> access;  // the tokens; null: every call open
    std::size_t maxBodyBytes = 65536;
    unsigned lampWarningHours = 3000;
    std::size_t maxStreams = 32;           // open event streams; more are answered 503
    std::size_t clients = 56;              // threads for requests beside the streams
    std::chrono::seconds ioTimeout{5};     // each write to a slow client; an idle connection
    std::chrono::seconds requestTime{10};  // a whole request, first byte to last
    std::size_t headBytes = 16384;         // request line and headers; more is 431
    std::size_t headLines = 100;
    std::size_t perPeer = 128;                   // connections of one address waiting in the gate
    std::size_t projectorWaits = 24;             // requests waiting on projectors, in all
    std::size_t waitsPerProjector = 4;           // ... and on any one projector
    std::chrono::milliseconds keepAlive{15000};  // comment line on an idle event stream
    history::Store* history = nullptr;           // null: the history's calls answer 503
    schedule::Scheduler* schedules = nullptr;    // null: no schedules
    alert::Alerts* alerts = nullptr;             // null: no alerts
    const date::time_zone* zone = nullptr;       // of dates in queries; null: UTC
    std::shared_ptr<const http::TlsServer> tls;  // null: plain HTTP
};

// What a reload of the inventory changes in a running API.
struct ApiReload {
    std::shared_ptr<const auth::Access> access;  // null: as before
    unsigned lampWarningHours = 3000;
    const date::time_zone* zone = nullptr;
    fleet::Changes changes;  // what the fleet's reconcile() did
};

class HttpApi {
public:
    // Subscribes to the fleet at once; the fleet must outlive the API.
    HttpApi(fleet::Fleet& fleet, ApiOptions options);
    ~HttpApi();
    HttpApi(const HttpApi&) = delete;
    HttpApi& operator=(const HttpApi&) = delete;

    // Binds the listening socket; port 0 takes any free port. The port bound, or empty with the
    // reason in *why.
    std::optional<std::uint16_t> bind(const std::string& host, std::uint16_t port,
                                      std::string* why);
    // Serves until stop(); on the calling thread.
    void serve();
    // From any thread: refuses new commands, ends every event stream, closes every connection
    // not being answered at once. serve() returns once the requests being answered are done.
    void stop();

    // From any thread: requests from now on are answered with these tokens and settings; the
    // event streams are told of the projectors removed.
    void reload(const ApiReload& reload);
    // From any thread: connections from now on use this TLS set-up.
    void setTls(std::shared_ptr<const http::TlsServer> tls);
    // Whether the server's thread still turns.
    bool alive() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zolvane::service
