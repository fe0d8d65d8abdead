// zolvaned's PJLink gateways as a PJLink controller meets them: the real service as a child,
// three emulated projectors (p0 open, p1 with a password, p2 for faults), plain loopback TCP.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <thread>

#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;
using service_testing::freePort;
using service_testing::ServiceProcess;
using zolvane::emulator::Emulator;
using zolvane::emulator::PowerState;
using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kPower = 0x6000, kInput = 0x2000, kBlank = 0x3020, kMute = 0x2002,
                        kLamp = 0x1090, kError = 0x6020;

std::string md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
    char hex[3];
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", digest[i]);
        out += hex;
    }
    return out;
}

// A PJLink controller: one connection, lines up to CR.
class Client {
public:
    // from: the loopback address it comes from (any of 127/8), as another host would.
    explicit Client(int port, const char* from = nullptr) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        if (from != nullptr) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &source.sin_addr);
            ::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~Client() { ::close(fd_); }
    void send(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void shutdownSending() { ::shutdown(fd_, SHUT_WR); }
    // The next line without its CR; empty when none came in time or the connection closed.
    std::optional<std::string> line(std::chrono::milliseconds timeout = 10s) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            if (const auto end = buffer_.find('\r'); end != std::string::npos) {
                std::string text = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return text;
            }
            if (!fill(deadline)) return {};
        }
    }
    std::optional<std::string> ask(const std::string& command) {
        send(command + "\r");
        return line();
    }
    // True when the service closed the connection within the time, all sent before read away.
    bool closed(std::chrono::milliseconds timeout = 10s) {
        const auto deadline = Clock::now() + timeout;
        while (fill(deadline)) {
        }
        return closed_;
    }

private:
    bool fill(Clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (closed_ || left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char chunk[512];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got <= 0) {
            closed_ = true;
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(got));
        return true;
    }
    int fd_;
    std::string buffer_;
    bool closed_ = false;
};

// Every frame that asked a projector to change something (anything but a get).
std::size_t changeFrames(const Emulator& emulator, std::size_t index) {
    std::size_t count = 0;
    for (const auto& frame : emulator.frames(index)) count += frame.action != 2;
    return count;
}

struct Site {
    Site() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zolvaned-pjlink-XXXXXX");
        folder = ::mkdtemp(pattern.data());
        zolvane::emulator::Options options;
        options.count = 3;
        options.coolingTime = 60s;
        emulator = std::make_unique<Emulator>(options);
        emulator->start();
        std::ofstream(folder / "p1.password") << "secret\nnot this line\n";
        // A port free a moment ago may be taken by a test running beside this one before the
        // service binds it: then the service does not start, and it is tried on other ports.
        for (int attempt = 0; attempt < 5 && !startService(); ++attempt) {
        }
        for (const char* name : {"p0", "p1", "p2"}) {
            EXPECT_TRUE(service->waitForLog(std::string(name) + " online", 10s)) << service->log();
        }
    }
    bool startService() {
        std::string text =
            "[service]\npjlink_idle_timeout_ms = 1500\n"
            "[defaults]\npoll_interval_ms = 100\nslow_poll_interval_ms = 200\n"
            "connect_timeout_ms = 300\nreceive_timeout_ms = 300\noffline_after = 2\n";
        for (std::size_t i = 0; i < 3; ++i) {
            ports[i] = freePort();
            text += "\n[[projector]]\nname = \"p" + std::to_string(i) + "\"\nlabel = \"Hall " +
                    std::to_string(i) +
                    "\"\naddress = \"tcp://127.0.0.1:" + std::to_string(emulator->tcpPort(i)) +
                    "\"\npjlink_port = " + std::to_string(ports[i]) + "\n";
            if (i == 1)
                text += "pjlink_password_file = \"" + (folder / "p1.password").string() + "\"\n";
        }
        std::ofstream(folder / "inventory.toml") << text;
        service = std::make_unique<ServiceProcess>(
            std::vector<std::string>{ZOLVANED, "--inventory", (folder / "inventory.toml").string(),
                                     "--listen", "127.0.0.1:0"});
        for (auto waited = 0ms; waited < 10s; waited += 100ms) {
            if (service->waitForLog("pjlink p2: listening", 100ms)) return true;
            if (service->log().find("Address already in use") != std::string::npos) {
                service->wait(10s);
                return false;
            }
        }
        ADD_FAILURE() << "the gateways did not start\n" << service->log();
        return true;
    }
    ~Site() {
        service->signal(SIGTERM);
        EXPECT_EQ(service->wait(10s), 0) << service->log();
        EXPECT_EQ(service->log().find("Sanitizer"), std::string::npos) << service->log();
        std::filesystem::remove_all(folder);
    }
    std::filesystem::path folder;
    std::unique_ptr<Emulator> emulator;
    std::unique_ptr<ServiceProcess> service;
    int ports[3] = {};
};

