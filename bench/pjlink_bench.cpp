// The PJLink gateway under load: zolvaned, run as a child process, watches 200 projectors that
// one emulator inside this process serves over loopback TCP, and stands in for each of them as
// a PJLink projector on a port of its own. One run of about a minute prints one table:
//   - a query ("%1POWR ?", "%1LAMP ?") on one kept-open connection, answered from the state
//     the service knows, and the same with a new connection (and authentication) per query;
//   - a command ("%1AVMT 31" / "%1AVMT 30", "%1INPT 11" / "%1INPT 21") against the exchanges
//     it needs, each timed alone through the library on a projector the service does not
//     watch; the emulator's frame log says how many exchanges a command took;
//   - both again with 50 PJLink clients on 50 projectors at once, back to back and paced, and
//     the library's exchange with 50 links at once as the yardstick;
//   - a query with 1000 idle connections held open on the other gateways;
//   - the service's CPU per PJLink line and its memory.
// Every reply is checked (and after a command, the emulated projector's state); a reply that
// is wrong counts as failed and is left out of the figures.
//
// zolvaned is the one built beside this benchmark, or the program ZOLVANED names. Its log goes
// to a file in the run's temporary directory, named at the end.
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "projector_emulator/emulator.h"
#include "service_api.h"
#include "service_harness.h"
#include "zolvane_link.h"

namespace {

namespace emu = zolvane::emulator;
using namespace zolvane::bench;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Json = nlohmann::json;

constexpr int kProjectors = 200;  // watched by the service, each with a PJLink port
constexpr int kSpare = 50;        // served by the emulator, unknown to the service
constexpr int kClients = 50;
constexpr int kLoaded = 50;  // the first projector of the 50 the loaded clients drive
constexpr int kSecured = 1;  // the projector with a password
constexpr int kIdle = 1000;
constexpr milliseconds kPollInterval{5000};
constexpr seconds kPhase{5};
constexpr milliseconds kPace{100};
constexpr double kTargetMs = 5.0;
const std::string kPassword = "bench-secret";

constexpr uint16_t kInput = 0x2000, kMute = 0x2002, kBlank = 0x3020;

// The authentication digest, by the same library the service uses.
std::string Md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
    std::string out;
    for (unsigned int i = 0; i < size; ++i) out += Format("%02x", digest[i]);
    return out;
}

// ---- a PJLink class 1 client

class PjlinkClient {
public:
    PjlinkClient() = default;
    PjlinkClient(const PjlinkClient&) = delete;
    PjlinkClient& operator=(const PjlinkClient&) = delete;
    ~PjlinkClient() { close(); }

    // Connects and reads the greeting: "PJLINK 0", or "PJLINK 1 <random>" when the projector
    // has a password, whose digest then goes before the first command.
    bool open(uint16_t port, const std::string& password = {}) {
        close();
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return false;
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return false;
        const auto greeting = readLine();
        if (!greeting) return false;
        if (*greeting == "PJLINK 0") return true;
        if (greeting->rfind("PJLINK 1 ", 0) == 0 && !password.empty()) {
            digest_ = Md5Hex(greeting->substr(9) + password);
            return true;
        }
        return false;
    }

