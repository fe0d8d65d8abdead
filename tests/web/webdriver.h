// A small client of the WebDriver HTTP protocol, enough to drive one headless Chromium through
// chromedriver: open pages, find elements by CSS, click, type, read text, run a script and take
// screenshots.
#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace web_testing {

class WebDriver {
public:
    explicit WebDriver(int port);
    ~WebDriver();
    WebDriver(const WebDriver&) = delete;
    WebDriver& operator=(const WebDriver&) = delete;

    // True once chromedriver answers that it is ready.
    bool ready();
    // A new headless browser with its own profile; the reason in error when it fails.
    bool startSession(const std::string& userDataDir, std::string* error);

    bool navigate(const std::string& url);
    bool setWindowSize(int width, int height);
    // Element references; empty when nothing matches.
    std::optional<std::string> find(const std::string& css);
    std::vector<std::string> findAll(const std::string& css);
    bool click(const std::string& element);
    bool sendKeys(const std::string& element, const std::string& text);
    std::string text(const std::string& element);
    std::string attribute(const std::string& element, const std::string& name);
    bool displayed(const std::string& element);
    nlohmann::json execute(const std::string& script,
                           nlohmann::json args = nlohmann::json::array());
    // The PNG bytes of the viewport.
    std::string screenshot();

    const std::string& lastError() const { return lastError_; }

    // The text of every element that matches, in document order.
    std::vector<std::string> texts(const std::string& css);

private:
    // The "value" of the answer, or null with lastError_ set.
    nlohmann::json call(const std::string& method, const std::string& path,
                        const nlohmann::json& body = nlohmann::json::object());
    std::string session(const std::string& rest) const;

    httplib::Client client_;
    std::string sessionId_;
    std::string lastError_;
};

}  // namespace web_testing
