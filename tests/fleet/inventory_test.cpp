// The inventory reader: every kind of fault named with its line, and a sound file read whole.
#include "zolvane_fleet/inventory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "mqtt/settings.h"
#include "pjlink/settings.h"
#include "settings.h"
#include "zolvane_fleet/inventory_section.h"

using namespace zolvane::fleet;
using std::chrono::milliseconds;
namespace service = zolvane::service;

namespace {

// The inventory as the service reads it: the fleet's part and the service's sections.
struct ServiceRead {
    service::Settings service;
    std::optional<service::mqtt::Settings> mqtt;
    service::pjlink::Settings pjlink;
    LoadResult result;
};

ServiceRead serviceRead(std::string_view text) {
    ServiceRead read;
    const std::unique_ptr<InventorySection> readers[] = {
        service::settingsReader(read.service), service::mqtt::settingsReader(read.mqtt),
        service::pjlink::settingsReader(read.pjlink, read.service)};
    InventorySection* const sections[] = {readers[0].get(), readers[1].get(), readers[2].get()};
    read.result = parseInventory(text, true, sections);
    return read;
}

LoadResult read(std::string_view text) { return serviceRead(text).result; }

struct BadFile {
    const char* text;
    int line;
    const char* word;  // part of the reason
};

const std::string kGood = "address = \"tcp://127.0.0.1:2323\"\n";

class BadInventory : public testing::TestWithParam<BadFile> {};

TEST_P(BadInventory, IsRefusedWithLineAndReason) {
    const LoadResult result = read(GetParam().text);
    EXPECT_FALSE(result.inventory);
    ASSERT_EQ(result.faults.size(), 1u) << result.faults.front().reason;
    EXPECT_EQ(result.faults[0].line, GetParam().line) << result.faults[0].reason;
    EXPECT_NE(result.faults[0].reason.find(GetParam().word), std::string::npos)
        << result.faults[0].reason;
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// Line 1 is always "[[projector]]" where a projector is needed.
#define P "[[projector]]\nname = \"a\"\n"
#define A "address = \"tcp://127.0.0.1\"\n"
#define M "[mqtt]\nhost = \"broker\"\n"
const std::string kLongLabel = P A "label = \"" + repeated("\u00e9", 129) + "\"\n";
#define S(address) "address = \"" address "\"\n"
#define B(address) "[[projector]]\nname = \"b\"\naddress = \"" address "\"\n"
#define L1 "leads to the projector of"
INSTANTIATE_TEST_SUITE_P(
    Faults, BadInventory,
    testing::Values(BadFile{"[[projector]]\nname = \"a\n", 2, "string"},  // TOML itself
                    BadFile{P A "colour = 3\n", 4, "unknown key \"colour\""},
                    BadFile{P A "[projector.extra]\nx = 1\n", 4, "unknown table \"extra\""},
                    BadFile{"[lights]\non = true\n", 1, "unknown table \"lights\""},
                    BadFile{"projector = 3\n", 1, "array of tables"},
                    BadFile{"projector = [1]\n", 1, "array of tables"},
                    BadFile{P A "label = \"a\\nb\"\n", 4, "control characters"},
                    BadFile{"[service]\nport = 1\n", 2, "unknown key \"port\""},
                    BadFile{"[defaults]\nretries = 1\n", 2, "unknown key \"retries\""},
                    BadFile{"defaults = 1\n", 1, "must be a table"},
                    BadFile{P A "poll_interval_ms = \"5000\"\n", 4, "integer"},
                    BadFile{P A "gap_ms = 1.5\n", 4, "integer"},
                    BadFile{P A "groups = \"halls\"\n", 4, "array"},
                    BadFile{P A "groups = [1]\n", 4, "string"},
                    BadFile{P "address = 23\n", 3, "string"},
                    BadFile{P A "[[projector]]\nname = \"a\"\naddress = \"tcp://h\"\n", 4,
                            "used twice (first on line 1)"},
                    BadFile{P A "[[projector]]\nname = \"b\"\n" A, 4,
                            "address \"tcp://127.0.0.1\" is used twice"},
                    BadFile{"[[projector]]\nname = \"hall a\"\n" A, 2, "bad projector name"},
                    BadFile{"[[projector]]\nname = \"\"\n" A, 2, "bad projector name"},
                    BadFile{P A "groups = [\"all\"]\n", 4, "\"all\" cannot be"},
                    BadFile{P A "groups = [\"x/y\"]\n", 4, "bad group name"},
                    BadFile{P "address = \"tcp://127.0.0.1:99999\"\n", 3, "cannot be used"},
                    BadFile{P "address = \"ftp://host\"\n", 3, "cannot be used"},
                    BadFile{P "address = \"pjlink://h/x\"\n", 3, "pjlink://HOST[:PORT]"},
                    BadFile{P "address = \"pjlink://h:0\"\n", 3, "pjlink://HOST[:PORT]"},
                    BadFile{P "address = \"pjlink://h:4x\"\n", 3, "pjlink://HOST[:PORT]"},
                    BadFile{P "address = \"pjlink://\"\n", 3, "pjlink://HOST[:PORT]"},
                    BadFile{P "address = \"pjlink://h\"\npassword_file = \"/no/such\"\n", 4,
                            "\"password_file\" \"/no/such\""},
                    BadFile{P A "password_file = \"/dev/null\"\n", 4, "for \"pjlink://\""},
                    BadFile{"[[projector]]\n" A, 1, "without a \"name\""},
                    BadFile{P, 1, "without an \"address\""},
                    BadFile{P A "receive_timeout_ms = 0\n", 4, "out of range 1..600000"},
                    BadFile{P A "connect_timeout_ms = 600001\n", 4, "out of range"},
                    BadFile{P A "gap_ms = 60001\n", 4, "out of range 0..60000"},
                    BadFile{P A "poll_interval_ms = 99\n", 4, "out of range 100..86400000"},
                    BadFile{P A "slow_poll_interval_ms = 86400001\n", 4, "out of range"},
                    BadFile{P A "offline_after = 0\n", 4, "out of range 1..100"},
                    BadFile{P A "cooling_wait_ms = 3600001\n", 4, "out of range 0..3600000"},
                    BadFile{"[defaults]\nsend_timeout_ms = -1\n", 2, "out of range"},
                    BadFile{"[service]\nlisten = \"127.0.0.1\"\n", 2, "has no port"},
                    BadFile{"[service]\nlisten = \"[::1:8470\"\n", 2, "closing"},
                    BadFile{"[service]\nlisten = \"[nope]:8470\"\n", 2, "IPv6"},
                    BadFile{"[service]\nlisten = \"1.2.3:8470\"\n", 2, "host"},
                    BadFile{"[service]\nlisten = \"localhost:0\"\n", 2, "1..65535"},
                    BadFile{"[service]\nlisten = \"localhost:84x0\"\n", 2, "port"},
                    BadFile{"[service]\nlamp_warning_hours = 70000\n", 2, "out of range"},
                    BadFile{"[service]\ntoken_file = \"\"\n", 2, "empty"},
                    BadFile{"mqtt = 1\n", 1, "must be a table"},
                    BadFile{"[mqtt]\nport = 1883\n", 1, "without a \"host\""},
                    BadFile{M "colour = 1\n", 3, "unknown key \"colour\" in [mqtt]"},
                    BadFile{M "port = 0\n", 3, "out of range 1..65535"},
                    BadFile{M "qos = 3\n", 3, "out of range 0..2"},
                    BadFile{M "keepalive_s = 1\n", 3, "out of range 5..3600"},
                    BadFile{M "discovery = 1\n", 3, "true or false"},
                    BadFile{M "client_id = \"\"\n", 3, "must not be empty"},
                    BadFile{M "site = \"a+b\"\n", 3, "no topic level"},
                    BadFile{M "site = \"a/b\"\n", 3, "no topic level"},
                    BadFile{M "topic_prefix = \"a/#\"\n", 3, "no topic level"},
                    BadFile{M "topic_prefix = \"a//b\"\n", 3, "no topic level"},
                    BadFile{M "discovery_prefix = \"/ha\"\n", 3, "no topic level"},
                    BadFile{M "password_file = \"/p\"\n", 3, "needs \"username\""},
                    BadFile{P A "pjlink_port = 0\n", 4, "out of range 1..65535"},
                    BadFile{P A "pjlink_port = 4352\n[[projector]]\nname = \"b\"\n"
                                "address = \"tcp://h\"\npjlink_port = 4352\n",
                            8, "\"pjlink_port\" 4352 is used twice (first on line 1)"},
                    BadFile{P A "pjlink_port = 8470\n", 4, "HTTP port"},
                    BadFile{P A "pjlink_password_file = \"/p\"\n", 4, "needs \"pjlink_port\""},
                    BadFile{P A "pjlink_port = 1\npjlink_password_file = \"\"\n", 5, "empty"},
                    BadFile{"[service]\npjlink_host = \"a b\"\n", 2, "no address"},
                    BadFile{"[service]\npjlink_idle_timeout_ms = 1\n", 2, "out of range"},
                    BadFile{P A "max_queued = 0\n", 4, "out of range 1..1024"},
                    BadFile{kLongLabel.c_str(), 4, "at most 128 characters"},
                    BadFile{P A "label = \"a\u0085b\"\n", 4, "control characters"},
                    // One projector under two spellings of its address.
                    BadFile{P S("tcp://127.0.0.1:2323") B("TCP://127.0.0.1:2323"), 4, L1},
                    BadFile{P S("tcp://127.0.0.1:2323") B("tcp://localhost:2323"), 4, L1},
                    BadFile{P S("tcp://127.0.0.1:2323") B("tcp://127.0.0.1:02323"), 4, L1},
                    BadFile{P S("tcp://127.0.0.1:2323") B("tcp://127.000.000.001:2323"), 4, L1},
                    BadFile{P S("tcp://127.0.0.1:2323") B("tcp://[::ffff:127.0.0.1]:2323"), 4, L1},
                    BadFile{P S("tcp://127.0.0.1") B("tcp://127.0.0.1:23"), 4, L1},
                    BadFile{P S("tcp://[::1]:23") B("tcp://[0:0::1]:23"), 4, L1},
                    BadFile{P S("serial:///dev/null") B("serial:////dev/null"), 4, L1},
                    BadFile{P S("serial:///dev/ttyS0") B("COM1"), 4, L1},
                    BadFile{P S("tcp://127.0.0.1:4352") B("PJLINK://localhost"), 4, L1}));
#undef L1
#undef B
#undef S
#undef M
#undef P
#undef A

// Texts are counted in characters, and near addresses are other projectors.
TEST(Inventory, TakesLongLabelsInCharactersAndNeighbouringAddresses) {
    const std::string label = repeated("\u00e9", 128);
    const LoadResult result = parseInventory(
        "[[projector]]\nname = \"a\"\naddress = \"tcp://127.0.0.1:2323\"\nlabel = \"" + label +
        "\"\n[[projector]]\nname = \"b\"\naddress = \"tcp://127.0.0.1:2324\"\n"
        "[[projector]]\nname = \"c\"\naddress = \"tcp://127.0.0.2:2323\"\n"
        "[[projector]]\nname = \"d\"\naddress = \"serial:///dev/ttyS1\"\n"
        "[[projector]]\nname = \"e\"\naddress = \"COM1\"\n");
    ASSERT_TRUE(result.inventory) << result.faults.front().reason;
    EXPECT_EQ(result.inventory->projectors.size(), 5u);
    EXPECT_EQ(result.inventory->projectors[0].label, label);
}

// What is not a regular file is refused before it is read: a device never ends, a FIFO waits
// for a writer for ever. A link to a serial device is the device itself.
TEST(Inventory, RefusesWhatIsNoFileAndSeesThroughDeviceLinks) {
    const std::filesystem::path folder = testing::TempDir() + "/inventory-kinds";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/null", folder / "by-id-link");
    const struct {
        std::filesystem::path file;
        const char* reason;
    } rows[] = {
        {"/dev/zero", "not a regular file"},
        {folder / "fifo", "not a regular file"},
        {folder, "it is a folder"},
        {folder / "missing.toml", "No such file"},
    };
    for (const auto& row : rows) {
        const LoadResult result = loadInventory(row.file);
        ASSERT_EQ(result.faults.size(), 1u) << row.file;
        EXPECT_NE(result.faults[0].reason.find(row.reason), std::string::npos)
            << row.file << ": " << result.faults[0].reason;
    }
    const LoadResult linked = parseInventory(
        "[[projector]]\nname = \"a\"\naddress = \"serial:///dev/null\"\n"
        "[[projector]]\nname = \"b\"\naddress = \"serial://" +
        (folder / "by-id-link").string() + "\"\n");
    ASSERT_EQ(linked.faults.size(), 1u);
    EXPECT_EQ(linked.faults[0].line, 4);
    EXPECT_NE(linked.faults[0].reason.find("leads to the projector of \"serial:///dev/null\" on "
                                           "line 1"),
              std::string::npos)
        << linked.faults[0].reason;
    std::filesystem::remove_all(folder);
}

TEST(Inventory, CollectsEveryFaultInLineOrder) {
    const LoadResult result = read(
        "[[projector]]\nname = \"b c\"\naddress = \"tcp://:1\"\n[service]\nlisten = 5\nx = 1\n");
    std::vector<int> lines;
    for (const Fault& fault : result.faults) lines.push_back(fault.line);
    EXPECT_EQ(lines, (std::vector<int>{2, 3, 5, 6}));
    EXPECT_EQ(describe("site.toml", result.faults[0]).rfind("site.toml:2:8: bad projector", 0), 0u);
    EXPECT_EQ(describe("site.toml", Fault{0, 0, "cannot be read"}), "site.toml: cannot be read");
    EXPECT_EQ(describe("site.toml", Fault{3, 1, "bad name \"\x1b[2J\xff\""}),
              "site.toml:3:1: bad name \"\\x1b[2J\\xff\"");  // shown, never obeyed
    EXPECT_EQ(loadInventory("/nonexistent/site.toml").faults.at(0).line, 0);
    EXPECT_TRUE(parseInventory("projector = []\n").inventory);  // a site with none yet
}

TEST(Inventory, ReadsServiceDefaultsAndOverrides) {
    const ServiceRead read = serviceRead(R"(
[service]
listen = "[::1]:9000"
token_file = "/etc/zolvaned/token"
lamp_warning_hours = 2500
max_body_bytes = 4096

[[projector]]
name = "hall-a"
address = "tcp://10.0.0.21:23"
groups = ["halls", "east", "halls"]
label = "Hall A"
receive_timeout_ms = 2000
offline_after = 5

[defaults]
poll_interval_ms = 2000
slow_poll_interval_ms = 30000
connect_timeout_ms = 1500
send_timeout_ms = 1600
receive_timeout_ms = 1700
gap_ms = 20
cooling_wait_ms = 90000
offline_after = 4

[[projector]]
name = "Room_1.b"
address = "serial:///dev/ttyUSB0"
)");
    ASSERT_TRUE(read.result.inventory) << read.result.faults.front().reason;
    const Inventory& inventory = *read.result.inventory;
    EXPECT_EQ(read.service.listenHost, "::1");
    EXPECT_EQ(read.service.listenPort, 9000);
    EXPECT_EQ(read.service.tokenFile, "/etc/zolvaned/token");
    EXPECT_EQ(read.service.lampWarningHours, 2500u);
    EXPECT_EQ(read.service.maxBodyBytes, 4096u);
    ASSERT_EQ(inventory.projectors.size(), 2u);

    const ProjectorEntry& a = inventory.projectors[0];
    EXPECT_EQ(a.name, "hall-a");
    EXPECT_EQ(a.label, "Hall A");
    EXPECT_EQ(a.address, "tcp://10.0.0.21:23");
    EXPECT_EQ(a.groups, (std::vector<std::string>{"halls", "east"}));
    EXPECT_EQ(a.line, 8);
    EXPECT_EQ(a.timing.receiveTimeout, milliseconds(2000));
    EXPECT_EQ(a.timing.offlineAfter, 5u);
    EXPECT_EQ(a.timing.pollInterval, milliseconds(2000));  // from [defaults], written after it

    const ProjectorEntry& b = inventory.projectors[1];
    EXPECT_EQ(b.label, "Room_1.b");
    EXPECT_TRUE(b.groups.empty());
    const Timing& t = b.timing;
    EXPECT_EQ(t.pollInterval, milliseconds(2000));
    EXPECT_EQ(t.slowPollInterval, milliseconds(30000));
    EXPECT_EQ(t.connectTimeout, milliseconds(1500));
    EXPECT_EQ(t.sendTimeout, milliseconds(1600));
    EXPECT_EQ(t.receiveTimeout, milliseconds(1700));
    EXPECT_EQ(t.gap, milliseconds(20));
    EXPECT_EQ(t.coolingWait, milliseconds(90000));
    EXPECT_EQ(t.offlineAfter, 4u);

    EXPECT_EQ(inventory.find("Room_1.b"), &b);
    EXPECT_EQ(inventory.find("nobody"), nullptr);
    EXPECT_EQ(inventory.groups(), (std::vector<std::string>{"east", "halls"}));
}

// Without a word from the file each link keeps its own time-outs: a dead serial projector
// costs one second a poll, not three.
TEST(InventoryRead, SerialLinksKeepTheirOwnTimeOuts) {
    const LoadResult result = parseInventory(R"(
[[projector]]
name = "net"
address = "tcp://10.0.0.21"
[[projector]]
name = "wire"
address = "serial:///dev/ttyS0"
[[projector]]
name = "told"
address = "serial:///dev/ttyS1"
receive_timeout_ms = 2500
)");
    ASSERT_TRUE(result.inventory);
    const auto& p = result.inventory->projectors;
    EXPECT_EQ(p[0].timing.receiveTimeout, milliseconds(3000));
    EXPECT_EQ(p[1].timing.sendTimeout, milliseconds(630));
    EXPECT_EQ(p[1].timing.receiveTimeout, milliseconds(1000));
    EXPECT_EQ(p[2].timing.sendTimeout, milliseconds(630));
    EXPECT_EQ(p[2].timing.receiveTimeout, milliseconds(2500));
}

// A PJLink projector's password file is read when the inventory is: the password on its first
// line, at most 32 characters, without control characters.
TEST(InventoryRead, PjlinkPasswordFilesAreCheckedAsTheyAreRead) {
    const std::filesystem::path dir = testing::TempDir() + "pjlink-passwords";
    std::filesystem::create_directories(dir);
    const struct {
        const char* content;
        const char* fault;  // empty: read
    } rows[] = {
        {"secret\n", ""},
        {"secret\r\nsecond line\n", ""},
        {"12345678901234567890123456789012", ""},
        {"123456789012345678901234567890123", "more than 32 characters"},
        {"", "is empty"},
        {"\n", "is empty"},
        {"pass\tword", "control character"},
    };
    int n = 0;
    for (const auto& row : rows) {
        const std::filesystem::path file = dir / std::to_string(n++);
        std::ofstream(file, std::ios::binary) << row.content;
        const LoadResult result = parseInventory(
            "[[projector]]\nname = \"p\"\naddress = \"pjlink://10.0.0.9\"\npassword_file = \"" +
                file.string() + "\"\n",
            false);
        SCOPED_TRACE(row.content);
        if (*row.fault == '\0') {
            ASSERT_TRUE(result.inventory);
            EXPECT_EQ(result.inventory->projectors[0].passwordFile, file.string());
        } else {
            ASSERT_EQ(result.faults.size(), 1u);
            EXPECT_EQ(result.faults[0].line, 4);
            EXPECT_NE(result.faults[0].reason.find(row.fault), std::string::npos)
                << result.faults[0].reason;
        }
    }
}

}  // namespace

// The broker table: every key as given, and the site and client id made from the host name.
TEST(InventoryRead, MqttKeysAndDefaults) {
    const ServiceRead full = serviceRead(R"([mqtt]
host = "broker"
port = 8883
client_id = "c1"
username = "u"
password_file = "/p"
ca_file = "/ca.pem"
topic_prefix = "a/b"
site = "west.1"
qos = 2
discovery = false
discovery_prefix = "ha"
keepalive_s = 10
)");
    ASSERT_TRUE(full.result.inventory && full.mqtt) << full.result.faults.front().reason;
    const service::mqtt::Settings& m = *full.mqtt;
    EXPECT_EQ(std::tie(m.host, m.port, m.clientId, m.username, m.passwordFile, m.caFile),
              std::make_tuple("broker", 8883, "c1", "u", "/p", "/ca.pem"));
    EXPECT_EQ(std::tie(m.topicPrefix, m.site, m.qos, m.discovery, m.discoveryPrefix),
              std::make_tuple("a/b", "west.1", 2, false, "ha"));
    EXPECT_EQ(m.keepalive, std::chrono::seconds(10));
    EXPECT_EQ(m.line, 1);

    const ServiceRead bare = serviceRead("[mqtt]\nhost = \"broker\"\n");
    ASSERT_TRUE(bare.result.inventory && bare.mqtt);
    const service::mqtt::Settings& d = *bare.mqtt;
    EXPECT_FALSE(d.site.empty());
    EXPECT_EQ(d.site.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                       "0123456789-_"),
              std::string::npos);
    EXPECT_EQ(d.clientId, "zolvaned-" + d.site);
    EXPECT_EQ(std::tie(d.port, d.qos, d.topicPrefix), std::make_tuple(1883, 1, "zolvane"));
    EXPECT_FALSE(serviceRead("").mqtt);
}