    // Sends one line (CR added) and reads the one reply (CR taken off).
    std::optional<std::string> ask(const std::string& line) {
        const std::string out = digest_ + line + '\r';
        digest_.clear();
        if (::send(fd_, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) {
            return std::nullopt;
        }
        return readLine();
    }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        buffer_.clear();
        digest_.clear();
    }

private:
    std::optional<std::string> readLine() {
        for (;;) {
            const size_t end = buffer_.find('\r');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) return std::nullopt;
            char chunk[512];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    int fd_ = -1;
    std::string buffer_;
    std::string digest_;
};

// ---- what the API says

// ---- what is sent, and what must come back

// One line of a driven stretch: what is sent, whether the reply is right, and (for commands)
// whether the emulated projector is now as the command leaves it.
struct Step {
    const char* line;
    bool (*replyOk)(const std::string& reply);
    uint16_t type = 0;  // with value: the emulator's setting that must hold it after the reply
    uint16_t value = 0;
    uint16_t type2 = 0;  // a second setting, for AVMT
};

bool PowerOn(const std::string& r) { return r == "%1POWR=1"; }
bool LampLit(const std::string& r) {
    return r.rfind("%1LAMP=", 0) == 0 && r.size() > 9 && r.ends_with(" 1") &&
           std::all_of(r.begin() + 7, r.end() - 2, [](char c) { return c >= '0' && c <= '9'; });
}
bool AvmtOk(const std::string& r) { return r == "%1AVMT=OK"; }
bool InptOk(const std::string& r) { return r == "%1INPT=OK"; }

// Each stretch alternates its two lines.
const Step kQueries[2] = {{"%1POWR ?", PowerOn}, {"%1LAMP ?", LampLit}};
const Step kAvmt[2] = {{"%1AVMT 31", AvmtOk, kBlank, 1, kMute},
                       {"%1AVMT 30", AvmtOk, kBlank, 0, kMute}};
// RGB (our input 0) is PJLink's 11, Video (our 1) is 21.
const Step kInpt[2] = {{"%1INPT 11", InptOk, kInput, 0}, {"%1INPT 21", InptOk, kInput, 1}};

struct Target {
    uint16_t port = 0;
    size_t projector = 0;
    std::string password;
};

struct Figures {
    std::vector<double> ms[2];  // per line of the pair
    long failures = 0;          // no reply, a wrong reply, or the projector not as commanded
    double seconds = 0;
    double serviceCpu = 0;
    size_t frames = 0;  // frames the emulator took from the driven projectors meanwhile
    std::vector<double> all() const {
        std::vector<double> both = ms[0];
        both.insert(both.end(), ms[1].begin(), ms[1].end());
        return both;
    }
    size_t lines() const { return ms[0].size() + ms[1].size(); }
};

// One client thread per target, for kPhase: each sends the pair's lines by turns on one
// kept-open connection (or a new connection per line, the connect and greeting counted in),
// back to back or one every period, the clients' beats spread out. With kept (and one target)
// the one client is that connection, opened already.
Figures Drive(emu::Emulator& fleet, pid_t service, const std::vector<Target>& targets,
              const Step (&steps)[2], bool reconnect, milliseconds period = {},
              PjlinkClient* kept = nullptr) {
    const size_t n = targets.size();
    std::vector<Figures> per(n);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> clients;
    for (const Target& t : targets) fleet.clearFrames(t.projector);
    for (size_t c = 0; c < n; ++c) {
        clients.emplace_back([&, c] {
            const Target& t = targets[c];
            Figures& mine = per[c];
            PjlinkClient own;
            PjlinkClient& client = kept ? *kept : own;
            bool connected = reconnect || kept || client.open(t.port, t.password);
            ++ready;
            while (!go) std::this_thread::yield();
            const auto began = Clock::now();
            auto beat = began + period * static_cast<long>(c) / static_cast<long>(n);
            for (size_t k = 0; Clock::now() - began < kPhase; ++k) {
                if (period.count() > 0) {
                    std::this_thread::sleep_until(beat);
                    beat += period;
                }
                const Step& step = steps[k % 2];
                const auto start = Clock::now();
                if (reconnect) connected = client.open(t.port, t.password);
                const auto reply = connected ? client.ask(step.line) : std::nullopt;
                const auto took = Clock::now() - start;
                if (reconnect) client.close();
                bool ok = reply && step.replyOk(*reply);
                if (ok && step.type != 0) {
                    ok = fleet.value(step.type, t.projector) == step.value &&
                         (step.type2 == 0 || fleet.value(step.type2, t.projector) == step.value);
                }
                if (ok) {
                    mine.ms[k % 2].push_back(Ms(took));
                } else {
                    ++mine.failures;
                    if (!reply && !reconnect) {  // the connection is gone: a new one
                        std::this_thread::sleep_for(milliseconds(10));
                        connected = client.open(t.port, t.password);
                    }
                }
            }
        });
    }
    while (ready < static_cast<int>(n)) std::this_thread::sleep_for(milliseconds(10));
    const double cpu = CpuSeconds(service);
    const auto start = Clock::now();
    go = true;
    for (auto& client : clients) client.join();
    Figures figures;
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.serviceCpu = CpuSeconds(service) - cpu;
    for (const Figures& f : per) {
        for (int i = 0; i < 2; ++i)
            figures.ms[i].insert(figures.ms[i].end(), f.ms[i].begin(), f.ms[i].end());
        figures.failures += f.failures;
    }
    for (const Target& t : targets) figures.frames += fleet.frames(t.projector).size();
    return figures;
}

// The yardstick: one set exchange through the library, on links of its own to projectors the
// service does not watch, one thread per projector, for kPhase, the value turned over each time.
Figures LibrarySets(emu::Emulator& fleet, const std::vector<size_t>& projectors, uint16_t type) {
    const size_t n = projectors.size();
    std::vector<Figures> per(n);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (size_t c = 0; c < n; ++c) {
        threads.emplace_back([&, c] {
            const std::string address =
                "tcp://127.0.0.1:" + std::to_string(fleet.tcpPort(projectors[c]));
            zv_link* link = zv_link_open(address.c_str(), nullptr);
            ++ready;
            while (!go) std::this_thread::yield();
            const auto began = Clock::now();
            for (int k = 0; Clock::now() - began < kPhase; ++k) {
                const auto start = Clock::now();
                const zv_result result = zv_set(link, type, k % 2);
                const auto took = Clock::now() - start;
                if (result == ZV_RESULT_OK) {
                    per[c].ms[k % 2].push_back(Ms(took));
                } else {
                    ++per[c].failures;
                }
            }
            zv_link_close(link);
        });
    }
    while (ready < static_cast<int>(n)) std::this_thread::sleep_for(milliseconds(10));
    go = true;
    for (auto& thread : threads) thread.join();
    Figures figures;
    for (const Figures& f : per) {
        for (int i = 0; i < 2; ++i)
            figures.ms[i].insert(figures.ms[i].end(), f.ms[i].begin(), f.ms[i].end());
        figures.failures += f.failures;
    }
    return figures;
}

// ---- the table

std::string Spread(const std::vector<double>& ms) {
    return Format("median %.2f, p99 %.2f, max %.1f ms (%zu)", Quantile(ms, 0.5), Quantile(ms, 0.99),
                  Quantile(ms, 1.0), ms.size());
}

// A query's row: its p99 against the target, no failures allowed.
void QueryRow(const std::string& measure, const std::vector<double>& ms, long failures) {
    const double p99 = Quantile(ms, 0.99);
    Row(measure, Spread(ms) + (failures ? Format("; %ld failed", failures) : ""), "p99 < 5 ms",
        !ms.empty() && p99 < kTargetMs && failures == 0);
}

// The service's CPU per second with no PJLink traffic (its polling), taken off the CPU of a
// stretch to give the CPU per line.
double quietCpuPerSecond = 0;

void LoadRow(const Figures& f) {
    const double cpu = std::max(0.0, f.serviceCpu - quietCpuPerSecond * f.seconds);
    Row("  lines/s; service CPU per line; frames to projectors",
        Format("%.0f/s; %.0f us; %zu", static_cast<double>(f.lines()) / f.seconds,
               1e6 * cpu / std::max(1.0, static_cast<double>(f.lines())), f.frames));
}

// The machine's load average: other programs on it show in every figure.
std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    double one = 0;
    in >> one;
    return Format("%.2f (%u cores)", one, std::thread::hardware_concurrency());
}

