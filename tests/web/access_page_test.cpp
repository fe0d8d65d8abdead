// What the page offers to each token, and its cards as the inventory changes, in a real headless
// Chromium against the real zolvaned over three emulated projectors: p0 and p1 in group "room",
// p2 in none, one schedule, and a lamp alert firing on p0 and on p2. Reads need no token; the
// viewer may read, the teacher operate the room, the boss everything.
#include <gtest/gtest.h>
#include <projector_emulator/emulator.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

#include "child_process.h"
#include "service_process.h"
#include "webdriver.h"

namespace {

using web_testing::eventually;
using Names = std::set<std::string>;

std::string secretOf(const std::string& token) { return token + "-secret-4e1f"; }

// The elements matching css that a person sees, each named by the attribute key of the nearest
// element holding it (itself or an ancestor), or by the text of field within that element.
constexpr const char* kSeen = R"(const [css, key, field] = arguments;
    return [...document.querySelectorAll(css)].filter((e) => e.checkVisibility()).map((e) => {
        const holder = e.closest('[' + key + ']');
        return field ? holder.querySelector(field).textContent : holder.getAttribute(key); });)";

class Site {
public:
    Site()
        : emulator_([] {
              zolvane::emulator::Options options;
              options.count = 3;
              return options;
          }()) {}
    ~Site() {
        browser_.reset();  // the browser goes before its driver
        driver_.reset();
        service_.reset();
        emulator_.stop();
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    // Empty when everything started, else why not.
    std::string start() {
        char pattern[] = "/tmp/zolvane-access-web-XXXXXX";
        if (!::mkdtemp(pattern)) return "no temporary folder";
        dir_ = pattern;
        std::string error;
        if (!emulator_.start(&error)) return "the emulator did not start: " + error;
        for (const unsigned i : {0U, 2U}) emulator_.setValue(0x1090, 2900, i);  // LampTime
        port_ = cli_testing::FreePort();
        writeInventory(true);
        service_ = std::make_unique<service_testing::ServiceProcess>(
            std::vector<std::string>{ZOLVANED, "--inventory", inventory()});
        if (!service_->port()) return "zolvaned did not listen: " + service_->log();
        return web_testing::startBrowser((dir_ / "profile").string(), driver_, browser_);
    }

    void writeInventory(bool withP2) {
        std::ofstream file(inventory());
        file << "[service]\nlisten = \"127.0.0.1:" << port_ << "\"\nread_requires_token = false\n"
             << "[defaults]\npoll_interval_ms = 300\nreceive_timeout_ms = 400\n"
             << "[[schedule]]\nname = \"evening-off\"\ntargets = [\"@all\"]\ndays = \"daily\"\n"
             << "at = \"22:00\"\ncommand = { command = \"power\", value = \"off\" }\n"
             << "[[alert]]\nname = \"lamp-end\"\nkind = \"lamp_hours\"\ntargets = [\"@all\"]\n"
             << "warning = 2800\ncritical = 3000\nnotifiers = [\"log\"]\n"
             << "[[notifier]]\nname = \"log\"\nkind = \"journal\"\n";
        for (const auto& [token, role, scope] : {std::tuple{"viewer", "read", ""},
                                                 {"teacher", "operate", "groups = [\"room\"]\n"},
                                                 {"boss", "admin", ""}}) {
            std::ofstream(dir_ / token) << secretOf(token) << "\n";
            file << "[[token]]\nname = \"" << token << "\"\nfile = \"" << (dir_ / token).string()
                 << "\"\nrole = \"" << role << "\"\n"
                 << scope;
        }
        for (std::size_t i = 0; i < (withP2 ? 3 : 2); ++i) {
            file << "[[projector]]\nname = \"p" << i
                 << "\"\naddress = \"tcp://127.0.0.1:" << emulator_.tcpPort(i)
                 << "\"\ngroups = " << (i < 2 ? "[\"room\"]" : "[]") << "\n";
        }
    }

    // The page loaded anew with this token stored (none when empty), once its cards are drawn
    // and its event stream is open.
    bool load(const std::string& token) {
        const std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/";
        if (!browser_->navigate(url)) return false;
        browser_->execute(token.empty() ? "localStorage.removeItem('zolvaned-token')"
                                        : "localStorage.setItem('zolvaned-token', arguments[0])",
                          {secretOf(token)});
        return browser_->navigate(url) && eventually([&] {
                   return browser_->execute("return document.body.dataset.stream") == "up" &&
                          !browser_->findAll("article[data-projector]").empty();
               });
    }
    Names seen(const std::string& css, const std::string& key, const std::string& field = "") {
        return browser_->execute(kSeen, {css, key, field}).get<Names>();
    }
    // Shows the view and waits until css matches count elements in it.
    bool show(const std::string& hash, const std::string& css, std::size_t count) {
        browser_->execute("location.hash = arguments[0]", {hash});
        return eventually([&] { return browser_->findAll(css).size() == count; });
    }

    std::string inventory() const { return (dir_ / "inventory.toml").string(); }
    web_testing::WebDriver& browser() { return *browser_; }
    service_testing::ServiceProcess& service() { return *service_; }

private:
    zolvane::emulator::Emulator emulator_;
    std::filesystem::path dir_;
    int port_ = 0;
    std::unique_ptr<service_testing::ServiceProcess> service_;
    std::unique_ptr<cli_testing::Background> driver_;
    std::unique_ptr<web_testing::WebDriver> browser_;
};

// One site for the program's tests, started by the first and gone with the last.
class AccessPageTest : public ::testing::Test {
protected:
    static void TearDownTestSuite() { site.reset(); }
    void SetUp() override {
        if (::access(ZOLVANE_CHROMIUM, X_OK) != 0 || ::access(ZOLVANE_CHROMEDRIVER, X_OK) != 0)
            GTEST_SKIP() << "chromium or chromedriver is not installed";
        if (!site) failure = (site = std::make_unique<Site>())->start();
        ASSERT_TRUE(failure.empty()) << failure;
    }
    static inline std::unique_ptr<Site> site;
    static inline std::string failure;
};

TEST_F(AccessPageTest, ShowsOnlyTheControlsTheStoredTokenMayUse) {
    const Names all = {"p0", "p1", "p2"};
    const struct Row {
        std::string token;  // stored before the page loads; empty for none
        Names commands;     // cards whose command controls are shown
        Names groupBars;    // "all" and the groups whose all-on/all-off are shown
        bool schedules;     // "Run now" shown and the enabled switch usable
        Names acks;         // subjects of the firing alerts offering "Acknowledge"
    } rows[] = {
        // Without a token everything is offered; using a control asks for one.
        {"", all, {"all", "room"}, true, {"p0", "p2"}},
        {"viewer", {}, {}, false, {}},
        {"teacher", {"p0", "p1"}, {"room"}, false, {"p0"}},
        {"boss", all, {"all", "room"}, true, {"p0", "p2"}},
        // A token the service does not know is dropped: as without one.
        {"stranger", all, {"all", "room"}, true, {"p0", "p2"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("token " + row.token);
        ASSERT_TRUE(site->load(row.token)) << site->browser().lastError();
        EXPECT_EQ(site->seen("article[data-projector]", "data-projector"), all);
        for (const std::string control : {"power-on", "power-off", "blank", "mute", "input"}) {
            EXPECT_EQ(site->seen("article [data-action=" + control + "]", "data-projector"),
                      row.commands)
                << control;
        }
        EXPECT_EQ(site->seen("[data-action=group-power-on]", "data-group"), row.groupBars);

        ASSERT_TRUE(site->show("#/schedules", "[data-schedule]", 1));
        const Names usable = row.schedules ? Names{"run", "enabled"} : Names{};
        EXPECT_EQ(site->seen("[data-schedule] :is([data-action=run], :enabled)", "data-action"),
                  usable);

        ASSERT_TRUE(site->show("#/alerts", "#alert-list [data-alert]", 2));
        EXPECT_EQ(site->seen("[data-action=ack]", "data-alert", "[data-field=subject]"), row.acks);
    }
}

TEST_F(AccessPageTest, CardsFollowTheReloadedInventoryWithoutAPageLoad) {
    ASSERT_TRUE(site->load("boss"));
    site->browser().execute("window.sameDocument = true");
    const struct {
        bool withP2;
        Names cards;
    } steps[] = {{false, {"p0", "p1"}}, {true, {"p0", "p1", "p2"}}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.withP2 ? "p2 back" : "p2 gone");
        site->writeInventory(step.withP2);
        site->service().signal(SIGHUP);
        ASSERT_TRUE(site->service().waitForLog("reloaded " + site->inventory() + ": " +
                                                   std::to_string(step.cards.size()) +
                                                   " projectors",
                                               std::chrono::seconds(20)))
            << site->service().log();
        EXPECT_TRUE(eventually([&] {
            return site->seen("article[data-projector]", "data-projector") == step.cards;
        })) << site->browser().execute("return document.getElementById('fleet').innerText");
        EXPECT_EQ(site->seen("article [data-action=power-on]", "data-projector"), step.cards);
        EXPECT_EQ(site->browser().execute("return window.sameDocument === true"), true);
    }
}

}  // namespace
