// The inventory's [[alert]] and [[notifier]] tables as zolvaned reads and checks them, and the
// webhook's body templates.
#include "alert/rules.h"

#include <date/tz.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "child_process.h"
#include "mqtt/settings.h"
#include "schedule/calendar.h"
#include "zolvane_fleet/inventory_section.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace alert = zolvane::service::alert;

std::filesystem::path freshFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zolvaned-XXXXXX").string();
    return ::mkdtemp(pattern.data());
}

void write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

// Two projectors, a schedule and a journal notifier: 12 lines before each row's table.
constexpr const char* kHead =
    "[[projector]]\nname = \"p0\"\naddress = \"tcp://127.0.0.1:4352\"\ngroups = [\"hall\"]\n"
    "[[schedule]]\nname = \"s-off\"\ntargets = [\"@all\"]\nat = \"22:00\"\n"
    "command = { command = \"power\", value = \"off\" }\n"
    "[[notifier]]\nname = \"log\"\nkind = \"journal\"\n";

// Each row's table after the head, as `zolvaned --check` reads it: the fault on its line.
TEST(AlertRules, FaultsNamedByLine) {
    const std::filesystem::path folder = freshFolder();
    write(folder / "unknown.json", "{\"text\": \"{{colour}}\"}");
    write(folder / "bare.json", "{\"text\": {{sentence}}}");
    const auto file = [&](const char* key, const std::string& name) {
        return std::string(key) + " = \"" + (folder / name).string() + "\"\n";
    };
    // An alert of the kind on lines 13..16, its own keys from line 17.
    const auto rule = [](const std::string& kind, const std::string& keys) {
        return "[[alert]]\nname = \"a\"\nkind = \"" + kind + "\"\nnotifiers = [\"log\"]\n" + keys;
    };
    // A notifier of the kind on lines 13..15, its own keys from line 16.
    const auto notifier = [](const std::string& kind, const std::string& keys) {
        return "[[notifier]]\nname = \"n\"\nkind = \"" + kind + "\"\n" + keys;
    };
    const std::string hook = "url = \"https://chat.example/hook\"\n";
    const std::string mail =
        "url = \"smtp://mail.example\"\nfrom = \"z@example\"\nto = \"a@example\"\n";
    struct Row {
        std::string table;
        int line;
        std::string reason;
    };
    const Row rows[] = {
        {rule("offline", "targets = [\"p9\"]"), 17, "no projector \"p9\" for alert \"a\""},
        {rule("offline", "targets = [\"@attic\"]"), 17, "no group \"attic\" for alert \"a\""},
        {"[[alert]]\nname = \"a\"\nkind = \"offline\"\ntargets = \"p0\"\nnotifiers = [\"pager\"]",
         17, "no notifier \"pager\" for alert \"a\""},
        {rule("lamp_hours", "targets = \"p0\"\nwarning = 3000\ncritical = 2800"), 19,
         "\"warning\" (3000 h) must be below \"critical\" (2800 h)"},
        {rule("filter_hours", "targets = \"p0\"\nwarning = 70000"), 18, "out of range 1..65535"},
        {rule("lamp_hours", "targets = \"p0\""), 13, "needs \"warning\" or \"critical\""},
        {rule("left_on", "targets = \"p0\"\nafter = \"22:00\""), 13,
         "alert \"a\" needs \"before\""},
        {rule("left_on", "targets = \"p0\"\nafter = \"25:00\"\nbefore = \"06:00\""), 18,
         "time \"25:00\" is not HH:MM"},
        {rule("left_on", "targets = \"p0\"\nafter = \"22:00\"\nbefore = \"22:00\""), 19,
         "the same time"},
        {rule("left_on",
              "targets = \"p0\"\nafter = \"22:00\"\nbefore = \"06:00\"\n"
              "timezone = \"Mars/Base\""),
         20, "time zone \"Mars/Base\" is not in the system's zone database"},
        {rule("schedule_failed", "schedules = [\"s-on\"]"), 17,
         "no schedule \"s-on\" for alert \"a\""},
        {rule("schedule_failed", "targets = \"p0\""), 17,
         "\"targets\" is not a key of an alert of kind schedule_failed"},
        {rule("sideways", "targets = \"p0\""), 15, "kind \"sideways\" is not offline, lamp_hours"},
        {rule("offline", "targets = \"p0\"\ncolour = 1"), 18,
         "unknown key \"colour\" in [[alert]]"},
        {notifier("mqtt", ""), 15, "a notifier of kind mqtt needs an [mqtt] table"},
        {notifier("webhook", "url = \"https://chat example/x\""), 16, "cannot be used: it holds"},
        {notifier("webhook", "url = \"ftp://chat.example/x\""), 16, "not http:// or https://"},
        {notifier("webhook", "url = \"http://chat.example:0/x\""), 16, "port is not 1 to 65535"},
        {notifier("email", mail + "user = \"z\"\n" + file("password_file", "none")), 20,
         "the password file \"" + (folder / "none").string() + "\" cannot be read: "},
        {notifier("webhook", hook + file("headers_file", "none")), 17,
         "the headers file \"" + (folder / "none").string() + "\" cannot be read: "},
        {notifier("webhook", hook + file("template", "unknown.json")), 17,
         "unknown field \"colour\""},
        {notifier("webhook", hook + file("template", "bare.json")), 17,
         "the template does not render JSON: "},
        {notifier("email", "url = \"smtps://mail.example\"\ntls = \"starttls\""), 17,
         "an smtps:// url is TLS from the start"},
        {notifier("journal", hook), 16, "\"url\" is not a key of a notifier of kind journal"},
        {notifier("webhook", "url = \"http://h.example\"\nretry_seconds = 0.05"), 17,
         "\"retry_seconds\" is 0.05, out of range 0.1..86400"},
        {"[[notifier]]\nname = \"log\"\nkind = \"journal\"", 14, "notifier \"log\" is named twice"},
        {"[[alert]]\nname = \"a b\"", 14, "alert name \"a b\" must be 1 to 64 letters"},
    };
    const std::string inventory = (folder / "inventory.toml").string();
    for (const Row& row : rows) {
        write(inventory, kHead + row.table + "\n");
        const auto done = cli_testing::Run({ZOLVANED, "--check", inventory}, 30s);
        EXPECT_EQ(done.status, 1) << row.table;
        // One line of the output names the row's line and says its reason.
        std::istringstream out(done.out + done.err);
        const std::string place = inventory + ":" + std::to_string(row.line) + ":";
        bool said = false;
        for (std::string line; std::getline(out, line);) {
            said = said || (line.starts_with(place) && line.find(row.reason) != line.npos);
        }
        EXPECT_TRUE(said) << row.table << "\n" << done.out << done.err;
    }
    std::filesystem::remove_all(folder);
}