// One service for the whole run: it takes seconds to start and the rows reset what they use.
Site* shared = nullptr;
struct Teardown : testing::Environment {
    void TearDown() override { delete shared; }
};
Site& site() {
    if (shared == nullptr) {
        shared = new Site;
        testing::AddGlobalTestEnvironment(new Teardown);
    }
    return *shared;
}

// Asks until the reply is the expected one: the service answers from state it polls.
std::string askUntil(Client& client, const std::string& line, const std::string& expected,
                     std::chrono::milliseconds timeout = 5s) {
    const auto deadline = Clock::now() + timeout;
    std::string reply;
    while (Clock::now() < deadline) {
        reply = client.ask(line).value_or("(none)");
        if (reply == expected) break;
        std::this_thread::sleep_for(50ms);
    }
    return reply;
}

// A test name from a row's line: its letters and digits after the row's number.
std::string nameOf(std::size_t index, std::string_view text) {
    std::string name = std::to_string(index);
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
    }
    return name.substr(0, 24);
}

// ---- every command and its reply, from a known state, with what the projector holds after
struct Row {
    PowerState power;
    std::uint16_t input, blank, mute, lamp, error;
    const char* line;
    const char* reply;
    std::optional<std::pair<std::uint16_t, std::uint16_t>> after;  // type, value
};

class Commands : public testing::TestWithParam<Row> {};

TEST_P(Commands, AreAnsweredAsPjlinkSays) {
    const Row& row = GetParam();
    Emulator& emulator = *site().emulator;
    emulator.setPower(row.power);
    for (auto [type, value] : {std::pair{kInput, row.input},
                               {kBlank, row.blank},
                               {kMute, row.mute},
                               {kLamp, row.lamp},
                               {kError, row.error}}) {
        emulator.setValue(type, value);
    }
    Client client(site().ports[0]);
    ASSERT_EQ(client.line(), "PJLINK 0");
    // The service has seen the state before the line is sent.
    const std::string power = std::to_string(static_cast<int>(row.power));
    ASSERT_EQ(askUntil(client, "%1POWR ?", "%1POWR=" + power), "%1POWR=" + power);
    if (row.power == PowerState::On) {
        const std::string muted = row.blank && row.mute ? "31"
                                  : row.blank           ? "11"
                                  : row.mute            ? "21"
                                                        : "30";
        ASSERT_EQ(askUntil(client, "%1AVMT ?", "%1AVMT=" + muted), "%1AVMT=" + muted);
    }
    const std::string line = row.line;
    if (line.ends_with(" ?") && line.find('\r') == std::string::npos) {
        EXPECT_EQ(askUntil(client, line, row.reply), row.reply);
    } else {  // lines sent at once: every reply, in order, joined with '|'
        client.send(line + "\r");
        std::string replies = client.line().value_or("(none)");
        for (auto n = std::count(line.begin(), line.end(), '\r'); n > 0; --n) {
            replies += "|" + client.line().value_or("(none)");
        }
        EXPECT_EQ(replies, row.reply);
    }
    if (row.after) {
        EXPECT_EQ(emulator.value(row.after->first), row.after->second) << line;
    }
}

