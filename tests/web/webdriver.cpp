#include "webdriver.h"

#include <chrono>

namespace web_testing {
namespace {

// The key under which WebDriver hands out element references.
constexpr const char* kElementKey = "element-6066-11e4-a52e-4f735466cecf";

std::string decodeBase64(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        const auto at = alphabet.find(c);
        if (at == std::string::npos) continue;  // padding and line breaks
        buffer = (buffer << 6) | static_cast<unsigned>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

}  // namespace

WebDriver::WebDriver(int port) : client_("127.0.0.1", port) {
    client_.set_connection_timeout(std::chrono::seconds(5));
    // Starting a browser and waiting for a page can take a while on a loaded machine.
    client_.set_read_timeout(std::chrono::seconds(60));
}

WebDriver::~WebDriver() {
    if (!sessionId_.empty()) client_.Delete(("/session/" + sessionId_).c_str());
}

bool WebDriver::ready() {
    const auto answer = client_.Get("/status");
    if (!answer || answer->status != 200) return false;
    const auto body = nlohmann::json::parse(answer->body, nullptr, false);
    return body.is_object() && body["value"].value("ready", false);
}

bool WebDriver::startSession(const std::string& userDataDir, std::string* error) {
    const nlohmann::json args = {"--headless",
                                 "--no-sandbox",
                                 "--disable-gpu",
                                 "--disable-quic",
                                 "--no-first-run",
                                 "--disable-background-networking",
                                 "--disable-component-update",
                                 "--disable-sync",
                                 "--disable-dev-shm-usage",
                                 "--user-data-dir=" + userDataDir};
    const nlohmann::json capabilities = {
        {"capabilities",
         {{"alwaysMatch",
           {{"browserName", "chrome"},
            {"goog:chromeOptions", {{"binary", ZOLVANE_CHROMIUM}, {"args", args}}}}}}}};
    const nlohmann::json value = call("POST", "/session", capabilities);
    if (value.is_object() && value.contains("sessionId")) {
        sessionId_ = value["sessionId"].get<std::string>();
        return true;
    }
    if (error) *error = lastError_;
    return false;
}

nlohmann::json WebDriver::call(const std::string& method, const std::string& path,
                               const nlohmann::json& body) {
    lastError_.clear();
    httplib::Result answer = method == "GET" ? client_.Get(path.c_str())
                             : method == "DELETE"
                                 ? client_.Delete(path.c_str())
                                 : client_.Post(path.c_str(), body.dump(), "application/json");
    if (!answer) {
        lastError_ =
            "chromedriver did not answer " + path + ": " + httplib::to_string(answer.error());
        return nullptr;
    }
    auto reply = nlohmann::json::parse(answer->body, nullptr, false);
    if (reply.is_discarded() || !reply.is_object()) {
        lastError_ = "chromedriver answered " + std::to_string(answer->status) + " " + answer->body;
        return nullptr;
    }
    if (answer->status != 200) {
        lastError_ = reply.dump();
        return nullptr;
    }
    // New-session answers carry the id beside the capabilities.
    return reply.contains("value") ? reply["value"] : reply;
}

std::string WebDriver::session(const std::string& rest) const {
    return "/session/" + sessionId_ + rest;
}

bool WebDriver::navigate(const std::string& url) {
    call("POST", session("/url"), {{"url", url}});
    return lastError_.empty();
}

bool WebDriver::setWindowSize(int width, int height) {
    call("POST", session("/window/rect"), {{"width", width}, {"height", height}});
    return lastError_.empty();
}

std::optional<std::string> WebDriver::find(const std::string& css) {
    const auto found = findAll(css);
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::vector<std::string> WebDriver::findAll(const std::string& css) {
    std::vector<std::string> elements;
    const nlohmann::json value =
        call("POST", session("/elements"), {{"using", "css selector"}, {"value", css}});
    if (!value.is_array()) return elements;
    for (const auto& entry : value) elements.push_back(entry.value(kElementKey, ""));
    return elements;
}

bool WebDriver::click(const std::string& element) {
    call("POST", session("/element/" + element + "/click"));
    return lastError_.empty();
}

bool WebDriver::sendKeys(const std::string& element, const std::string& text) {
    call("POST", session("/element/" + element + "/value"), {{"text", text}});
    return lastError_.empty();
}

std::string WebDriver::text(const std::string& element) {
    const nlohmann::json value = call("GET", session("/element/" + element + "/text"));
    return value.is_string() ? value.get<std::string>() : std::string();
}

std::string WebDriver::attribute(const std::string& element, const std::string& name) {
    const nlohmann::json value = call("GET", session("/element/" + element + "/attribute/" + name));
    return value.is_string() ? value.get<std::string>() : std::string();
}

bool WebDriver::displayed(const std::string& element) {
    const nlohmann::json value = call("GET", session("/element/" + element + "/displayed"));
    return value.is_boolean() && value.get<bool>();
}

nlohmann::json WebDriver::execute(const std::string& script, nlohmann::json args) {
    return call("POST", session("/execute/sync"), {{"script", script}, {"args", args}});
}

std::string WebDriver::screenshot() {
    const nlohmann::json value = call("GET", session("/screenshot"));
    return value.is_string() ? decodeBase64(value.get<std::string>()) : std::string();
}

std::vector<std::string> WebDriver::texts(const std::string& css) {
    std::vector<std::string> out;
    for (const std::string& element : findAll(css)) out.push_back(text(element));
    return out;
}

std::string startBrowser(const std::string& profileDir,
                         std::unique_ptr<cli_testing::Background>& driver,
                         std::unique_ptr<WebDriver>& browser) {
    const int port = cli_testing::FreePort();
    driver = std::make_unique<cli_testing::Background>(std::vector<std::string>{
        ZOLVANE_CHROMEDRIVER, "--port=" + std::to_string(port), "--silent"});
    browser = std::make_unique<WebDriver>(port);
    if (!eventually([&] { return browser->ready(); })) return "chromedriver did not become ready";
    std::string error;
    if (!browser->startSession(profileDir, &error)) return "no browser session: " + error;
    return {};
}

}  // namespace web_testing
