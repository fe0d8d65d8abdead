// The page's alerts in a real headless Chromium, against the real zolvaned with a lamp_hours
// rule over three emulated projectors: p1 past its warning level, p2 past its critical level, p3
// below both. The page is compared with GET /api/alerts, and a click on "Acknowledge" is read
// back from the API.
#include <gtest/gtest.h>
#include <projector_emulator/emulator.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "child_process.h"
#include "service_process.h"
#include "webdriver.h"

namespace {

using nlohmann::json;
using web_testing::eventually;

TEST(AlertsPage, ShowsOpenAlertsAndAcknowledgesOne) {
    if (::access(ZOLVANE_CHROMIUM, X_OK) != 0 || ::access(ZOLVANE_CHROMEDRIVER, X_OK) != 0)
        GTEST_SKIP() << "chromium or chromedriver is not installed";
    zolvane::emulator::Options options;
    options.count = 3;
    zolvane::emulator::Emulator emulator(options);
    std::string error;
    ASSERT_TRUE(emulator.start(&error)) << error;
    char folder[] = "/tmp/zolvane-alerts-web-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::filesystem::path dir = folder;
    const int port = cli_testing::FreePort();
    std::ofstream(dir / "token") << "alerts-token-7d31\n";
    std::ofstream file(dir / "inventory.toml");
    file << "[service]\nlisten = \"127.0.0.1:" << port << "\"\ntoken_file = \""
         << (dir / "token").string() << "\"\n[defaults]\npoll_interval_ms = 300\n"
         << "slow_poll_interval_ms = 1000\n[[alert]]\nname = \"lamp-end\"\nkind = \"lamp_hours\"\n"
         << "targets = [\"@all\"]\nwarning = 2800\ncritical = 3000\nnotifiers = [\"log\"]\n"
         << "[[notifier]]\nname = \"log\"\nkind = \"journal\"\n";
    const unsigned hours[] = {2900, 3100, 100};
    for (std::size_t i = 0; i < 3; ++i) {
        emulator.setValue(0x1090, hours[i], i);  // LampTime
        file << "[[projector]]\nname = \"p" << i + 1
             << "\"\naddress = \"tcp://127.0.0.1:" << emulator.tcpPort(i) << "\"\n";
    }
    file.close();
    service_testing::ServiceProcess service(
        {ZOLVANED, "--inventory", (dir / "inventory.toml").string()});
    const auto alertOf = [&](const std::string& projector) {
        const auto answer = httplib::Client("127.0.0.1", port).Get("/api/alerts");
        const json body = answer ? json::parse(answer->body, nullptr, false) : json();
        for (const json& alert : body.is_object() ? body["alerts"] : json::array())
            if (alert["projector"] == projector) return alert;
        return json();
    };
    ASSERT_TRUE(eventually([&] { return !alertOf("p2").is_null(); })) << service.log();

    std::unique_ptr<cli_testing::Background> driver;
    std::unique_ptr<web_testing::WebDriver> browser;
    const std::string failure =
        web_testing::startBrowser((dir / "profile").string(), driver, browser);
    ASSERT_TRUE(failure.empty()) << failure;
    const std::string page = "http://127.0.0.1:" + std::to_string(port) + "/";
    ASSERT_TRUE(browser->navigate(page));
    browser->execute("localStorage.setItem('zolvaned-token', 'alerts-token-7d31')");
    ASSERT_TRUE(browser->navigate(page + "#/alerts"));
    ASSERT_TRUE(
        eventually([&] { return browser->findAll("#alert-list [data-alert]").size() == 2; }));
    // What matches css: its text, whether hidden, its severity and its title.
    const auto shown = [&](const std::string& css) {
        return browser->execute(R"(const e = document.querySelector(arguments[0]); return e &&
            {text: e.textContent, hidden: e.hidden, severity: e.dataset.severity, title: e.title};)",
                                {css});
    };
    const auto item = [](const json& a) {
        return "#alert-list [data-alert='" + a["id"].dump() + "'] ";
    };
    for (const auto& [projector, severity] :
         {std::pair{"p1", "warning"}, {"p2", "critical"}, {"p3", ""}}) {
        SCOPED_TRACE(projector);
        const json alert = alertOf(projector);
        const json badge =
            shown(std::string("[data-projector=") + projector + "] [data-field=alert]");
        EXPECT_EQ(badge["hidden"], !*severity) << badge;
        if (!*severity) continue;
        ASSERT_EQ(alert["severity"], severity) << alert;
        EXPECT_EQ(badge["severity"], severity);
        EXPECT_EQ(badge["title"], alert["sentence"]);
        EXPECT_EQ(shown(item(alert) + "[data-field=sentence]")["text"], alert["sentence"]);
        EXPECT_EQ(shown(item(alert) + "[data-field=state]")["text"], "Firing");
    }
    EXPECT_EQ(shown("[data-role=alert-count]")["text"], "2");

    const std::string warning = item(alertOf("p1"));
    const auto button = browser->find(warning + "[data-action=ack]");
    ASSERT_TRUE(button && browser->click(*button)) << browser->lastError();
    EXPECT_TRUE(eventually([&] { return alertOf("p1")["state"] == "acknowledged"; }));
    EXPECT_TRUE(eventually([&] {
        return shown(warning + "[data-field=state]")["text"] == "Acknowledged by token" &&
               shown(warning + "[data-action=ack]")["hidden"] == true;
    })) << shown(warning + "[data-field=state]");
    EXPECT_EQ(shown("[data-role=alert-count]")["text"], "2");  // acknowledged, still open
    browser.reset();
    driver.reset();
    std::filesystem::remove_all(dir);
}

}  // namespace