constexpr auto On = PowerState::On, Off = PowerState::Off, Cooling = PowerState::CoolingDown;
INSTANTIATE_TEST_SUITE_P(
    Gateway, Commands,
    testing::Values(Row{On, 0, 0, 0, 10, 0, "%1POWR ?", "%1POWR=1", {}},
                    Row{Off, 0, 0, 0, 10, 0, "%1POWR ?", "%1POWR=0", {}},
                    Row{Cooling, 0, 0, 0, 10, 0, "%1POWR ?", "%1POWR=2", {}},
                    Row{On, 0, 0, 0, 10, 0, "%1POWR 0", "%1POWR=OK", {{kPower, 2}}},
                    Row{Off, 0, 0, 0, 10, 0, "%1POWR 1", "%1POWR=OK", {{kPower, 1}}},
                    Row{Cooling, 0, 0, 0, 10, 0, "%1POWR 2", "%1POWR=ERR2", {{kPower, 2}}},
                    Row{Cooling, 0, 0, 0, 10, 0, "%1POWR 1", "%1POWR=ERR3", {{kPower, 2}}},
                    Row{On, 4, 0, 0, 10, 0, "%1INPT ?", "%1INPT=12", {}},
                    Row{On, 3, 0, 0, 10, 0, "%1INPT ?", "%1INPT=31", {}},
                    Row{On, 0, 0, 0, 10, 0, "%1INPT 22", "%1INPT=OK", {{kInput, 2}}},
                    Row{On, 0, 0, 0, 10, 0, "%1INPT 13", "%1INPT=OK", {{kInput, 5}}},
                    Row{On, 0, 0, 0, 10, 0, "%1INPT 41", "%1INPT=ERR2", {{kInput, 0}}},
                    Row{Off, 0, 0, 0, 10, 0, "%1INPT 21", "%1INPT=ERR3", {{kInput, 0}}},
                    Row{On, 0, 1, 1, 10, 0, "%1AVMT ?", "%1AVMT=31", {}},
                    Row{On, 0, 1, 0, 10, 0, "%1AVMT ?", "%1AVMT=11", {}},
                    Row{On, 0, 0, 1, 10, 0, "%1AVMT ?", "%1AVMT=21", {}},
                    Row{On, 0, 0, 0, 10, 0, "%1AVMT ?", "%1AVMT=30", {}},
                    Row{On, 0, 0, 0, 10, 0, "%1AVMT 31", "%1AVMT=OK", {{kMute, 1}}},
                    Row{On,
                        0,
                        0,
                        0,
                        10,
                        0,
                        "%1AVMT 11\r%1AVMT ?\r%1INPT 21\r%1INPT ?",
                        "%1AVMT=OK|%1AVMT=11|%1INPT=OK|%1INPT=21",
                        {{kInput, 1}}},
                    Row{On, 0, 1, 1, 10, 0, "%1AVMT 10", "%1AVMT=OK", {{kBlank, 0}}},
                    Row{On, 0, 1, 1, 10, 0, "%1AVMT 20", "%1AVMT=OK", {{kMute, 0}}},
                    Row{On, 0, 1, 1, 10, 0, "%1AVMT 20", "%1AVMT=OK", {{kBlank, 1}}},
                    Row{On, 0, 0, 0, 10, 0, "%1AVMT 12", "%1AVMT=ERR2", {{kBlank, 0}}},
                    Row{On, 0, 0, 0, 10, 2, "%1ERST ?", "%1ERST=200000", {}},
                    Row{On, 0, 0, 0, 10, 6, "%1ERST ?", "%1ERST=010000", {}},
                    Row{On, 0, 0, 0, 1234, 0, "%1LAMP ?", "%1LAMP=1234 1", {}},
                    Row{Off, 0, 0, 0, 1234, 0, "%1LAMP ?", "%1LAMP=1234 0", {}},
                    Row{On, 0, 0, 0, 10, 0, "%1INST ?", "%1INST=11 12 13 21 22 31", {}},
                    Row{On, 0, 0, 0, 10, 0, "%1NAME ?", "%1NAME=Hall 0", {}},
                    Row{On, 0, 0, 0, 10, 0, "%1INF1 ?", "%1INF1=Zolvane", {}},
                    Row{On, 0, 0, 0, 10, 0, "%1CLSS ?", "%1CLSS=1", {}},
                    Row{On, 0, 0, 0, 10, 0, "%1ERST 1", "%1ERST=ERR2", {}},
                    Row{On, 0, 0, 0, 10, 0, "%1POWR", "%1POWR=ERR2", {}},
                    Row{On, 0, 0, 0, 10, 0, "%1XYZW ?", "%1XYZW=ERR1", {}},
                    Row{On, 0, 0, 0, 10, 0, "%2POWR ?", "%2POWR=ERR1", {{kPower, 1}}}),
    [](const auto& info) { return nameOf(info.index, info.param.line); });