// A command's rows: its spread, how many exchanges it took (frames per command, the polls
// meanwhile included), and what it adds to those exchanges timed alone, median and p99.
void CommandRows(const std::string& measure, const Figures& command, const Figures& exchange) {
    const std::vector<double> ms = command.all();
    Row(measure, Spread(ms) + (command.failures ? Format("; %ld failed", command.failures) : ""));
    const double perCommand =
        static_cast<double>(command.frames) / std::max(1.0, static_cast<double>(ms.size()));
    const double exchanges = std::max(1.0, std::round(perCommand));
    const std::vector<double> alone = exchange.all();
    const double median = Quantile(ms, 0.5) - exchanges * Quantile(alone, 0.5);
    const double p99 = Quantile(ms, 0.99) - exchanges * Quantile(alone, 0.5);
    Row("  exchanges per command (frames / commands)", Format("%.2f", perCommand));
    Row("  beyond its exchanges: median; p99",
        Format("%.2f ms; %.2f ms (exchange alone: median %.2f ms)", median, p99,
               Quantile(alone, 0.5)),
        "p99 < 5 ms", !ms.empty() && p99 < kTargetMs && command.failures == 0);
}

std::string WriteInventory(uint16_t listenPort, const std::vector<uint16_t>& pjlinkPorts,
                           const emu::Emulator& fleet, const std::filesystem::path& secret) {
    std::string text = InventoryHead(listenPort, kPollInterval);
    for (int i = 0; i < kProjectors; ++i) {
        const auto at = static_cast<size_t>(i);
        text += ProjectorTable(i, fleet.tcpPort(at)) +
                "pjlink_port = " + std::to_string(pjlinkPorts[at]) + "\n";
        if (i == kSecured) text += "pjlink_password_file = \"" + secret.string() + "\"\n";
    }
    return text;
}

}  // namespace

