// The driver for projectors of other makes: PJLink lines over one TCP connection, kept while the
// projector keeps it, every wait through the event loop.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "driver.h"
#include "pjlink_lines.h"
#include "zolvane.h"
#include "zolvane_fleet/pjlink_address.h"
#include "zolvane_fleet/pjlink_hash.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::fleet {
namespace {

using namespace std::chrono_literals;
using Clock = EventLoop::Clock;
using pjlink::Answer;

// PJLink projectors close a connection idle for 30 s; one idle this long is not trusted.
constexpr auto kReuseWithin = 20s;
constexpr auto kLookupKept = 30s;
constexpr auto kLookupFailureKept = 5s;
// Inputs taken from one INST answer (a line of 136 bytes holds fewer).
constexpr std::size_t kMaxInputs = 64;

std::string milliseconds(Milliseconds time) { return std::to_string(time.count()) + " ms"; }

bool errorAnswer(zv_result result) {
    return result == kUnsupported || result == ZV_RESULT_BAD_REPLY || result == kUnavailable ||
           result == kProjectorFailure;
}

struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
};

std::optional<Endpoint> literal(const std::string& host, std::uint16_t port) {
    Endpoint endpoint;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&endpoint.address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&endpoint.address);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        endpoint.length = sizeof(sockaddr_in);
        return endpoint;
    }
    if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        endpoint.length = sizeof(sockaddr_in6);
        return endpoint;
    }
    return std::nullopt;
}

// What a row of the watched values lacks on a projector of this class (0: not known yet).
std::uint32_t lackingFor(int projectorClass) {
    std::uint32_t lacking = 0;
    for (const WatchedValue& row : watchedValues()) {
        if (row.pjlink.command == nullptr ||
            (projectorClass > 0 && row.pjlink.projectorClass > projectorClass)) {
            lacking |= lackingBit(row);
        }
    }
    return lacking;
}

class PjlinkDriver final : public Driver {
public:
    PjlinkDriver(const ProjectorEntry& entry, EventLoop& loop)
        : loop_(loop), timing_(entry.timing), passwordFile_(entry.passwordFile) {
        std::string why;
        auto address = parsePjlinkAddress(entry.address, &why);
        if (!address) throw std::invalid_argument("address " + entry.address + ": " + why);
        address_ = std::move(*address);
        if (timing_.connectTimeout <= 0ms || timing_.sendTimeout <= 0ms ||
            timing_.receiveTimeout <= 0ms || timing_.gap < 0ms) {
            throw std::invalid_argument("the time-outs of a PJLink projector must be positive");
        }
        literal_ = literal(address_.host, address_.port);
        abilities_.protocol = "pjlink";
        abilities_.lacking = lackingFor(0);
    }

    ~PjlinkDriver() override {
        *alive_ = false;
        closeSocket();
    }