// ---- authentication on p1, whose password is "secret"
struct AuthRow {
    const char* password;  // hashed with the greeting's number; null: no hash at all
    const char* line;
    const char* reply;
    bool staysOpen;
};

class Authentication : public testing::TestWithParam<AuthRow> {};

TEST_P(Authentication, NeedsTheRightHashBeforeTheFirstCommand) {
    const AuthRow& row = GetParam();
    site().emulator->setPower(PowerState::On);
    const std::size_t changesBefore = changeFrames(*site().emulator, 1);
    Client client(site().ports[1]);
    const std::string greeting = client.line().value_or("");
    ASSERT_EQ(greeting.size(), 17u) << greeting;
    ASSERT_EQ(greeting.substr(0, 9), "PJLINK 1 ");
    const std::string hash = row.password ? md5Hex(greeting.substr(9) + row.password) : "";
    EXPECT_EQ(client.ask(hash + row.line), row.reply);
    if (row.staysOpen) {
        EXPECT_EQ(client.ask("%1CLSS ?"), "%1CLSS=1");  // no hash again on one connection
    } else {
        EXPECT_TRUE(client.closed());
        EXPECT_EQ(changeFrames(*site().emulator, 1), changesBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(Gateway, Authentication,
                         testing::Values(AuthRow{"secret", "%1CLSS ?", "%1CLSS=1", true},
                                         AuthRow{"secret", "%1AVMT 30", "%1AVMT=OK", true},
                                         AuthRow{"Secret", "%1AVMT 11", "PJLINK ERRA", false},
                                         AuthRow{"", "%1POWR 0", "PJLINK ERRA", false},
                                         AuthRow{nullptr, "%1POWR 0", "PJLINK ERRA", false}),
                         [](const auto& info) {
                             return nameOf(info.index,
                                           info.param.password ? info.param.password : "none");
                         });

// ---- lines that are no command: ignored or the connection closed, never sent on
struct BadRow {
    std::string bytes;
    std::vector<std::string> replies;
    bool staysOpen;
};

class BadInput : public testing::TestWithParam<BadRow> {};

TEST_P(BadInput, IsBoundedAndNeverReachesTheProjector) {
    const BadRow& row = GetParam();
    Emulator& emulator = *site().emulator;
    emulator.setPower(PowerState::On);
    const std::size_t changesBefore = changeFrames(emulator, 0);
    Client client(site().ports[0]);
    ASSERT_EQ(client.line(), "PJLINK 0");
    client.send(row.bytes);
    for (const std::string& reply : row.replies) EXPECT_EQ(client.line(), reply);
    if (row.staysOpen) {
        EXPECT_EQ(client.ask("%1CLSS ?"), "%1CLSS=1");
    } else {
        EXPECT_TRUE(client.closed());
    }
    EXPECT_EQ(changeFrames(emulator, 0), changesBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Gateway, BadInput,
    testing::Values(
        BadRow{"hello\r", {}, true}, BadRow{std::string("\0\xff\x80\x01\r", 5), {}, true},
        BadRow{"%1PO\xffR 0\r", {}, true}, BadRow{"%1POWR \x01\r", {"%1POWR=ERR2"}, true},
        BadRow{"%1POWR ?\r%1CLSS ?\r\n%1INST ?\r",
               {"%1POWR=1", "%1CLSS=1", "%1INST=11 12 13 21 22 31"},
               true},
        BadRow{"%1POWR 0" + std::string(130, '0') + "\r", {}, false},
        BadRow{std::string(5000, 'A'), {}, false}, BadRow{std::string(5000, '\0'), {}, false}),
    [](const auto& info) { return nameOf(info.index, info.param.bytes); });

// ---- a gateway that cannot start stops the service at start, with the reason
struct StartRow {
    const char* password;    // the file's text; null: no file
    std::string pjlinkPort;  // "HTTP": the port the HTTP API listens on
    const char* logged;
};

class Start : public testing::TestWithParam<StartRow> {};

TEST_P(Start, IsRefusedWithTheReason) {
    const StartRow& row = GetParam();
    std::string pattern = (std::filesystem::temp_directory_path() / "zolvaned-pjlink-XXXXXX");
    const std::filesystem::path folder = ::mkdtemp(pattern.data());
    if (row.password) std::ofstream(folder / "password") << row.password;
    const int http = freePort();
    const std::string port = row.pjlinkPort == "HTTP" ? std::to_string(http) : row.pjlinkPort;
    std::ofstream(folder / "inventory.toml")
        << "[[projector]]\nname = \"p\"\naddress = \"tcp://127.0.0.1:9\"\npjlink_port = " << port
        << "\npjlink_password_file = \"" << (folder / "password").string() << "\"\n";
    ServiceProcess service({ZOLVANED, "--inventory", (folder / "inventory.toml").string(),
                            "--listen", "127.0.0.1:" + std::to_string(http)});
    EXPECT_EQ(service.wait(10s), 1) << service.log();
    EXPECT_NE(service.log().find(row.logged), std::string::npos) << service.log();
    std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Gateway, Start,
    testing::Values(StartRow{nullptr, std::to_string(freePort()), "cannot be read"},
                    StartRow{"", std::to_string(freePort()), "1 to 32 characters"},
                    StartRow{"0123456789abcdef0123456789abcdefX\n", std::to_string(freePort()),
                             "1 to 32 characters"},
                    StartRow{"secret\n", "HTTP", "cannot listen on 127.0.0.1:"}),
    [](const auto& info) { return std::to_string(info.index); });

// ---- idle connections
TEST(Gateway, ClosesIdleConnectionsAndStillAnswersOthers) {
    Client silent(site().ports[2]);
    Client unfinished(site().ports[2]);
    ASSERT_EQ(silent.line(), "PJLINK 0");
    ASSERT_EQ(unfinished.line(), "PJLINK 0");
    unfinished.send("%1POWR");  // never ends its line
    // A crowd of idle clients on p0: past its cap each newcomer takes the place of the
    // quietest, so the latest always gets in and the earliest are closed.
    std::vector<std::unique_ptr<Client>> crowd;
    for (int i = 0; i < 100; ++i) crowd.push_back(std::make_unique<Client>(site().ports[0]));
    Client other(site().ports[1]);
    EXPECT_EQ(other.line(1s).value_or("").substr(0, 9), "PJLINK 1 ");
    EXPECT_EQ(crowd.back()->line(5s), "PJLINK 0");
    EXPECT_EQ(crowd.back()->ask("%1CLSS ?"), "%1CLSS=1");
    EXPECT_TRUE(crowd.front()->closed(5s));
    // The idle time-out is 1.5 s here; generous bounds.
    EXPECT_TRUE(silent.closed(8s));
    EXPECT_TRUE(unfinished.closed(8s));
    crowd.clear();
    Client again(site().ports[0]);
    EXPECT_EQ(again.line(), "PJLINK 0");
}

// ---- a projector that stops answering: an error within a bound, not a hang
TEST(Gateway, AProjectorThatStopsAnsweringGivesErr4) {
    Emulator& emulator = *site().emulator;
    emulator.setPower(PowerState::On, 2);
    Client client(site().ports[2]);
    ASSERT_EQ(client.line(), "PJLINK 0");
    ASSERT_EQ(askUntil(client, "%1POWR ?", "%1POWR=1"), "%1POWR=1");
    zolvane::emulator::FaultConfig fault;
    fault.kind = zolvane::emulator::FaultKind::NoReply;
    emulator.setFault(fault, 2);
    const auto start = Clock::now();
    EXPECT_EQ(client.ask("%1AVMT 11"), "%1AVMT=ERR4");
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(askUntil(client, "%1POWR ?", "%1POWR=ERR4"), "%1POWR=ERR4");
    emulator.clearFault(2);
    fault.kind = zolvane::emulator::FaultKind::Nak;
    emulator.setFault(fault, 2);
    EXPECT_EQ(askUntil(client, "%1POWR ?", "%1POWR=1"), "%1POWR=1");  // a NAK is an answer
    EXPECT_EQ(client.ask("%1POWR 0"), "%1POWR=ERR3");
    emulator.clearFault(2);
}

// ---- lines sent ahead in one write: each answered, in order, as fast as the client reads
struct AheadRow {
    PowerState power;
    std::string lines;  // sent `times` times in one write, then `tail`
    std::size_t times;
    std::string tail;
    std::vector<std::string> replies;  // to `lines`, in order
    bool shutDown;                     // the client then shuts its sending side down
    std::optional<std::pair<std::uint16_t, std::uint16_t>> after;  // type, value
};

class SentAhead : public testing::TestWithParam<AheadRow> {};

TEST_P(SentAhead, IsAnsweredLineByLineInOrder) {
    const AheadRow& row = GetParam();
    Emulator& emulator = *site().emulator;
    emulator.setPower(row.power);
    emulator.setValue(kBlank, 0);
    emulator.setValue(kMute, 0);
    Client client(site().ports[0]);
    ASSERT_EQ(client.line(), "PJLINK 0");
    const std::string power = "%1POWR=" + std::to_string(static_cast<int>(row.power));
    ASSERT_EQ(askUntil(client, "%1POWR ?", power), power);
    if (row.power == On) {
        ASSERT_EQ(askUntil(client, "%1AVMT ?", "%1AVMT=30"), "%1AVMT=30");
    }
    std::string bytes;
    for (std::size_t i = 0; i < row.times; ++i) bytes += row.lines;
    client.send(bytes + row.tail);
    if (row.shutDown) client.shutdownSending();
    for (std::size_t i = 0; i < row.times * row.replies.size(); ++i) {
        ASSERT_EQ(client.line(), row.replies[i % row.replies.size()]) << "reply " << i;
    }
    EXPECT_TRUE(row.shutDown ? client.closed() : client.ask("%1CLSS ?") == "%1CLSS=1");
    if (row.after) {
        EXPECT_EQ(emulator.value(row.after->first), row.after->second);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gateway, SentAhead,
    testing::Values(
        AheadRow{On, "%1CLSS ?\r", 777, "", {"%1CLSS=1"}, false, {}},
        AheadRow{On, "%1INST ?\r", 300, "", {"%1INST=11 12 13 21 22 31"}, false, {}},
        AheadRow{On, "%1CLSS ?\r\n", 4000, "", {"%1CLSS=1"}, false, {}},  // far past 8 kB
        AheadRow{On,
                 "%1AVMT 11\r%1AVMT ?\r%1AVMT 10\r%1AVMT ?\r",
                 20,
                 "",
                 {"%1AVMT=OK", "%1AVMT=11", "%1AVMT=OK", "%1AVMT=30"},
                 false,
                 {{kBlank, 0}}},
        AheadRow{Off, "%1POWR 1\r", 1, "", {"%1POWR=OK"}, true, {{kPower, 1}}},
        AheadRow{
            On, "%1AVMT 11\r%1AVMT ?\r", 1, "", {"%1AVMT=OK", "%1AVMT=11"}, true, {{kBlank, 1}}},
        AheadRow{On, "%1CLSS ?\r", 777, "%1POW", {"%1CLSS=1"}, true, {}}),
    [](const auto& info) { return std::to_string(info.index); });

// ---- password guessing on p1: slowed for the address it comes from, counted in the log
struct GuessRow {
    const char* guesser;     // the address the wrong hashes come from
    const char* controller;  // then one with the password, while one more guess waits
    bool controllerFirst;    // whether it is answered before that guess
};

class Guessing : public testing::TestWithParam<GuessRow> {};

// The failures of an address the log accounts for, and how many of them have a line each.
std::pair<std::size_t, std::size_t> failuresLogged(const std::string& address) {
    const std::string log = site().service->log();
    const std::string a = std::regex_replace(address, std::regex("\\."), "\\.");
    const std::regex any(" (" + a + ":[0-9]+ failed to authenticate)|[:,] ([0-9]+) from " + a +
                         "[,\n ]");
    std::pair<std::size_t, std::size_t> logged{};
    for (auto it = std::sregex_iterator(log.begin(), log.end(), any); it != std::sregex_iterator();
         ++it) {
        logged.first += (*it)[1].matched ? 1 : std::stoul((*it)[2]);
        logged.second += (*it)[1].matched;
    }
    return logged;
}

TEST_P(Guessing, IsSlowedAndCountedAndTheRightPasswordStillGetsIn) {
    const GuessRow& row = GetParam();
    auto authenticate = [](Client& client, const char* password) {
        const std::string greeting = client.line().value_or("PJLINK 1 ");
        client.send(md5Hex(greeting.substr(9) + password) + "%1CLSS ?\r");
    };
    constexpr std::size_t kGuesses = 7;
    Clock::duration waited{};
    for (std::size_t i = 0; i < kGuesses; ++i) {
        Client guess(site().ports[1], row.guesser);
        authenticate(guess, "guess");
        const auto start = Clock::now();
        ASSERT_EQ(guess.line(20s), "PJLINK ERRA") << i;
        waited = Clock::now() - start;
    }
    EXPECT_GE(waited, 500ms);  // the 7th in a row waits 1 s before its hash is looked at
    Client guess(site().ports[1], row.guesser), controller(site().ports[1], row.controller);
    authenticate(guess, "guess");
    authenticate(controller, "secret");
    EXPECT_EQ(controller.line(20s), "%1CLSS=1");
    const std::optional<std::string> guessAnswered = guess.line(200ms);
    EXPECT_EQ(guessAnswered.has_value(), !row.controllerFirst);
    EXPECT_EQ(controller.ask("%1CLSS ?"), "%1CLSS=1");
    EXPECT_EQ(guessAnswered ? guessAnswered : guess.line(20s), "PJLINK ERRA");
    for (auto t = 0s; t < 25s && failuresLogged(row.guesser).first <= kGuesses; t += 1s) {
        std::this_thread::sleep_for(1s);
    }
    EXPECT_EQ(failuresLogged(row.guesser).first, kGuesses + 1) << site().service->log();
    EXPECT_LE(failuresLogged(row.guesser).second, 1u);  // the others are counted
}

INSTANTIATE_TEST_SUITE_P(Gateway, Guessing,
                         testing::Values(GuessRow{"127.0.0.11", "127.0.0.11", false},
                                         GuessRow{"127.0.0.12", "127.0.0.13", true}),
                         [](const auto& info) { return std::to_string(info.index); });

// ---- more commands than a projector's queue takes: the rest answered at once, not left
TEST(Gateway, CommandsBeyondAFullQueueAreAnsweredErr3) {
    Emulator& emulator = *site().emulator;
    emulator.setPower(PowerState::On, 2);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 24; ++i) clients.push_back(std::make_unique<Client>(site().ports[2]));
    for (auto& client : clients) ASSERT_EQ(client->line(), "PJLINK 0");
    ASSERT_EQ(askUntil(*clients[0], "%1POWR ?", "%1POWR=1"), "%1POWR=1");
    zolvane::emulator::FaultConfig slow;
    slow.delay = 150ms;
    slow.onlyType = kBlank;
    emulator.setFault(slow, 2);
    for (auto& client : clients) client->send("%1AVMT 11\r");
    std::size_t refused = 0;
    for (auto& client : clients) {
        const std::string reply = client->line(30s).value_or("(none)");
        EXPECT_TRUE(reply == "%1AVMT=OK" || reply == "%1AVMT=ERR3") << reply;
        refused += reply == "%1AVMT=ERR3";
    }
    EXPECT_GE(refused, 1u);  // at most 16 wait behind the one running
    emulator.clearFault(2);
}

}  // namespace
