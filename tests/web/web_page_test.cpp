// The web page in a real headless Chromium, against the real zolvaned and three emulated
// projectors in two groups (hall-a in "east" and "halls", hall-b in "halls", lobby in none).
// Every click is a WebDriver click on the page; the effect is read back from the emulator and
// from the page, which learns it only through the event stream.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <projector_emulator/emulator.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "webdriver.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using web_testing::eventually;
using web_testing::WebDriver;
using zolvane::emulator::Emulator;
using zolvane::emulator::PowerState;

constexpr std::uint16_t kPower = 0x6000;
constexpr std::uint16_t kInput = 0x2000;
constexpr std::uint16_t kBlank = 0x3020;
constexpr std::uint16_t kMute = 0x2002;
constexpr std::uint16_t kLamp = 0x1090;
constexpr std::uint16_t kError = 0x6020;
constexpr const char* kToken = "page-token-7f3a";
const std::vector<std::string> kNames = {"hall-a", "hall-b", "lobby"};

bool browserPresent() {
    return ::access(ZOLVANE_CHROMIUM, X_OK) == 0 && ::access(ZOLVANE_CHROMEDRIVER, X_OK) == 0;
}

// The emulator, the service over it and one browser, shared by every test of the program.
class Site {
public:
    Site() : emulator_(emulatorOptions()) {}

    bool start() {
        char pattern[] = "/tmp/zolvane-web-XXXXXX";
        if (!::mkdtemp(pattern)) return fail("no temporary folder");
        dir_ = pattern;
        std::string error;
        if (!emulator_.start(&error)) return fail("the emulator did not start: " + error);
        std::ofstream(dir_ / "token") << kToken << "\n";
        servicePort_ = cli_testing::FreePort();
        writeInventory();
        if (!startService()) return false;

        const std::string why =
            web_testing::startBrowser((dir_ / "profile").string(), driverProcess_, browser_);
        return why.empty() || fail(why);
    }

    ~Site() {
        browser_.reset();  // closes the browser before its driver goes
        driverProcess_.reset();
        service_.reset();
        emulator_.stop();
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    bool startService() {
        service_ = std::make_unique<cli_testing::Background>(
            std::vector<std::string>{ZOLVANED, "--inventory", (dir_ / "inventory.toml").string()});
        if (!eventually([&] { return projectors().is_array(); }))
            return fail("zolvaned did not answer");
        return true;
    }
    void stopService() { service_.reset(); }
    bool serviceRunning() const { return service_ && service_->running(); }

    // Every projector object, or null while the service does not answer.
    json projectors() {
        httplib::Client client("127.0.0.1", servicePort_);
        client.set_read_timeout(5s);
        const auto answer = client.Get("/api/projectors");
        if (!answer || answer->status != 200) return nullptr;
        return json::parse(answer->body, nullptr, false)["projectors"];
    }

    // A command sent behind the page's back, as another client would.
    int command(const std::string& projector, const json& body) {
        httplib::Client client("127.0.0.1", servicePort_);
        client.set_read_timeout(30s);
        const httplib::Headers headers = {{"Authorization", std::string("Bearer ") + kToken}};
        const auto answer = client.Post(("/api/projectors/" + projector + "/commands").c_str(),
                                        headers, body.dump(), "application/json");
        return answer ? answer->status : 0;
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(servicePort_) + "/"; }
    Emulator& emulator() { return emulator_; }
    WebDriver& browser() { return *browser_; }
    const std::string& failure() const { return failure_; }
    const std::filesystem::path& dir() const { return dir_; }

private:
    static zolvane::emulator::Options emulatorOptions() {
        zolvane::emulator::Options options;
        options.count = kNames.size();
        options.coolingTime = 500ms;
        return options;
    }

    void writeInventory() {
        std::ofstream file(dir_ / "inventory.toml");
        file << "[service]\nlisten = \"127.0.0.1:" << servicePort_ << "\"\n"
             << "token_file = \"" << (dir_ / "token").string() << "\"\n"
             << "lamp_warning_hours = 3000\n"
             << "database = \"" << (dir_ / "history.sqlite").string() << "\"\n\n"
             << "[defaults]\npoll_interval_ms = 300\nslow_poll_interval_ms = 600\n"
             << "receive_timeout_ms = 400\noffline_after = 2\ncooling_wait_ms = 5000\n";
        const char* const groups[] = {R"(["east", "halls"])", R"(["halls"])", "[]"};
        const char* const labels[] = {"Hall A", "Hall B", "Lobby"};
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            file << "\n[[projector]]\nname = \"" << kNames[i] << "\"\nlabel = \"" << labels[i]
                 << "\"\naddress = \"tcp://127.0.0.1:" << emulator_.tcpPort(i)
                 << "\"\ngroups = " << groups[i] << "\n";
        }
    }