    void exchange(const LinkAction& action, Done done) override {
        const pjlink::Row* row = pjlink::rowFor(action.type);
        const bool get = action.action == kActionGet;
        const auto refuse = [&](zv_result result, std::string words) {
            setReason(result, std::move(words));
            loop_.post([done = std::move(done), result] { done(result, 0); });
        };
        if (row == nullptr || (!get && action.action != kActionSet)) {
            return refuse(kUnsupported, "PJLink has no such command");
        }
        if (row->projectorClass > projectorClass()) {
            return refuse(kUnsupported, std::string("PJLink ") + row->body +
                                            " is a class 2 command; the projector is class 1");
        }
        std::string parameter = "?";
        if (!get) {
            auto set = pjlink::setParameter(*row, action.value);
            if (!set) {
                if (row->mapping == pjlink::Mapping::Lamp ||
                    row->mapping == pjlink::Mapping::Filter ||
                    row->mapping == pjlink::Mapping::Errors) {
                    return refuse(kUnsupported,
                                  std::string("PJLink ") + row->body + " cannot be set");
                }
                return refuse(ZV_RESULT_BAD_ARGUMENT,
                              std::to_string(action.value) + " is no value of PJLink " + row->body);
            }
            parameter = std::move(*set);
        }
        // Inputs numbered with a letter are class 2's.
        const int projectorClass =
            row->mapping == pjlink::Mapping::Input && parameter.size() == 2 && parameter[1] >= 'A'
                ? 2
                : row->projectorClass;
        if (projectorClass > this->projectorClass()) {
            return refuse(kUnsupported, "PJLink input " + parameter +
                                            " is a class 2 one; the projector is class 1");
        }
        request(projectorClass, row->body, parameter,
                [this, row, get, done = std::move(done)](zv_result result, const Answer& answer) {
                    std::optional<std::uint16_t> value;
                    if (result == ZV_RESULT_OK) {
                        value = get ? pjlink::getValue(*row, answer.value)
                                    : (answer.value == "OK" || answer.value == "ok"
                                           ? std::optional<std::uint16_t>(0)
                                           : std::nullopt);
                        if (!value) {
                            result = kBadAnswer;
                            setReason(result, std::string("not a PJLink answer to ") + row->body +
                                                  ": " + pjlink::quoted(answer.value));
                        }
                    } else if (result == kUnsupported && get) {
                        if (const WatchedValue* watched = watchedByType(row->type)) {
                            const std::lock_guard lock(mutex_);
                            learnedLacking_ |= lackingBit(*watched);
                            abilities_.lacking |= lackingBit(*watched);
                        }
                    }
                    done(result, get && value ? *value : 0);
                });
    }

    void survey(std::function<void()> done) override {
        auto survey = std::make_shared<Survey>();
        survey->done = std::move(done);
        survey->asks.push_back({1, "CLSS", "?", [](Survey& s, const std::string& value) {
                                    if (value.size() == 1 && value[0] >= '1' && value[0] <= '9') {
                                        s.projectorClass = value[0] - '0';
                                    }
                                }});
        survey->asks.push_back({1, "NAME", "?", about("name")});
        survey->asks.push_back({1, "INF1", "?", about("maker")});
        survey->asks.push_back({1, "INF2", "?", about("product")});
        survey->asks.push_back({1, "INFO", "?", about("info")});
        survey->asks.push_back(
            {1, "INST", "?", [](Survey& s, const std::string& value) { takeInputs(s, value); }});
        runSurvey(survey);
    }

    Abilities abilities() const override {
        const std::lock_guard lock(mutex_);
        return abilities_;
    }

    std::string reason(zv_result result) const override {
        const std::lock_guard lock(mutex_);
        return result == lastResult_ ? lastReason_ : std::string();
    }

private:
    // One command line's end: its result and, when it was answered, the answer.
    using Answered = std::function<void(zv_result, const Answer&)>;

    struct Survey;
    struct Ask {
        int projectorClass;
        std::string body;
        std::string parameter;
        std::function<void(Survey&, const std::string&)> take;
    };
    struct Survey {
        std::function<void()> done;
        std::vector<Ask> asks;
        std::size_t next = 0;
        int projectorClass = 1;
        std::vector<std::pair<std::string, std::string>> about;
        std::vector<std::string> codes;  // of the inputs, in the projector's order
        std::vector<std::string> names;  // from INNM, beside codes; empty: none given
    };

    static std::function<void(Survey&, const std::string&)> about(const char* key) {
        return [key](Survey& s, const std::string& value) {
            std::string text = pjlink::sanitised(value);
            if (!text.empty()) s.about.emplace_back(key, std::move(text));
        };
    }

    static void takeInputs(Survey& s, std::string_view value) {
        while (!value.empty() && s.codes.size() < kMaxInputs) {
            const std::string_view code = value.substr(0, value.find(' '));
            value.remove_prefix(std::min(value.size(), code.size() + 1));
            if (pjlink::inputValue(code)) s.codes.emplace_back(code);
        }
        s.names.assign(s.codes.size(), {});
        if (s.projectorClass < 2) return;
        for (std::size_t i = 0; i < s.codes.size(); ++i) {
            s.asks.push_back(
                {2, "INNM", "?" + s.codes[i], [i](Survey& found, const std::string& v) {
                     found.names[i] = pjlink::sanitised(v);
                 }});
        }
    }

