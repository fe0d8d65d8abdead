// Choosing the link: options, the desktop program's settings file, bad addresses, and serial
// over the network with socat.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "cli_test.h"

namespace cli_testing {
namespace {

using testing::HasSubstr;
using namespace std::chrono_literals;

class LinkChoice : public CliTest {
protected:
    std::string settingsFile(const std::string& text) {
        const std::filesystem::path file = scratch() / "Varnix.txt";
        writeFile(file, text);
        return file.string();
    }
};

TEST_F(LinkChoice, SettingsFileOfTheDesktopProgramChoosesTheLink) {
    const std::string network =
        settingsFile("[general]\r\n connection = 2 \r\n[TCP]\r\nipaddress= 127.0.0.1 \r\nPortNo=" +
                     std::to_string(projector().tcpPort()) + "\r\n");
    const Finished overTcp = Zolvane({"--settings", network, "get", "power"});
    EXPECT_EQ(overTcp.status, 0) << overTcp.err;
    EXPECT_EQ(overTcp.out, "on (1)\n");

    const std::string serial = settingsFile(
        "[GENERAL]\r\nConnection=1\r\n[SERIAL]\r\nPort=" + projector().ptyPath() + "\r\n");
    projector().clearFrames();
    EXPECT_EQ(Zolvane({"--settings", serial, "get", "power"}).status, 0);
    ASSERT_EQ(projector().frames().size(), 1u);
    EXPECT_EQ(projector().frames()[0].link, emu::Link::Pty);

    for (const std::string& unreadable :
         {(scratch() / "none.txt").string(), std::string("/dev/zero")}) {
        const Finished missing = Zolvane({"--settings", unreadable, "status"});
        EXPECT_EQ(missing.status, 2) << unreadable;
        EXPECT_THAT(missing.err, HasSubstr("cannot read settings file")) << unreadable;
    }
}

// The file as people and other editors leave it, read as the desktop program reads it. "PORT"
// stands for the projector's port.
TEST_F(LinkChoice, SettingsFileFormat) {
    const struct {
        const char* name;
        std::string text;
        int status;
        const char* output;  // in the standard output or the error output
    } rows[] = {
        {"byte-order mark",
         "\xEF\xBB\xBF[GENERAL]\r\nConnection=2\r\n[TCP]\r\nIPAddress=127.0.0.1\r\n"
         "PortNo=PORT\r\n",
         0, "1\n"},
        {"CR line ends", "[GENERAL]\rConnection=2\r[TCP]\rIPAddress=127.0.0.1\rPortNo=PORT\r", 0,
         "1\n"},
        {"mixed line ends", "[GENERAL]\nConnection=2\r[TCP]\r\nIPAddress=127.0.0.1\nPortNo=PORT", 0,
         "1\n"},
        {"no link", "[GENERAL]\r\nConnection=0\r\n", 2, "chooses no link"},
        {"empty link kind reads 0", "[GENERAL]\r\nConnection=\r\n", 2, "chooses no link"},
        {"no address", "[GENERAL]\r\nConnection=2\r\n[TCP]\r\nIPAddress=\r\n", 2,
         "no TCP/IPAddress"},
        // An unusable port number is the default one; nothing listens there.
        {"port beyond 65535",
         "[GENERAL]\r\nConnection=2\r\n[TCP]\r\nIPAddress=127.0.0.1\r\n"
         "PortNo=112157\r\n",
         3, "tcp 127.0.0.1:23"},
        {"port 0", "[GENERAL]\r\nConnection=2\r\n[TCP]\r\nIPAddress=127.0.0.1\r\nPortNo=0", 3,
         "tcp 127.0.0.1:23"},
    };
    for (const auto& row : rows) {
        std::string text = row.text;
        if (const std::size_t at = text.find("PORT"); at != std::string::npos) {
            text.replace(at, 4, std::to_string(projector().tcpPort()));
        }
        const Finished finished = Zolvane({"--settings", settingsFile(text), "get", "power", "-n"});
        EXPECT_EQ(finished.status, row.status) << row.name << ": " << finished.err;
        EXPECT_THAT(finished.out + finished.err, HasSubstr(row.output)) << row.name;
    }
}

// The program copied into an installed layout (bin/ beside lib/): it takes Varnix.txt from its
// own folder only when that file is there, else the user's file.
TEST_F(LinkChoice, SettingsFileOfAnInstalledProgram) {
    namespace fs = std::filesystem;
    const fs::path bin = scratch() / "install" / "bin";
    fs::create_directories(bin);
    fs::copy_file(ZOLVANE_CLI, bin / "zolvane");
    fs::create_directory_symlink(fs::absolute(fs::path(ZOLVANE_CLI)).parent_path() / ".." / "lib",
                                 scratch() / "install" / "lib");
    const fs::path config = scratch() / "config";
    fs::create_directories(config / "varnex");
    const std::string noLink = "[GENERAL]\r\nConnection=0\r\n";
    writeFile(config / "varnex" / "Varnix.txt", noLink);
    const struct {
        const char* name;
        bool beside;
        std::string variable;
        fs::path chosen;
    } rows[] = {
        {"user's file", false, "XDG_CONFIG_HOME=" + config.string(), config / "varnex"},
        {"user's file without XDG_CONFIG_HOME", false, "HOME=" + scratch().string(),
         scratch() / ".config" / "varnex"},
        {"file beside the program", true, "XDG_CONFIG_HOME=" + config.string(), fs::canonical(bin)},
    };
    fs::create_directories(scratch() / ".config" / "varnex");
    writeFile(scratch() / ".config" / "varnex" / "Varnix.txt", noLink);
    for (const auto& row : rows) {
        if (row.beside) writeFile(bin / "Varnix.txt", noLink);
        const Finished finished =
            cli_testing::Run({"/usr/bin/env", "-u", "XDG_CONFIG_HOME", row.variable,
                              (bin / "zolvane").string(), "get", "power"});
        EXPECT_EQ(finished.status, 2) << row.name;
        EXPECT_THAT(finished.err,
                    HasSubstr((row.chosen / "Varnix.txt").string() + " chooses no link"))
            << row.name << ": " << finished.err;
    }
    // There but unreadable: a usage error rather than the default port.
    fs::remove(bin / "Varnix.txt");
    fs::remove(config / "varnex" / "Varnix.txt");
    fs::create_directory(config / "varnex" / "Varnix.txt");
    const Finished unreadable =
        cli_testing::Run({"/usr/bin/env", "XDG_CONFIG_HOME=" + config.string(),
                          (bin / "zolvane").string(), "get", "power"});
    EXPECT_EQ(unreadable.status, 2);
    EXPECT_THAT(unreadable.err, HasSubstr("cannot read settings file"));
}

TEST_F(LinkChoice, MalformedAddressesAreUsageErrors) {
    for (const char* address : {"", "300.1.1.1", "1.2.3", "bad host", "-projector", ":23",
                                "host:", "host:0", "host:65536", "host:23x", "a:b:c"}) {
        const Finished finished = Zolvane({"--tcp", address, "get", "power"});
        EXPECT_EQ(finished.status, 2) << address;
        EXPECT_THAT(finished.err, HasSubstr("'")) << address;
    }
    const Finished noPort = Zolvane({"--serial", "", "get", "power"});
    EXPECT_EQ(noPort.status, 2);
    EXPECT_THAT(noPort.err, HasSubstr("--serial needs a port"));
    const Finished both = Zolvane({"--tcp", address(), "--serial", "/dev/ttyS0", "get", "power"});
    EXPECT_EQ(both.status, 2);
    EXPECT_TRUE(projector().frames().empty());

    const Finished unknown = Zolvane({"--tcp", "no-such-projector.invalid", "get", "power"});
    EXPECT_EQ(unknown.status, 3) << "well formed but not found is a link failure";
    EXPECT_THAT(unknown.err, HasSubstr("cannot be resolved"));
}

#ifdef ZOLVANE_SOCAT

bool Listening(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

template <typename Ready>
bool WaitUntil(Ready ready) {
    for (auto deadline = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
        if (ready()) return true;
    }
    return false;
}

// The projector's TCP port turned into a serial device on this machine: the library sees a
// serial port, the projector one TCP connection carrying the same frames.
TEST_F(LinkChoice, PseudoTerminalBridgedBySocatIsASerialPort) {
    const std::filesystem::path device = scratch() / "ttyProjector";
    Background socat(
        {ZOLVANE_SOCAT, "pty,link=" + device.string() + ",raw,echo=0", "tcp:" + address()});
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(device); }));