// Without the service's sections its tables and keys are refused like any unknown one; with
// them, what they read is theirs.
TEST(InventoryRead, TheServiceTablesAndKeysAreItsSections) {
    const LoadResult alone = parseInventory(
        "[service]\nlisten = \"x\"\n[mqtt]\nport = 0\n[[projector]]\nname = \"a\"\n"
        "address = \"tcp://127.0.0.1\"\npjlink_port = 4352\npjlink_password_file = \"/p\"\n",
        false);
    std::vector<std::string> faults;
    for (const Fault& fault : alone.faults) faults.push_back(describe("", fault).substr(1));
    EXPECT_EQ(faults, (std::vector<std::string>{
                          "1:2: unknown table \"service\"", "3:2: unknown table \"mqtt\"",
                          "8:1: unknown key \"pjlink_port\" in [[projector]]",
                          "9:1: unknown key \"pjlink_password_file\" in [[projector]]"}));
    const ServiceRead read = serviceRead(
        "[[projector]]\nname = \"a\"\naddress = \"tcp://127.0.0.1\"\npjlink_port = 4352\n"
        "pjlink_password_file = \"/p\"\n[[projector]]\nname = \"b\"\naddress = \"tcp://h\"\n");
    ASSERT_EQ(read.pjlink.ports.size(), 1u);
    EXPECT_EQ(std::tie(read.pjlink.ports[0].projector, read.pjlink.ports[0].number,
                       read.pjlink.ports[0].passwordFile),
              std::make_tuple("a", 4352, "/p"));
}