    void runSurvey(const std::shared_ptr<Survey>& survey) {
        if (survey->next == survey->asks.size()) return endSurvey(*survey);
        const Ask& ask = survey->asks[survey->next];
        request(ask.projectorClass, ask.body, ask.parameter,
                [this, survey](zv_result result, const Answer& answer) {
                    // take may add asks: a copy, not a reference into the vector.
                    const auto take = survey->asks[survey->next++].take;
                    if (result == ZV_RESULT_OK) {
                        take(*survey, answer.value);
                    } else if (!errorAnswer(result)) {
                        return survey->done();  // the projector is not reached: nothing learned
                    }
                    if (survey->next == 1) classKnown(*survey);
                    runSurvey(survey);
                });
    }

    // Once the class is known: what the rest of the survey asks.
    static void classKnown(Survey& s) {
        if (s.projectorClass < 2) return;
        s.asks[5].projectorClass = 2;  // INST: the class 2 one names letters too
        for (const auto& [body, key] :
             {std::pair{"SNUM", "serial"}, std::pair{"SVER", "software"},
              std::pair{"RLMP", "lamp_model"}, std::pair{"RFIL", "filter_model"}}) {
            s.asks.push_back({2, body, "?", about(key)});
        }
    }

    void endSurvey(Survey& s) {
        Abilities found;
        found.protocol = "pjlink";
        found.about.emplace_back("class", std::to_string(s.projectorClass));
        // In the order the about list is read: class, name, maker, product, info, then class 2's.
        found.about.insert(found.about.end(), s.about.begin(), s.about.end());
        for (std::size_t i = 0; i < s.codes.size(); ++i) {
            const std::string& name = s.names[i];
            found.inputs.push_back({*pjlink::inputValue(s.codes[i]),
                                    name.empty() ? pjlink::defaultInputName(s.codes[i]) : name});
        }
        {
            const std::lock_guard lock(mutex_);
            projectorClass_ = s.projectorClass;
            found.lacking = lackingFor(s.projectorClass) | learnedLacking_;
            abilities_ = std::move(found);
        }
        s.done();
    }

    int projectorClass() const {
        const std::lock_guard lock(mutex_);
        return projectorClass_ == 0 ? 9 : projectorClass_;
    }

    void setReason(zv_result result, std::string words) {
        const std::lock_guard lock(mutex_);
        lastResult_ = result;
        lastReason_ = std::move(words);
    }

    // One command line, sent once the gap has passed, on the kept connection or a new one.
    // Always ends with answered, never before this returns.
    void request(int projectorClass, std::string body, std::string parameter, Answered answered) {
        current_ =
            Request{projectorClass, std::move(body), std::move(parameter), std::move(answered)};
        loop_.post([this] {
            const auto due = lastEnd_ + timing_.gap;
            if (timing_.gap > 0ms && Clock::now() < due) {
                timer_ = loop_.at(due, [this] {
                    timer_ = 0;
                    begin();
                });
            } else {
                begin();
            }
        });
    }

    void begin() {
        if (fd_ >= 0 && stillOpen()) {
            reused_ = true;
            return writeLine();
        }
        closeSocket();
        reused_ = false;
        connect();
    }

