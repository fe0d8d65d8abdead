// The emulator serving a fleet and surviving its clients: the standalone program as a
// subprocess with its own limits, and the in-process fleet, over loopback TCP and ptys.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "emulator_fixture.h"

using namespace wire;
using Clock = std::chrono::steady_clock;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// The thread sanitizer runs a background thread of its own in the program.
#if defined(__SANITIZE_THREAD__)
constexpr std::size_t kRuntimeThreads = 1;
#else
constexpr std::size_t kRuntimeThreads = 0;
#endif

constexpr std::uint16_t kLampTime = 0x1090;
constexpr std::uint16_t kBrightness = 0x2003;
constexpr std::uint16_t kFirstLampTime = 1234;

// projector-emulator in a child process, with resource limits set before exec.
class Program {
public:
    Program(std::vector<std::string> args, rlim_t files = 0, rlim_t addressSpace = 0) {
        args.insert(args.begin(), {ZOLVANE_EMULATOR_PROGRAM, "--port", "0"});
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            const rlimit fileLimit{files, files};
            const rlimit spaceLimit{addressSpace, addressSpace};
            if ((files != 0 && ::setrlimit(RLIMIT_NOFILE, &fileLimit) != 0) ||
                (addressSpace != 0 && ::setrlimit(RLIMIT_AS, &spaceLimit) != 0)) {
                ::_exit(126);
            }
            ::dup2(out[1], STDOUT_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        readReadiness(out[0]);
        ::close(out[0]);
    }

    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool alive() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    std::size_t threads() const {
        const auto tasks =
            std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task");
        return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
    }
    long residentKb() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::stol(line.substr(6));
            }
        }
        return -1;
    }

    std::vector<std::string> lines;
    std::vector<std::uint16_t> ports;
    std::vector<std::string> ptys;

private:
    void readReadiness(int fd) {
        std::string text;
        const auto deadline = Clock::now() + std::chrono::seconds{20};
        while (text.find("ready\n") == std::string::npos && Clock::now() < deadline) {
            pollfd entry{fd, POLLIN, 0};
            char buffer[4096];
            const ssize_t got = ::poll(&entry, 1, 1000) > 0 ? ::read(fd, buffer, sizeof buffer) : 0;
            if (got < 0 || (got == 0 && entry.revents != 0)) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        }
        std::istringstream stream(text);
        for (std::string line; std::getline(stream, line);) {
            lines.push_back(line);
            if (line.rfind("tcp 127.0.0.1:", 0) == 0) {
                ports.push_back(static_cast<std::uint16_t>(std::stoi(line.substr(14))));
            } else if (line.rfind("pty ", 0) == 0) {
                ptys.push_back(line.substr(4));
            }
        }
    }

    pid_t pid_ = -1;
};

// Connections that never send a byte.
std::vector<int> connectIdle(std::uint16_t port, int count) {
    std::vector<int> fds;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            fds.push_back(fd);
        } else {
            ::close(fd);
        }
    }
    return fds;
}

// Sends bytes that form no frame while draining whatever comes back, as a broken client would.
void sendGarbage(std::uint16_t port, std::size_t total) {
    Connection connection = Connection::tcp(port);
    const Bytes chunk(64 * 1024, 0x55);
    for (std::size_t sent = 0; sent < total; sent += chunk.size()) {
        std::thread drain([&] { connection.read(chunk.size() / 13, std::chrono::seconds{5}); });
        connection.send(chunk);
        drain.join();
    }
}

Bytes lampTime(std::uint16_t port) {
    return Connection::tcp(port).exchange(makeFrame(kGet, kLampTime));
}

// One row per way of mistreating the program; after each, every projector still answers.
struct Survival {
    const char* name;
    std::vector<std::string> args;
    std::size_t projectors;
    int idlePerProjector;
    rlim_t files;
    rlim_t addressSpace;
    std::size_t garbageBytes;
    long residentLimitKb;  // 0: not checked
};

void PrintTo(const Survival& row, std::ostream* out) { *out << row.name; }

class SurvivalTest : public ::testing::TestWithParam<Survival> {
protected:
    // The fleet row holds 10 000 client sockets here.
    static void SetUpTestSuite() {
        rlimit files{};
        if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
            files.rlim_cur = files.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &files);
        }
    }
};