    bool fail(const std::string& reason) {
        failure_ = reason;
        return false;
    }

    Emulator emulator_;
    std::filesystem::path dir_;
    int servicePort_ = 0;
    std::unique_ptr<cli_testing::Background> service_;
    std::unique_ptr<cli_testing::Background> driverProcess_;
    std::unique_ptr<WebDriver> browser_;
    std::string failure_;
};

Site* theSite = nullptr;

class SiteEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!browserPresent()) return;
        theSite = new Site;
        theSite->start();
    }
    void TearDown() override {
        delete theSite;
        theSite = nullptr;
    }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new SiteEnvironment);

// Every test starts from all three projectors on, RGB, unblanked, unmuted and without fault,
// with the page freshly loaded, the token known to it, and a mark that a reload would lose.
class PageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!browserPresent()) {
            GTEST_SKIP() << "chromium or chromedriver is not installed";
        }
        ASSERT_NE(theSite, nullptr);
        ASSERT_TRUE(theSite->failure().empty()) << theSite->failure();
        if (!theSite->serviceRunning()) {
            ASSERT_TRUE(theSite->startService()) << theSite->failure();
        }
        Emulator& emulator = theSite->emulator();
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            emulator.clearFault(i);
            emulator.refuseSet(kPower, false, i);
            emulator.setPower(PowerState::On, i);
            for (const std::uint16_t type : {kInput, kBlank, kMute, kError})
                emulator.setValue(type, 0, i);
            emulator.setValue(kLamp, static_cast<std::uint16_t>(1000 + i), i);
        }
        ASSERT_TRUE(eventually([] { return serviceShowsReset(); }))
            << "the service did not see the projectors reset: " << theSite->projectors().dump();
        ASSERT_TRUE(browser().setWindowSize(1280, 900));
        ASSERT_TRUE(browser().navigate(theSite->url()));
        browser().execute("localStorage.setItem('zolvaned-token', arguments[0])", {kToken});
        loadPage();
    }

    void loadPage() {
        ASSERT_TRUE(browser().navigate(theSite->url()));
        ASSERT_TRUE(eventually([] {
            return browser().findAll("article[data-projector]").size() == 4 &&
                   browser().execute("return document.body.dataset.stream") == "up";
        })) << "the page did not show its cards";
        browser().execute("window.sameLoad = true");
    }

    static WebDriver& browser() { return theSite->browser(); }

    static bool serviceShowsReset() {
        const json projectors = theSite->projectors();
        if (!projectors.is_array()) return false;
        for (const json& p : projectors) {
            const json& state = p["state"];
            if (p["reach"] != "online" || state["power"]["value"] != 1 ||
                state["mute"]["value"] != 0 || state["blank"]["value"] != 0 ||
                state["input"]["value"] != 0 || state["error_status"]["value"] != 0 ||
                !state["lamp_hours"]["value"].is_number() || state["lamp_hours"]["value"] >= 3000)
                return false;
        }
        return true;
    }

    // The text of this field on every card of the projector.
    static std::vector<std::string> shown(const std::string& projector, const std::string& field) {
        return browser().texts("[data-projector=\"" + projector + "\"] [data-field=\"" + field +
                               "\"]");
    }

    // True when every card of the projector shows a text that holds this one.
    static bool showsEverywhere(const std::string& projector, const std::string& field,
                                const std::string& text) {
        const auto texts = shown(projector, field);
        if (texts.empty()) return false;
        for (const std::string& t : texts)
            if (t.find(text) == std::string::npos) return false;
        return true;
    }

    static void expectShown(const std::string& name, const std::string& field,
                            const std::string& text) {
        EXPECT_TRUE(eventually([&] { return showsEverywhere(name, field, text); }))
            << name << " " << field << " shows " << ::testing::PrintToString(shown(name, field));
    }

    // The outcome of a command shown on the projector's first card.
    static void expectMessage(const std::string& name, const std::string& text) {
        const std::string css = "[data-projector=\"" + name + "\"] [data-role=message]";
        EXPECT_TRUE(eventually([&] {
            const auto texts = browser().texts(css);
            return !texts.empty() && texts[0].find(text) != std::string::npos;
        })) << ::testing::PrintToString(browser().texts(css));
    }

    static void click(const std::string& css) {
        const auto element = browser().find(css);
        ASSERT_TRUE(element) << "nothing on the page matches " << css;
        ASSERT_TRUE(browser().click(*element)) << css << ": " << browser().lastError();
    }
};

