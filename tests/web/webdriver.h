// A small client of the WebDriver HTTP protocol, enough to drive one headless Chromium through
// chromedriver: open pages, find elements by CSS, click, type, read text, run a script and take
// screenshots.
#pragma once

#include <httplib.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"

namespace web_testing {

// Asks every 100 ms until the condition holds; false when the time ran out first.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

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

// Starts chromedriver (ZOLVANE_CHROMEDRIVER) on a port of its own and a browser session through
// it, with its profile in profileDir. Empty when the session began, else why not. The browser
// is to be closed before the driver.
std::string startBrowser(const std::string& profileDir,
                         std::unique_ptr<cli_testing::Background>& driver,
                         std::unique_ptr<WebDriver>& browser);

}  // namespace web_testing