TEST_P(SurvivalTest, NextGoodClientIsAnswered) {
    const Survival& row = GetParam();
    if (kSanitized && row.addressSpace != 0) {
        GTEST_SKIP() << "the sanitizers reserve more address space than this row allows";
    }
    std::vector<std::string> args = row.args;
    args.insert(args.end(), {"--count", std::to_string(row.projectors)});
    Program program(args, row.files, row.addressSpace);
    ASSERT_EQ(program.ports.size(), row.projectors);

    std::vector<int> idle;
    for (const std::uint16_t port : program.ports) {
        const std::vector<int> more = connectIdle(port, row.idlePerProjector);
        idle.insert(idle.end(), more.begin(), more.end());
    }
    ASSERT_EQ(idle.size(), row.projectors * row.idlePerProjector);
    if (row.garbageBytes > 0) {
        sendGarbage(program.ports[0], row.garbageBytes);
    }

    for (std::size_t i = 0; i < row.projectors; ++i) {
        ASSERT_EQ(lampTime(program.ports[i]), valueReply(kFirstLampTime + i)) << "projector " << i;
    }
    EXPECT_TRUE(program.alive());
    EXPECT_LE(program.threads(), 2U + kRuntimeThreads) << "the main thread and the loop";
    if (row.residentLimitKb != 0 && !kSanitized) {  // their own memory would hide it
        EXPECT_LT(program.residentKb(), row.residentLimitKb);
    }
    for (const int fd : idle) {
        ::close(fd);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Program, SurvivalTest,
    ::testing::Values(Survival{"ManyIdleClients", {}, 1, 1200, 0, 0, 0, 0},
                      Survival{"SmallFdLimit", {}, 1, 70, 64, 0, 0, 0},
                      Survival{"AddressSpaceLimit", {}, 1, 60, 0, 300UL << 20, 0, 0},
                      Survival{"ConnectionLimit", {"--max-connections", "16"}, 2, 40, 0, 0, 0, 0},
                      // Without a cap the log of 8 MB of garbage alone would take some 60 MB.
                      Survival{"GarbageFlood", {}, 1, 0, 0, 0, 8UL << 20, 24 * 1024},
                      Survival{"FleetOf200With50ClientsEach", {}, 200, 50, 0, 0, 0, 64 * 1024}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FleetProgram, PrintsOneLinePerProjectorAndKeepsThemApart) {
    {
        Program single({});
        ASSERT_EQ(single.lines.size(), 2U) << "output for one projector is as it always was";
        EXPECT_EQ(single.lines[1], "ready");
        EXPECT_EQ(lampTime(single.ports.at(0)), valueReply(kFirstLampTime));
    }
    Program fleet({"--count", "3", "--pty"});
    ASSERT_EQ(fleet.lines.size(), 7U);
    ASSERT_EQ(fleet.ptys.size(), 3U);
    EXPECT_EQ(fleet.lines.back(), "ready");
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(fleet.ports.at(i), fleet.ports[0] + i) << "consecutive ports";
        EXPECT_EQ(lampTime(fleet.ports[i]), valueReply(kFirstLampTime + i));
        EXPECT_EQ(Connection::terminal(fleet.ptys[i]).exchange(makeFrame(kGet, kLampTime)),
                  valueReply(kFirstLampTime + i));
    }
    ASSERT_EQ(Connection::tcp(fleet.ports[1]).exchange(makeFrame(kSet, kBrightness, 150)), kAck);
    const Bytes brightness[] = {valueReply(128), valueReply(150), valueReply(128)};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Connection::terminal(fleet.ptys[i]).exchange(makeFrame(kGet, kBrightness)),
                  brightness[i])
            << i;
    }
}

TEST(FleetProgram, IdleTimeOutClosesOnlyASilentClient) {
    Program program({"--idle-timeout", "300"});
    ASSERT_EQ(program.ports.size(), 1U);
    Connection silent = Connection::tcp(program.ports[0]);
    Connection talking = Connection::tcp(program.ports[0]);
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::milliseconds{900}) {
        ASSERT_EQ(talking.exchange(makeFrame(kGet, kLampTime)), valueReply(kFirstLampTime));
        std::this_thread::sleep_for(std::chrono::milliseconds{100});
    }
    EXPECT_TRUE(silent.read(1, std::chrono::seconds{5}).empty());
    EXPECT_TRUE(silent.peerClosed());
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds{300});
}

TEST(FleetEmulator, KeepsEachProjectorsStateAndCapsItsLog) {
    zolvane::emulator::Options options;
    options.count = 2;
    options.frameLogLimit = 5;
    zolvane::emulator::Emulator fleet(options);
    ASSERT_TRUE(fleet.start());
    ASSERT_EQ(fleet.tcpPort(1), fleet.tcpPort(0) + 1);

    Connection connection = Connection::tcp(fleet.tcpPort(1));
    for (std::uint16_t value = 100; value < 112; ++value) {
        ASSERT_EQ(connection.exchange(makeFrame(kSet, kBrightness, value)), kAck);
    }
    EXPECT_EQ(fleet.value(kBrightness, 1), 111);
    EXPECT_EQ(fleet.value(kBrightness, 0), 128);
    EXPECT_EQ(fleet.value(kLampTime, 1), kFirstLampTime + 1);
    EXPECT_TRUE(fleet.frames(0).empty());
    const auto kept = fleet.frames(1);
    ASSERT_EQ(kept.size(), 5U) << "only the newest frames";
    EXPECT_EQ(kept.back().value, 111);
    EXPECT_TRUE(fleet.waitForFrames(12, std::chrono::milliseconds{0}, 1)) << "dropped ones count";

    fleet.setPower(zolvane::emulator::PowerState::Off, 1);
    EXPECT_EQ(connection.exchange(makeFrame(kGet, 0x6000)), valueReply(0));
    EXPECT_EQ(fleet.power(0), zolvane::emulator::PowerState::On);
}

}  // namespace
