#include "alert/channels.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include "alert/notification.h"

namespace zolvane::service::alert {
namespace {

constexpr std::size_t kAnswerKept =
    std::size_t{64} * 1024;  // of a webhook's answer, read and dropped

struct Easy {
    Easy() : handle(curl_easy_init()) {}
    ~Easy() {
        curl_easy_cleanup(handle);
        curl_slist_free_all(headers);
        curl_slist_free_all(recipients);
    }
    Easy(const Easy&) = delete;
    Easy& operator=(const Easy&) = delete;

    CURL* handle;
    curl_slist* headers = nullptr;
    curl_slist* recipients = nullptr;
    char error[CURL_ERROR_SIZE] = {};
};

// What is read from a webhook's answer: only how much, and whether there was more.
struct Answer {
    std::size_t read = 0;
    bool tooLong = false;
};

std::size_t discard(char*, std::size_t size, std::size_t count, void* user) {
    auto* answer = static_cast<Answer*>(user);
    answer->read += size * count;
    if (answer->read > kAnswerKept) {
        answer->tooLong = true;
        return 0;  // ends the transfer; the status has come by then
    }
    return size * count;
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return (*static_cast<const Stopping*>(user))() ? 1 : 0;
}

// An upload read from a string: the e-mail.
struct Upload {
    const std::string& text;
    std::size_t sent = 0;
};

std::size_t upload(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* from = static_cast<Upload*>(user);
    const std::size_t n = std::min(size * count, from->text.size() - from->sent);
    std::copy_n(from->text.data() + from->sent, n, buffer);
    from->sent += n;
    return n;
}

std::string seconds(std::chrono::milliseconds time) {
    char text[32];
    if (time.count() % 1000 == 0) {
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(time.count() / 1000));
    } else {
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(time.count()) / 1000);
    }
    return text;
}

// The options of every try: its time-outs, no signals, the progress check for stopping.
void common(Easy& easy, const Notifier& notifier, const Stopping& stopping) {
    CURL* h = easy.handle;
    curl_easy_setopt(h, CURLOPT_URL, notifier.url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(notifier.timeout.count()));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(notifier.timeout.count()));
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, easy.error);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &stopping);
}

// Why a transfer failed, shortly.
std::string failure(const Easy& easy, CURLcode code, const Notifier& notifier) {
    if (code == CURLE_OPERATION_TIMEDOUT) return "timed out after " + seconds(notifier.timeout);
    if (code == CURLE_ABORTED_BY_CALLBACK) return "stopped with the service";
    std::string why = easy.error[0] != '\0' ? easy.error : curl_easy_strerror(code);
    while (!why.empty() && (why.back() == '\n' || why.back() == '.')) why.pop_back();
    return why;
}

// A header's value as the data gives it, on one line whatever it holds.
std::string oneLine(std::string_view text) {
    std::string line;
    for (const char c : text) {
        line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
    }
    return line;
}

std::string text(const nlohmann::json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_null()) return {};
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string mailDate(WallTime now) {
    const std::time_t seconds = WallClock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char date[64];
    std::snprintf(date, sizeof date, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[utc.tm_wday],
                  utc.tm_mday, kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                  utc.tm_sec);
    return date;
}