// One inventory with every kind of alert and notifier: --check takes it, and the readers give
// each rule and notifier its values, the defaults where it gives none.
TEST(AlertRules, ValidInventoryReads) {
    const std::filesystem::path folder = freshFolder();
    write(folder / "headers", "Authorization: Bearer abc\r\n\n  \nX-Site:  east \n");
    write(folder / "chat.json", "{\"text\": \"{{ title }}: {{sentence}}\"}");
    write(folder / "password", "  pa ss \nsecond line\n");
    write(folder / "ca.pem", "-----BEGIN CERTIFICATE-----\n");
    const std::string f = folder.string() + "/";
    const std::string text =
        "[service]\ntimezone = \"Europe/Berlin\"\n"
        "[[projector]]\nname = \"p0\"\naddress = \"tcp://127.0.0.1:4352\"\ngroups = [\"hall\"]\n"
        "[[projector]]\nname = \"p1\"\naddress = \"tcp://127.0.0.1:4353\"\n"
        "[[projector]]\nname = \"p2\"\naddress = \"tcp://127.0.0.1:4354\"\ngroups = [\"hall\"]\n"
        "[[schedule]]\nname = \"s-off\"\ntargets = \"@all\"\nat = \"22:00\"\n"
        "command = { command = \"power\", value = \"off\" }\n"
        "[[alert]]\nname = \"down\"\nkind = \"offline\"\ntargets = [\"p2\", \"@hall\", \"p2\"]\n"
        "notifiers = [\"hook\", \"log\"]\n"
        "[[alert]]\nname = \"lamp\"\nkind = \"lamp_hours\"\ntargets = \"@all\"\nwarning = 2800\n"
        "critical = 3000\nrepeat_minutes = 60\nnotifiers = \"mail\"\n"
        "[[alert]]\nname = \"night\"\nkind = \"left_on\"\ntargets = \"p1\"\nafter = \"22:00\"\n"
        "before = \"06:00\"\nfor_minutes = 10\nnotifiers = \"bus\"\n"
        "[[alert]]\nname = \"runs\"\nkind = \"schedule_failed\"\nnotifiers = \"log\"\n"
        "[[notifier]]\nname = \"hook\"\nkind = \"webhook\"\nurl = \"https://[::1]:8443/h?x=1\"\n"
        "headers_file = \"" +
        f + "headers\"\ntemplate = \"" + f +
        "chat.json\"\n"
        "retry_seconds = 0.5\nattempts = 3\n"
        "[[notifier]]\nname = \"mail\"\nkind = \"email\"\nurl = \"smtp://mail.example:587\"\n"
        "from = \"z@example\"\nto = [\"a@example\", \"b@example\"]\nuser = \"z\"\n"
        "password_file = \"" +
        f + "password\"\nca_file = \"" + f +
        "ca.pem\"\n"
        "[[notifier]]\nname = \"bus\"\nkind = \"mqtt\"\ntimeout_seconds = 4\n"
        "[[notifier]]\nname = \"log\"\nkind = \"journal\"\n"
        "[mqtt]\nhost = \"127.0.0.1\"\n";
    write(folder / "inventory.toml", text);
    const auto checked = cli_testing::Run({ZOLVANED, "--check", f + "inventory.toml"}, 30s);
    EXPECT_EQ(checked.status, 0) << checked.out << checked.err;

    zolvane::service::Settings service;
    std::vector<zolvane::service::schedule::Schedule> schedules;
    std::optional<zolvane::service::mqtt::Settings> mqtt;
    alert::Alerting alerting;
    const std::unique_ptr<zolvane::fleet::InventorySection> readers[] = {
        zolvane::service::settingsReader(service),
        zolvane::service::schedule::schedulesReader(service, schedules),
        alert::alertsReader(service, schedules, alerting),
        zolvane::service::mqtt::settingsReader(mqtt)};
    std::vector<zolvane::fleet::InventorySection*> sections;
    for (const auto& reader : readers) sections.push_back(reader.get());
    const auto loaded = zolvane::fleet::parseInventory(text, false, sections);
    ASSERT_TRUE(loaded.faults.empty()) << loaded.faults[0].line << ": " << loaded.faults[0].reason;

    ASSERT_EQ(alerting.rules.size(), 4u);
    const alert::Rule& down = alerting.rules[0];
    EXPECT_EQ(down.projectors, (std::vector<std::string>{"p0", "p2"}));
    EXPECT_EQ(down.forMinutes, 5min);
    EXPECT_FALSE(down.repeat);
    EXPECT_EQ(down.notifiers, (std::vector<std::string>{"hook", "log"}));
    const alert::Rule& lamp = alerting.rules[1];
    EXPECT_EQ(lamp.kind, alert::Kind::LampHours);
    EXPECT_EQ(lamp.projectors.size(), 3u);
    EXPECT_EQ(lamp.forMinutes, 0min);
    EXPECT_EQ(lamp.repeat, 60min);
    EXPECT_EQ(lamp.warning, 2800u);
    EXPECT_EQ(lamp.critical, 3000u);
    const alert::Rule& night = alerting.rules[2];
    EXPECT_EQ(night.after, 22h);
    EXPECT_EQ(night.before, 6h);
    EXPECT_EQ(night.forMinutes, 10min);
    ASSERT_NE(night.zone, nullptr);
    EXPECT_EQ(night.zone->name(), "Europe/Berlin");
    EXPECT_EQ(alerting.rules[3].kind, alert::Kind::ScheduleFailed);
    EXPECT_TRUE(alerting.rules[3].schedules.empty());
    EXPECT_TRUE(alerting.rules[3].projectors.empty());

    ASSERT_EQ(alerting.notifiers.size(), 4u);
    const alert::Notifier& hook = alerting.notifiers[0];
    using Headers = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(hook.headers, (Headers{{"Authorization", "Bearer abc"}, {"X-Site", "east"}}));
    ASSERT_TRUE(hook.body);
    EXPECT_EQ(hook.retryFirst, 500ms);
    EXPECT_EQ(hook.retryMost, 3600s);
    EXPECT_EQ(hook.attempts, 3u);
    EXPECT_EQ(hook.timeout, 10s);
    const alert::Notifier& mail = alerting.notifiers[1];
    EXPECT_EQ(mail.tls, alert::Tls::StartTls);
    EXPECT_EQ(mail.password, "pa ss");
    EXPECT_EQ(mail.to, (std::vector<std::string>{"a@example", "b@example"}));
    EXPECT_EQ(mail.caFile, f + "ca.pem");
    EXPECT_EQ(alerting.notifiers[2].kind, alert::NotifierKind::Mqtt);
    EXPECT_EQ(alerting.notifiers[2].timeout, 4s);
    EXPECT_EQ(alerting.notifiers[3].retryFirst, 30s);
    EXPECT_EQ(alerting.notifiers[3].attempts, 20u);
    std::filesystem::remove_all(folder);
}