int main() {
    // The idle connections, the projectors and the service's own descriptors (inherited).
    RaiseDescriptorLimit();

    emu::Options options;
    options.count = kProjectors + kSpare;
    options.coolingTime = milliseconds(0);
    options.idleTimeout = milliseconds(0);
    emu::Emulator fleet(options);
    if (!StartEmulator(fleet)) return 1;

    const std::filesystem::path dir = RunDirectory("pjlink-bench");
    std::set<uint16_t> taken;
    const uint16_t port = FreePort();
    taken.insert(port);
    std::vector<uint16_t> pjlinkPorts;
    while (pjlinkPorts.size() < kProjectors) {
        const uint16_t p = FreePort();
        if (taken.insert(p).second) pjlinkPorts.push_back(p);
    }
    std::ofstream(dir / "secret") << kPassword << "\n";
    const auto launched = Clock::now();
    const pid_t service =
        StartService(dir, WriteInventory(port, pjlinkPorts, fleet, dir / "secret"));
    const auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "%s (log: %s)\n", why.c_str(), (dir / "zolvaned.log").c_str());
        ::kill(service, SIGTERM);
        ::waitpid(service, nullptr, 0);
        return 1;
    };
    httplib::Client api("127.0.0.1", port);
    api.set_read_timeout(10, 0);

    std::printf(
        "pjlink_bench: %d emulated projectors polled every %lld ms, each a PJLink "
        "gateway; %d clients; zolvaned pid %d\n",
        kProjectors, static_cast<long long>(kPollInterval.count()), kClients, service);
    std::fflush(stdout);
    if (!WaitForReach(api, "online", kProjectors, seconds(30))) {
        return fail("not all projectors online");
    }
    for (int i = 0; i < kProjectors; ++i) {
        PjlinkClient probe;
        while (!probe.open(pjlinkPorts[static_cast<size_t>(i)], kPassword)) {
            if (Clock::now() - launched > seconds(40)) return fail("no greeting from " + Name(i));
            std::this_thread::sleep_for(milliseconds(100));
        }
    }
    Row("start to all online and all gateways greeting",
        Format("%.0f ms", Ms(Clock::now() - launched)));
    const double quietFrom = CpuSeconds(service);
    std::this_thread::sleep_for(kPhase);
    quietCpuPerSecond = (CpuSeconds(service) - quietFrom) / static_cast<double>(kPhase.count());
    Row("service CPU with no PJLink traffic",
        Format("%.2f %% of one core", 100 * quietCpuPerSecond));
    Row("machine load average at the start", LoadAverage());
    {
        PjlinkClient probe;
        probe.open(pjlinkPorts[kSecured], "not-" + kPassword);
        const auto reply = probe.ask("%1POWR ?");
        Row("wrong password answered", reply ? "\"" + *reply + "\"" : "nothing", "PJLINK ERRA",
            reply == "PJLINK ERRA");
    }

    const auto target = [&](int i) {
        return Target{pjlinkPorts[static_cast<size_t>(i)], static_cast<size_t>(i),
                      i == kSecured ? kPassword : std::string()};
    };
    std::vector<Target> one = {target(0)}, secured = {target(kSecured)}, loaded;
    for (int i = kLoaded; i < kLoaded + kClients; ++i) loaded.push_back(target(i));
    std::vector<size_t> spareOne = {kProjectors}, spareAll;
    for (int i = 0; i < kSpare; ++i) spareAll.push_back(static_cast<size_t>(kProjectors + i));

    // One client.
    const Figures queries = Drive(fleet, service, one, kQueries, false);
    QueryRow("POWR ?, one client, kept-open connection", queries.ms[0], queries.failures);
    QueryRow("LAMP ?, one client, kept-open connection", queries.ms[1], 0);
    LoadRow(queries);
    const Figures fresh = Drive(fleet, service, one, kQueries, true);
    Row("POWR ?/LAMP ?, new connection per query",
        Spread(fresh.all()) + (fresh.failures ? Format("; %ld failed", fresh.failures) : ""));
    const Figures authed = Drive(fleet, service, secured, kQueries, true);
    Row("  the same with authentication",
        Spread(authed.all()) + (authed.failures ? Format("; %ld failed", authed.failures) : ""));

    const Figures blankAlone = LibrarySets(fleet, spareOne, kBlank);
    Row("library: one set exchange, one link", Spread(blankAlone.all()));
    CommandRows("AVMT 31/30, one client", Drive(fleet, service, one, kAvmt, false), blankAlone);
    const Figures inputAlone = LibrarySets(fleet, spareOne, kInput);
    CommandRows("INPT 11/21, one client", Drive(fleet, service, one, kInpt, false), inputAlone);

    // 50 clients on 50 projectors at once.
    const Figures loadedQueries = Drive(fleet, service, loaded, kQueries, false);
    QueryRow("POWR ?/LAMP ?, 50 clients back to back", loadedQueries.all(), loadedQueries.failures);
    LoadRow(loadedQueries);
    const Figures pacedQueries = Drive(fleet, service, loaded, kQueries, false, kPace);
    QueryRow("POWR ?/LAMP ?, 50 clients, 10/s each", pacedQueries.all(), pacedQueries.failures);
    LoadRow(pacedQueries);

    const Figures blankLoaded = LibrarySets(fleet, spareAll, kBlank);
    Row("library: one set exchange, 50 links at once", Spread(blankLoaded.all()));
    const Figures loadedCommands = Drive(fleet, service, loaded, kAvmt, false);
    CommandRows("AVMT 31/30, 50 clients back to back", loadedCommands, blankLoaded);
    LoadRow(loadedCommands);
    const Figures pacedCommands = Drive(fleet, service, loaded, kAvmt, false, kPace);
    CommandRows("AVMT 31/30, 50 clients, 10/s each", pacedCommands, blankAlone);
    LoadRow(pacedCommands);

    // Idle connections held open on the other gateways, 5 or 6 each, while a connection opened
    // before them asks on; then whether a new one gets in beside them.
    PjlinkClient before;
    before.open(pjlinkPorts[0]);
    std::vector<std::unique_ptr<PjlinkClient>> idle;
    int greeted = 0;
    for (int k = 0; k < kIdle; ++k) {
        const int i = 2 + k % (kProjectors - 2);
        idle.push_back(std::make_unique<PjlinkClient>());
        greeted += idle.back()->open(pjlinkPorts[static_cast<size_t>(i)], kPassword);
    }
    Row("idle connections opened; greeted", Format("%d; %d", kIdle, greeted));
    const Figures besideIdle = Drive(fleet, service, one, kQueries, false, {}, &before);
    QueryRow("POWR ?/LAMP ?, kept-open client, 1000 idle beside", besideIdle.all(),
             besideIdle.failures);
    {
        PjlinkClient late;
        const bool in = late.open(pjlinkPorts[0]);
        const auto reply = in ? late.ask("%1POWR ?") : std::nullopt;
        Row("  a new connection beside them", reply ? "answered \"" + *reply + "\""
                                              : in  ? "greeted, no answer"
                                                    : "refused");
    }
    Row("  service threads; VmRSS", Format("%ld; %.1f MB", StatusValue(service, "Threads"),
                                           StatusValue(service, "VmRSS") / 1024.0));
    idle.clear();

    Row("machine load average at the end", LoadAverage());
    const long peak = StatusValue(service, "VmHWM");
    Row("service memory VmHWM at the end", Format("%.1f MB", peak / 1024.0));
    StopRow(service);
    std::printf("service log: %s\n", (dir / "zolvaned.log").c_str());
    fleet.stop();
    return 0;
}