// The e-mail: its headers, then the sentence and the alert's fields one per line.
std::string mailMessage(const Notifier& notifier, const nlohmann::json& notification,
                        WallTime now) {
    const nlohmann::json alert = notification.value("alert", nlohmann::json::object());
    std::string to;
    for (const std::string& address : notifier.to) to += (to.empty() ? "" : ", ") + address;
    const std::size_t at = notifier.from.rfind('@');
    const std::string domain = at == std::string::npos ? "zolvaned" : notifier.from.substr(at + 1);
    const long long millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    std::string message = "Date: " + mailDate(now) + "\r\nFrom: " + oneLine(notifier.from) +
                          "\r\nTo: " + oneLine(to) +
                          "\r\nSubject: " + oneLine(notificationTitle(notification)) +
                          "\r\nMessage-ID: <" +
                          oneLine(text(alert.value("id", nlohmann::json())) + "." +
                                  text(notification.value("event", nlohmann::json())) + "." +
                                  std::to_string(millis) + "@" + domain) +
                          ">\r\nAuto-Submitted: auto-generated\r\nMIME-Version: "
                          "1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
                          "Content-Transfer-Encoding: 8bit\r\n\r\n";
    message += oneLine(text(notification.value("sentence", nlohmann::json()))) + "\r\n\r\n";
    message += "event: " + oneLine(text(notification.value("event", nlohmann::json()))) + "\r\n";
    for (const char* key :
         {"rule", "kind", "projector", "schedule", "severity", "state", "value", "started",
          "changed", "resolved", "acknowledged_by", "acknowledged_at", "id"}) {
        const auto found = alert.find(key);
        if (found == alert.end() || found->is_null()) continue;
        message += std::string(key) + ": " + oneLine(text(*found)) + "\r\n";
    }
    const nlohmann::json projector = notification.value("projector", nlohmann::json());
    if (projector.is_object()) {
        for (const char* key : {"label", "address"}) {
            const std::string value = oneLine(text(projector.value(key, nlohmann::json())));
            if (!value.empty()) message += std::string(key) + ": " + value + "\r\n";
        }
    }
    return message;
}

}  // namespace

void startCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::optional<std::string> postWebhook(const Notifier& notifier, const nlohmann::json& notification,
                                       const std::string& stored, const Stopping& stopping) {
    Easy easy;
    if (easy.handle == nullptr) return "no transfer could be made";
    const std::string body = notifier.body ? notifier.body->render(notification) : stored;
    common(easy, notifier, stopping);
    CURL* h = easy.handle;
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_USERAGENT, "zolvaned");
    easy.headers = curl_slist_append(easy.headers, "Content-Type: application/json");
    easy.headers = curl_slist_append(easy.headers, "Expect:");
    for (const auto& [name, value] : notifier.headers) {
        easy.headers =
            curl_slist_append(easy.headers, (oneLine(name) + ": " + oneLine(value)).c_str());
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, easy.headers);
    Answer answer;
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    const CURLcode code = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && answer.tooLong && status != 0)) {
        return failure(easy, code, notifier);
    }
    if (status >= 200 && status < 300) return std::nullopt;
    return "HTTP " + std::to_string(status);
}

std::optional<std::string> sendEmail(const Notifier& notifier, const nlohmann::json& notification,
                                     WallTime now, const Stopping& stopping) {
    Easy easy;
    if (easy.handle == nullptr) return "no transfer could be made";
    Notifier target = notifier;
    // tls = "tls" is TLS from the first byte, whatever the scheme says.
    if (notifier.tls == Tls::Tls && target.url.starts_with("smtp://")) {
        target.url = "smtps://" + target.url.substr(7);
    }
    common(easy, target, stopping);
    CURL* h = easy.handle;
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(h, CURLOPT_USE_SSL,
                     notifier.tls == Tls::None ? static_cast<long>(CURLUSESSL_NONE)
                                               : static_cast<long>(CURLUSESSL_ALL));
    if (!notifier.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, notifier.caFile.c_str());
    if (!notifier.user.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, notifier.user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, notifier.password.c_str());
    }
    const std::string from = "<" + oneLine(notifier.from) + ">";
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.c_str());
    for (const std::string& address : notifier.to) {
        easy.recipients =
            curl_slist_append(easy.recipients, ("<" + oneLine(address) + ">").c_str());
    }
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, easy.recipients);
    const std::string message = mailMessage(notifier, notification, now);
    Upload source{message};
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, upload);
    curl_easy_setopt(h, CURLOPT_READDATA, &source);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
    const CURLcode code = curl_easy_perform(h);
    if (code != CURLE_OK) return failure(easy, code, target);
    return std::nullopt;
}

std::string shownUrl(const std::string& url) {
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const std::size_t at = url.rfind('@', end - 1);
    const std::size_t host = at == std::string::npos || at < start || at >= end ? start : at + 1;
    // A chat system's webhook carries its secret in the path or the query: shown as "/...".
    return url.substr(0, start) + url.substr(host, end - host) + (end < url.size() ? "/..." : "");
}

}  // namespace zolvane::service::alert