    const Finished status = Zolvane({"--serial", device.string(), "status", "--json"});
    ASSERT_EQ(status.status, 0) << status.err;
    EXPECT_EQ(nlohmann::json::parse(status.out)["power"]["name"], "on");

    projector().clearFrames();
    EXPECT_EQ(Zolvane({"--serial", device.string(), "set", "brightness", "150"}).status, 0);
    EXPECT_EQ(projector().value(0x2003), 150);
    const auto frames = projector().frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].link, emu::Link::Tcp);
    const Finished expected = Zolvane({"frame", "set", "brightness", "150"});
    char sent[64];
    std::snprintf(
        sent, sizeof sent, "%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X\n",
        frames[0].raw[0], frames[0].raw[1], frames[0].raw[2], frames[0].raw[3], frames[0].raw[4],
        frames[0].raw[5], frames[0].raw[6], frames[0].raw[7], frames[0].raw[8], frames[0].raw[9],
        frames[0].raw[10], frames[0].raw[11], frames[0].raw[12]);
    EXPECT_EQ(expected.out, sent) << "the same frame crosses the bridge unchanged";
}

// A serial-to-network bridge in raw mode in front of the projector's serial port: the tool
// reaches it with --tcp as if it were the projector.
TEST_F(LinkChoice, SerialToNetworkBridgeInRawModeIsReachedOverTcp) {
    const uint16_t port = FreePort();
    ASSERT_NE(port, 0);
    Background socat({ZOLVANE_SOCAT, "-t", "0",
                      "tcp-listen:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork",
                      "file:" + projector().ptyPath() + ",raw,echo=0"});
    ASSERT_TRUE(WaitUntil([&] { return Listening(port); }));

    projector().clearFrames();
    const std::string bridge = "127.0.0.1:" + std::to_string(port);
    const Finished changed = Zolvane({"--tcp", bridge, "set", "contrast", "100"});
    EXPECT_EQ(changed.status, 0) << changed.err;
    EXPECT_EQ(projector().value(0x2004), 100);
    const Finished read = Zolvane({"--tcp", bridge, "get", "contrast"});
    EXPECT_EQ(read.out, "100\n") << read.err;
    for (const emu::FrameRecord& frame : projector().frames()) {
        EXPECT_EQ(frame.link, emu::Link::Pty);
    }
}

#endif

}  // namespace
}  // namespace cli_testing