// ---------------------------------------------------------------------------------------------
// The cards under their group headings, a projector once in each of its groups.

struct Section {
    const char* css;
    const char* heading;
    std::vector<std::string> members;
    std::vector<std::string> labels;
};

void PrintTo(const Section& row, std::ostream* os) { *os << row.heading; }

class GroupLayout : public PageTest, public ::testing::WithParamInterface<Section> {};

TEST_P(GroupLayout, ShowsEachGroupsMembersUnderItsHeading) {
    const Section& section = GetParam();
    const auto heading = browser().find(std::string(section.css) + " h2");
    ASSERT_TRUE(heading);
    EXPECT_EQ(browser().text(*heading).rfind(section.heading, 0), 0u) << browser().text(*heading);
    std::vector<std::string> members;
    for (const std::string& card :
         browser().findAll(std::string(section.css) + " [data-projector]"))
        members.push_back(browser().attribute(card, "data-projector"));
    EXPECT_EQ(members, section.members);
    EXPECT_EQ(browser().texts(std::string(section.css) + " [data-field=\"label\"]"),
              section.labels);
}

INSTANTIATE_TEST_SUITE_P(
    Page, GroupLayout,
    ::testing::Values(
        Section{"[data-group=\"east\"]", "east", {"hall-a"}, {"Hall A"}},
        Section{"[data-group=\"halls\"]", "halls", {"hall-a", "hall-b"}, {"Hall A", "Hall B"}},
        Section{"[data-ungrouped]", "Ungrouped", {"lobby"}, {"Lobby"}}),
    [](const auto& info) { return std::string(info.param.heading); });

// ---------------------------------------------------------------------------------------------
// A click on the page reaches the projectors it names, and only those, and the cards follow.

struct Outcome {
    std::size_t projector;
    std::uint16_t type;
    std::uint16_t value;
    const char* field;
    const char* text;
};

struct Shown {
    std::size_t projector;
    const char* field;
    const char* text;
};

struct Click {
    const char* name;
    std::function<void(Emulator&)> prepare;
    std::vector<Shown> before;  // what the page shows of the prepared state before the click
    std::vector<std::string> clicks;
    std::vector<Outcome> outcomes;
    const char* message = "";  // on the card of outcomes[0]
};

void PrintTo(const Click& row, std::ostream* os) { *os << row.name; }

class PageClicks : public PageTest, public ::testing::WithParamInterface<Click> {};