// Each field rendered as the inside of a JSON string, whatever it holds.
TEST(BodyTemplate, RendersEscapedFields) {
    const json alertOf = {{"id", 12},
                          {"rule", "lamp-end"},
                          {"projector", "hall-a"},
                          {"schedule", nullptr},
                          {"severity", "warning"},
                          {"value", "2810 h"}};
    struct Row {
        std::string sentence, text, expected;
    };
    const Row rows[] = {
        {"say \"hi\"\\\nbye", "{\"t\": \"{{sentence}}\"}", "{\"t\": \"say \\\"hi\\\"\\\\\\nbye\"}"},
        {"bad \xff\x01", "{\"t\": \"{{ sentence }}\"}", "{\"t\": \"bad \xef\xbf\xbd\\u0001\"}"},
        {"", "[\"{{schedule}}\", {{id}}, \"{{acknowledged_by}}\"]", "[\"\", 12, \"\"]"},
        {"", "{\"t\": \"{{title}}\"}", "{\"t\": \"[zolvaned] FIRING warning: hall-a lamp-end\"}"},
    };
    for (const Row& row : rows) {
        std::string fault;
        const auto body = alert::BodyTemplate::parse(row.text, &fault);
        ASSERT_TRUE(body) << row.text << ": " << fault;
        const json notification = {{"event", "firing"},
                                   {"alert", alertOf},
                                   {"projector", nullptr},
                                   {"sentence", row.sentence}};
        const std::string rendered = body->render(notification);
        EXPECT_EQ(rendered, row.expected) << row.text;
        EXPECT_TRUE(json::accept(rendered)) << rendered;
    }
}

}  // namespace