    // Whether the kept connection may carry the next command: used lately, and neither closed
    // nor holding bytes nobody asked for (a lone LF after the last CR is let through).
    bool stillOpen() {
        if (Clock::now() - lastUsed_ >= kReuseWithin) return false;
        char peek[16];
        const ssize_t n = ::recv(fd_, peek, sizeof peek, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        if (n == 0 || std::any_of(peek, peek + n, [](char c) { return c != '\n'; })) return false;
        [[maybe_unused]] const ssize_t drained = ::recv(fd_, peek, static_cast<std::size_t>(n), 0);
        return true;
    }

    void connect() {
        if (literal_) return connectTo(*literal_);
        const auto now = Clock::now();
        if (now < lookupUntil_) {
            if (looked_) return connectTo(*looked_);
            return fail(ZV_RESULT_HOST_NOT_FOUND, lookupWhy_);
        }
        EventLoop* loop = &loop_;
        loop_.blocking([this, loop, alive = alive_, host = address_.host, port = address_.port] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const std::string service = std::to_string(port);
            const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
            std::optional<Endpoint> endpoint;
            std::string why;
            if (status == 0 && found != nullptr && found->ai_addrlen <= sizeof(sockaddr_storage)) {
                endpoint.emplace();
                std::memcpy(&endpoint->address, found->ai_addr, found->ai_addrlen);
                endpoint->length = found->ai_addrlen;
            } else {
                why = "host name " + host +
                      " not found: " + (status != 0 ? ::gai_strerror(status) : "no address");
            }
            if (found != nullptr) ::freeaddrinfo(found);
            loop->post([this, alive, endpoint, why] {
                if (!*alive) return;
                looked_ = endpoint;
                lookupWhy_ = why;
                lookupUntil_ = Clock::now() + (endpoint ? kLookupKept : kLookupFailureKept);
                if (endpoint) return connectTo(*endpoint);
                fail(ZV_RESULT_HOST_NOT_FOUND, why);
            });
        });
    }

    std::string where() const {
        return address_.host.find(':') != std::string::npos
                   ? "[" + address_.host + "]:" + std::to_string(address_.port)
                   : address_.host + ":" + std::to_string(address_.port);
    }