TEST_P(PageClicks, ReachTheProjectorsAndShowTheirNewState) {
    const Click& row = GetParam();
    if (row.prepare) row.prepare(theSite->emulator());
    for (const Shown& s : row.before) {
        ASSERT_TRUE(eventually([&] {
            return showsEverywhere(kNames[s.projector], s.field, s.text);
        })) << "before the click: "
            << kNames[s.projector] << " " << s.field << " "
            << ::testing::PrintToString(shown(kNames[s.projector], s.field));
    }
    for (const std::string& css : row.clicks) ASSERT_NO_FATAL_FAILURE(click(css));
    for (const Outcome& o : row.outcomes) {
        const std::string& name = kNames[o.projector];
        EXPECT_TRUE(eventually([&] {
            return theSite->emulator().value(o.type, o.projector) == o.value;
        })) << name
            << " 0x" << std::hex << o.type << " is "
            << theSite->emulator().value(o.type, o.projector).value_or(0xFFFF);
        expectShown(name, o.field, o.text);
    }
    if (*row.message) expectMessage(kNames[row.outcomes[0].projector], row.message);
    EXPECT_EQ(browser().execute("return window.sameLoad === true"), true);
}

const auto allOff = [](Emulator& emulator) {
    for (std::size_t i = 0; i < kNames.size(); ++i) emulator.setPower(PowerState::Off, i);
};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Page, PageClicks, ::testing::Values(
    Click{"CardPowerOff", {}, {}, {R"([data-group="halls"] [data-projector="hall-b"] [data-action="power-off"])"},
          {{1, kPower, 0, "power", "Off"}, {0, kPower, 1, "power", "On"}, {2, kPower, 1, "power", "On"}}},
    Click{"GroupPowerOff", {}, {}, {R"([data-group="halls"] .group-head [data-action="group-power-off"])"},
          {{0, kPower, 0, "power", "Off"}, {1, kPower, 0, "power", "Off"}, {2, kPower, 1, "power", "On"}}},
    Click{"EveryPowerOff", {}, {}, {R"(.top [data-action="group-power-off"])"},
          {{0, kPower, 0, "power", "Off"}, {1, kPower, 0, "power", "Off"}, {2, kPower, 0, "power", "Off"}}},
    Click{"GroupPowerOn", allOff, {{0, "power", "Off"}, {1, "power", "Off"}, {2, "power", "Off"}},
          {R"([data-group="halls"] .group-head [data-action="group-power-on"])"},
          {{0, kPower, 1, "power", "On"}, {1, kPower, 1, "power", "On"}, {2, kPower, 0, "power", "Off"}}},
    Click{"Mute", {}, {}, {R"([data-projector="lobby"] [data-action="mute"])"},
          {{2, kMute, 1, "mute", "on"}, {0, kMute, 0, "mute", "off"}}},
    Click{"BlankAgainUnblanks", [](Emulator& e) { e.setValue(kBlank, 1, 0); }, {{0, "blank", "on"}},
          {R"([data-group="east"] [data-projector="hall-a"] [data-action="blank"])"},
          {{0, kBlank, 0, "blank", "off"}}},
    Click{"Input", {}, {}, {R"([data-group="east"] [data-projector="hall-a"] select[data-action="input"])",
                            R"([data-group="east"] [data-projector="hall-a"] option[value="S-Video"])"},
          {{0, kInput, 2, "input", "S-Video"}, {1, kInput, 0, "input", "RGB"}}},
    Click{"PowerOnWaitsOutTheCoolDown", [](Emulator& e) { e.setPower(PowerState::CoolingDown, 2); }, {},
          {R"([data-projector="lobby"] [data-action="power-on"])"},
          {{2, kPower, 1, "power", "On"}}, "Power on done after waiting"},
    Click{"RefusalShownOnTheCard", [](Emulator& e) { e.refuseSet(kPower, true, 1); }, {},
          {R"([data-group="halls"] [data-projector="hall-b"] [data-action="power-off"])"},
          {{1, kPower, 1, "power", "On"}}, "Power off failed: refused"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// ---------------------------------------------------------------------------------------------
// A change made elsewhere appears on the page without a reload.

struct Elsewhere {
    const char* name;
    std::function<void(Site&)> change;
    std::size_t projector;
    const char* field;
    const char* text;
    const char* cardClass = "";  // the card is marked so, beside the words
    const char* marked = "";     // an element of every card of the projector that must exist
};

void PrintTo(const Elsewhere& row, std::ostream* os) { *os << row.name; }

class ChangesElsewhere : public PageTest, public ::testing::WithParamInterface<Elsewhere> {};

TEST_P(ChangesElsewhere, AppearOnThePageWithoutReload) {
    const Elsewhere& row = GetParam();
    row.change(*theSite);
    const std::string& name = kNames[row.projector];
    expectShown(name, row.field, row.text);
    if (*row.cardClass) {
        EXPECT_EQ(browser().findAll("[data-projector=\"" + name + "\"]." + row.cardClass).size(),
                  browser().findAll("[data-projector=\"" + name + "\"]").size());
    }
    if (*row.marked) {
        EXPECT_TRUE(eventually([&] {
            return browser().findAll("[data-projector=\"" + name + "\"] " + row.marked).size() ==
                   browser().findAll("[data-projector=\"" + name + "\"]").size();
        })) << row.marked;
    }
    EXPECT_EQ(browser().execute("return window.sameLoad === true"), true);
}

const auto noReply = [](Site& site) {
    zolvane::emulator::FaultConfig fault;
    fault.kind = zolvane::emulator::FaultKind::NoReply;
    site.emulator().setFault(fault, 2);
};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Page, ChangesElsewhere, ::testing::Values(
    Elsewhere{"EmulatorPowerOff", [](Site& s) { s.emulator().setPower(PowerState::Off, 2); }, 2, "power", "Off"},
    Elsewhere{"InputOfAProjectorOffIsLastKnown", [](Site& s) { s.emulator().setPower(PowerState::Off, 2); }, 2, "input", "RGB", "",
              R"([data-field="input"].last-known[title^="Last known, read at "])"},
    Elsewhere{"CoolingDown", [](Site& s) { s.emulator().setPower(PowerState::CoolingDown, 1); }, 1, "power", "Cooling down"},
    Elsewhere{"CommandThroughTheApi", [](Site& s) { EXPECT_EQ(s.command("hall-a", {{"command", "input"}, {"value", "Video"}}), 200); },
              0, "input", "Video"},
    Elsewhere{"ErrorStatus", [](Site& s) { s.emulator().setValue(kError, 3, 1); }, 1, "error", "Lamp Error", "has-fault"},
    Elsewhere{"LampPastTheWarning", [](Site& s) { s.emulator().setValue(kLamp, 3500, 0); }, 0, "lamp", "3500 h", "lamp-worn"},
    Elsewhere{"ProjectorStopsAnswering", noReply, 2, "reach", "Offline"},
    Elsewhere{"AndItsLastFailure", noReply, 2, "last-failure", "Last failure: "}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// ---------------------------------------------------------------------------------------------
// A write refused for want of the token asks for it once, keeps it, and retries.

struct TokenCase {
    const char* name;
    const char* typed;
    std::uint16_t power;  // lobby's power afterwards
    const char* message;  // on lobby's card
};

void PrintTo(const TokenCase& row, std::ostream* os) { *os << row.name; }

class TokenPrompt : public PageTest, public ::testing::WithParamInterface<TokenCase> {};

TEST_P(TokenPrompt, AsksOnceAndRetries) {
    const TokenCase& row = GetParam();
    browser().execute("localStorage.clear()");
    ASSERT_NO_FATAL_FAILURE(loadPage());
    ASSERT_NO_FATAL_FAILURE(click(R"([data-projector="lobby"] [data-action="power-off"])"));
    const auto input = browser().find("#token-input");
    ASSERT_TRUE(input);
    ASSERT_TRUE(eventually([&] { return browser().displayed(*input); })) << "no token form";
    ASSERT_TRUE(browser().sendKeys(*input, row.typed));
    ASSERT_NO_FATAL_FAILURE(click("#token-form button[type=submit]"));

    EXPECT_TRUE(eventually([&] { return theSite->emulator().value(kPower, 2) == row.power; }));
    expectMessage("lobby", row.message);
    if (row.power == 0) {
        // Kept: the next command goes without asking.
        EXPECT_EQ(browser().execute("return localStorage.getItem('zolvaned-token')"), row.typed);
        ASSERT_NO_FATAL_FAILURE(click(R"([data-projector="lobby"] [data-action="power-on"])"));
        EXPECT_TRUE(eventually([&] { return theSite->emulator().value(kPower, 2) == 1; }));
        EXPECT_FALSE(browser().displayed(*input));
    }
}

INSTANTIATE_TEST_SUITE_P(Page, TokenPrompt,
                         ::testing::Values(TokenCase{"Right", kToken, 0, ""},
                                           TokenCase{"Wrong", "not-the-token", 1,
                                                     "Power off failed: "}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// When the event stream drops the page says so, and it picks up again when the service is back.

TEST_F(PageTest, StreamLossShowsABannerUntilTheServiceIsBack) {
    const auto banner = browser().find("#banner");
    ASSERT_TRUE(banner);
    EXPECT_FALSE(browser().displayed(*banner));
    theSite->stopService();
    EXPECT_TRUE(eventually([&] { return browser().displayed(*banner); }));
    EXPECT_NE(browser().text(*banner).find("Reconnecting"), std::string::npos);

    theSite->emulator().setPower(PowerState::Off, 2);
    ASSERT_TRUE(theSite->startService()) << theSite->failure();
    EXPECT_TRUE(eventually([&] { return !browser().displayed(*banner); }, 40s));
    expectShown("lobby", "power", "Off");
    EXPECT_EQ(browser().execute("return window.sameLoad === true"), true);
}

// ---------------------------------------------------------------------------------------------
// One column with large touch targets on a phone, a grid on a desktop; nothing but the service.

struct Screen {
    const char* name;
    int width;
    int height;
    int minColumns;
    int maxColumns;
};

void PrintTo(const Screen& row, std::ostream* os) { *os << row.name; }

class Layout : public PageTest, public ::testing::WithParamInterface<Screen> {};

TEST_P(Layout, FitsTheScreen) {
    const Screen& screen = GetParam();
    ASSERT_TRUE(browser().setWindowSize(screen.width, screen.height));
    const json measured = browser().execute(R"(
        const cards = [...document.querySelectorAll('[data-group="halls"] .card')];
        const controls = [...document.querySelectorAll('button, select')]
            .filter((e) => e.offsetParent !== null);
        return {
          columns: new Set(cards.map((c) => Math.round(c.getBoundingClientRect().left))).size,
          smallestControl: Math.min(...controls.map((e) => e.getBoundingClientRect().height)),
          overflow: document.documentElement.scrollWidth - document.documentElement.clientWidth,
          foreign: performance.getEntriesByType('resource').map((e) => e.name)
              .filter((name) => !name.startsWith(location.origin)),
        };)");
    ASSERT_TRUE(measured.is_object()) << browser().lastError();
    EXPECT_GE(measured["columns"].get<int>(), screen.minColumns);
    EXPECT_LE(measured["columns"].get<int>(), screen.maxColumns);
    EXPECT_GE(measured["smallestControl"].get<double>(), 44.0);
    EXPECT_LE(measured["overflow"].get<int>(), 0);
    EXPECT_TRUE(measured["foreign"].empty()) << measured["foreign"].dump();
    // To look at the layout: ZOLVANE_WEB_SCREENSHOTS=folder.
    if (const char* folder = std::getenv("ZOLVANE_WEB_SCREENSHOTS")) {
        std::ofstream(std::filesystem::path(folder) / (std::string(screen.name) + ".png"),
                      std::ios::binary)
            << browser().screenshot();
    }
}

INSTANTIATE_TEST_SUITE_P(Page, Layout,
                         ::testing::Values(Screen{"Phone", 390, 844, 1, 1},
                                           Screen{"SmallPhone", 320, 640, 1, 1},
                                           Screen{"Desktop", 1280, 900, 2, 6}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