    void connectTo(const Endpoint& endpoint) {
        const int family = endpoint.address.ss_family;
        fd_ = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            return fail(ZV_RESULT_SOCKET_FAILED,
                        std::string("cannot open a socket: ") + std::strerror(errno));
        }
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length) ==
            0) {
            return connected();
        }
        if (errno != EINPROGRESS) return connectFailed(errno);
        waitFor(
            ZV_WAIT_WRITE, Clock::now() + timing_.connectTimeout,
            [this] {
                int error = 0;
                socklen_t length = sizeof error;
                if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
                if (error != 0) return connectFailed(error);
                connected();
            },
            [this] {
                fail(ZV_RESULT_CONNECT_FAILED, "no connection to " + where() + " within " +
                                                   milliseconds(timing_.connectTimeout));
            });
    }

    void connectFailed(int error) {
        fail(ZV_RESULT_CONNECT_FAILED,
             "cannot connect to " + where() + ": " + std::strerror(error));
    }

    void connected() {
        buffer_.clear();
        deadline_ = Clock::now() + timing_.receiveTimeout;
        readGreeting();
    }

    enum class Drained { Open, Closed, Failed };

    // Reads what has arrived, never more than a line can hold.
    Drained drain() {
        char chunk[256];
        while (buffer_.size() <= pjlink::kMaxLine + 1) {
            const std::size_t room = std::min(sizeof chunk, pjlink::kMaxLine + 2 - buffer_.size());
            const ssize_t n = ::recv(fd_, chunk, room, MSG_DONTWAIT);
            if (n > 0) {
                buffer_.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0) return Drained::Closed;
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return Drained::Open;
            receiveError_ = errno;
            return Drained::Failed;
        }
        return Drained::Open;
    }

    // The first line of the buffer, taken out with its CR and one LF after it; empty when no
    // CR has come yet.
    std::optional<std::string> takeLine() {
        const std::size_t cr = buffer_.find('\r');
        if (cr == std::string::npos) return std::nullopt;
        std::string line = buffer_.substr(0, cr);
        buffer_.erase(0, cr + 1);
        if (!buffer_.empty() && buffer_.front() == '\n') buffer_.erase(0, 1);
        return line;
    }

    void readGreeting() {
        const Drained drained = drain();
        const auto line = takeLine();
        if (!line) {
            if (!pjlink::greetingMayFollow(buffer_)) {
                return fail(kBadAnswer, "not a PJLink greeting: " + pjlink::quoted(buffer_));
            }
            if (drained != Drained::Open) {
                return fail(ZV_RESULT_RECEIVE_FAILED,
                            "the projector closed the connection before its greeting");
            }
            return waitFor(
                ZV_WAIT_READ, deadline_, [this] { readGreeting(); },
                [this] {
                    fail(ZV_RESULT_NETWORK_TIMEOUT,
                         "no PJLink greeting within " + milliseconds(timing_.receiveTimeout));
                });
        }
        const pjlink::Greeting greeting = pjlink::parseGreeting(*line);
        switch (greeting.kind) {
            case pjlink::Greeting::Kind::Open:
                hash_.clear();
                break;
            case pjlink::Greeting::Kind::Challenge: {
                if (passwordFile_.empty()) {
                    return fail(kAuthFailed,
                                "the projector asks for a password and the inventory gives no "
                                "password_file");
                }
                std::string why;
                const auto password = readPjlinkPassword(passwordFile_, &why);
                if (!password)
                    return fail(kAuthFailed, "password file " + passwordFile_ + ": " + why);
                hash_ = pjlinkHash(greeting.random, *password);
                break;
            }
            case pjlink::Greeting::Kind::Refused:
                return fail(kAuthFailed, "the projector refused the connection (PJLINK ERRA)");
            case pjlink::Greeting::Kind::Bad:
                return fail(kBadAnswer, "not a PJLink greeting: " + pjlink::quoted(*line));
        }
        writeLine();
    }

    void writeLine() {
        out_ =
            hash_ + pjlink::commandLine(current_.projectorClass, current_.body, current_.parameter);
        hash_.clear();
        sent_ = 0;
        buffer_.clear();
        deadline_ = Clock::now() + timing_.sendTimeout;
        writeMore();
    }

    void writeMore() {
        while (sent_ < out_.size()) {
            const ssize_t n = ::send(fd_, out_.data() + sent_, out_.size() - sent_, MSG_NOSIGNAL);
            if (n > 0) {
                sent_ += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return waitFor(
                    ZV_WAIT_WRITE, deadline_, [this] { writeMore(); },
                    [this] {
                        fail(ZV_RESULT_SEND_FAILED,
                             "could not send within " + milliseconds(timing_.sendTimeout));
                    });
            }
            if (retryable()) return retry();
            return fail(ZV_RESULT_SEND_FAILED, std::string("cannot send: ") + std::strerror(errno));
        }
        deadline_ = Clock::now() + timing_.receiveTimeout;
        readAnswer();
    }

    // A kept connection that failed before the projector said anything: it had closed it
    // meanwhile. PJLink commands may be sent twice, so once more on a new one.
    bool retryable() const { return reused_ && !current_.retried && buffer_.empty(); }
    void retry() {
        closeSocket();
        current_.retried = true;
        reused_ = false;
        connect();
    }

    void readAnswer() {
        const Drained drained = drain();
        while (!buffer_.empty() && buffer_.front() == '\n') buffer_.erase(0, 1);
        const auto line = takeLine();
        if (!line) {
            if (!pjlink::answerMayFollow(buffer_, current_.projectorClass, current_.body)) {
                return fail(kBadAnswer, buffer_.size() > pjlink::kMaxLine
                                            ? "not a PJLink answer: a line over " +
                                                  std::to_string(pjlink::kMaxLine) +
                                                  " bytes without CR: " + pjlink::quoted(buffer_)
                                            : "not a PJLink answer: " + pjlink::quoted(buffer_));
            }
            if (drained != Drained::Open) {
                if (retryable()) return retry();
                return fail(ZV_RESULT_RECEIVE_FAILED,
                            drained == Drained::Closed
                                ? "the projector closed the connection before answering"
                                : std::string("cannot receive: ") + std::strerror(receiveError_));
            }
            return waitFor(
                ZV_WAIT_READ, deadline_, [this] { readAnswer(); },
                [this] {
                    fail(ZV_RESULT_NETWORK_TIMEOUT,
                         "no answer within " + milliseconds(timing_.receiveTimeout));
                });
        }
        const Answer answer = pjlink::parseAnswer(*line, current_.projectorClass, current_.body);
        if (answer.kind == Answer::Kind::Bad) {
            return fail(kBadAnswer, "not a PJLink answer: " + pjlink::quoted(*line));
        }
        if (answer.kind == Answer::Kind::ErrA) {
            return fail(kAuthFailed, pjlink::errorWords(answer.kind));
        }
        // Bytes beyond the answer were never asked for: the next command starts afresh.
        if (!buffer_.empty() || drained != Drained::Open) closeSocket();
        lastUsed_ = lastEnd_ = Clock::now();
        const zv_result result = pjlink::resultOf(answer.kind);
        if (result != ZV_RESULT_OK) setReason(result, pjlink::errorWords(answer.kind));
        finish(result, answer);
    }

    void fail(zv_result result, std::string words) {
        closeSocket();
        lastEnd_ = Clock::now();
        setReason(result, std::move(words));
        finish(result, Answer{});
    }

    void finish(zv_result result, const Answer& answer) {
        Answered answered = std::move(current_.answered);
        current_ = Request{};
        answered(result, answer);
    }

    // One wait of the socket: ready when it is, expired once the deadline passes.
    void waitFor(std::int32_t events, Clock::time_point deadline, std::function<void()> ready,
                 std::function<void()> expired) {
        const int fd = fd_;
        const bool watched = loop_.watch(fd, events, [this, fd, ready = std::move(ready)] {
            loop_.unwatch(fd);
            watching_ = false;
            if (timer_ != 0) loop_.cancel(timer_);
            timer_ = 0;
            ready();
        });
        if (!watched) {
            return fail(ZV_RESULT_SOCKET_FAILED, "the event loop cannot watch the socket");
        }
        watching_ = true;
        timer_ = loop_.at(deadline, [this, fd, expired = std::move(expired)] {
            timer_ = 0;
            loop_.unwatch(fd);
            watching_ = false;
            expired();
        });
    }

    void closeSocket() {
        if (timer_ != 0) loop_.cancel(timer_);
        timer_ = 0;
        if (fd_ < 0) return;
        if (watching_) loop_.unwatch(fd_);
        watching_ = false;
        ::close(fd_);
        fd_ = -1;
    }

    struct Request {
        int projectorClass = 1;
        std::string body;
        std::string parameter;
        Answered answered;
        bool retried = false;
    };

    EventLoop& loop_;
    const Timing timing_;
    const std::string passwordFile_;
    PjlinkAddress address_;
    std::optional<Endpoint> literal_;
    // The last lookup of the host name, kept until lookupUntil_.
    std::optional<Endpoint> looked_;
    std::string lookupWhy_;
    Clock::time_point lookupUntil_{};
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);

    // The connection and the exchange under way; only on the loop's thread.
    int fd_ = -1;
    bool watching_ = false;
    EventLoop::Id timer_ = 0;
    bool reused_ = false;
    Request current_;
    std::string hash_;  // for the first command of a connection that asked for a password
    std::string out_;
    std::size_t sent_ = 0;
    std::string buffer_;
    int receiveError_ = 0;
    Clock::time_point deadline_{};
    Clock::time_point lastUsed_{};
    Clock::time_point lastEnd_{};

    // What abilities() and reason() read, from any thread.
    mutable std::mutex mutex_;
    Abilities abilities_;
    int projectorClass_ = 0;  // 0: not known yet
    std::uint32_t learnedLacking_ = 0;
    zv_result lastResult_ = ZV_RESULT_OK;
    std::string lastReason_;
};

}  // namespace

std::unique_ptr<Driver> openPjlinkDriver(const ProjectorEntry& entry, EventLoop& loop) {
    return std::make_unique<PjlinkDriver>(entry, loop);
}

}  // namespace zolvane::fleet
