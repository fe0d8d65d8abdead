// HTTPS of the real zolvaned as curl and Python's ssl meet it; the certificates and keys it
// refuses.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "child_process.h"
#include "projector_emulator/emulator.h"
#include "service_process.h"

namespace {

using namespace std::chrono_literals;

// One request over the TLS version given: the version agreed and the status line.
constexpr const char* kPythonClient = R"(import socket, ssl, sys
c = ssl.create_default_context(cafile="tls.crt")
c.set_ciphers("DEFAULT:@SECLEVEL=0")  # old versions too, for the service to refuse
c.minimum_version = c.maximum_version = ssl.TLSVersion[sys.argv[2]]
s = c.wrap_socket(socket.create_connection(("127.0.0.1", int(sys.argv[1]))), server_hostname="127.0.0.1")
s.sendall(b"GET /api/projectors HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
print(s.version(), s.recv(4096).split(b"\r\n")[0].decode())
)";

class Https : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "zolvaned-tls-XXXXXX";
        folder_ = ::mkdtemp(pattern.data());
        std::ofstream(folder_ / "token") << "tls-test-token\n";
        std::ofstream(folder_ / "client.py") << kPythonClient;
        ASSERT_EQ(0, sh("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                        "-addext subjectAltName=IP:127.0.0.1 -keyout tls.key -out tls.crt && "
                        "openssl genrsa -out other.key 2048 && openssl req -new -key tls.key "
                        "-subj /CN=x | openssl x509 -req -signkey tls.key -days -1 -out old.crt")
                         .status);
        ASSERT_TRUE(emulator_.start());
        service_ = start("tls.crt", "tls.key", "127.0.0.1:0");
        port_ = std::to_string(service_->port().value_or(0));
        ASSERT_NE(port_, "0") << service_->log();
    }

    void TearDown() override {
        if (service_) service_->signal(SIGTERM);
        EXPECT_EQ(service_ ? service_->wait(10s) : 0, 0) << (service_ ? service_->log() : "");
        std::filesystem::remove_all(folder_);
    }
    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    // A shell command line in the test's folder, with $CURL and $URL for HTTPS to the service.
    cli_testing::Finished sh(const std::string& line) const {
        const std::string setting = "cd " + folder_.string() + " && PORT=" + port_ +
                                    " URL=https://127.0.0.1:$PORT CURL='curl -sS --max-time 20 "
                                    "--cacert tls.crt' && ";
        return cli_testing::Run({"/bin/sh", "-c", setting + line}, 60s);
    }

    // [service] naming the files of the folder given (an empty name: none), and one projector.
    void write(const std::string& certificate, const std::string& key) const {
        const auto entry = [this](const char* name, const std::string& file) {
            return file.empty() ? std::string() : name + (" = \"" + path(file) + "\"\n");
        };
        std::ofstream(folder_ / "inventory.toml")
            << "[service]\n"
            << entry("token_file", "token") << entry("tls_certificate", certificate)
            << entry("tls_key", key)
            << "[[projector]]\nname = \"p0\"\naddress = \"tcp://127.0.0.1:" << emulator_.tcpPort(0)
            << "\"\n";
    }

    std::unique_ptr<service_testing::ServiceProcess> start(const std::string& certificate,
                                                           const std::string& key,
                                                           const std::string& listen) const {
        write(certificate, key);
        return std::make_unique<service_testing::ServiceProcess>(std::vector<std::string>{
            ZOLVANED, "--inventory", path("inventory.toml"), "--listen", listen});
    }

    std::filesystem::path folder_;
    zolvane::emulator::Emulator emulator_{zolvane::emulator::Options{}};
    std::unique_ptr<service_testing::ServiceProcess> service_;
    std::string port_;
};

TEST_F(Https, RealClientsAreServedOverTlsOnlyAndPlainHttpIsDropped) {
    // A command line, whether it ends well, and what it writes.
    const std::tuple<const char*, bool, const char*> rows[] = {
        {"$CURL -w '<%{http_code} %{num_connects}>' \"$URL/api/{projectors,groups}\"", true,
         "<200 1>"},
        {"$CURL -w '<%{http_code}>' --oauth2-bearer tls-test-token --json "
         "'{\"command\":\"blank\",\"value\":\"on\"}' $URL/api/projectors/p0/commands",
         true, "<200>"},
        {"/usr/bin/python3 client.py $PORT TLSv1_1", false, "alert protocol version"},
        {"/usr/bin/python3 client.py $PORT TLSv1_2", true, "TLSv1.2 HTTP/1.1 200"},
        {"/usr/bin/python3 client.py $PORT TLSv1_3", true, "TLSv1.3 HTTP/1.1 200"},
        {"curl -sS --max-time 20 http://127.0.0.1:$PORT/api/projectors", false, ""},
        {"$CURL -w '<%{http_code}>' $URL/api/groups", true, "<200>"},
        {"$CURL -N --max-time 3 $URL/api/events", false, "data: "},
    };
    for (const auto& [line, exitsZero, shows] : rows) {
        const cli_testing::Finished done = sh(line);
        const std::string seen = done.out + "\n" + done.err;
        EXPECT_EQ(done.status == 0, exitsZero) << line << "\n" << seen;
        EXPECT_NE(seen.find(shows), std::string::npos) << line << "\n" << seen;
    }
    EXPECT_EQ(emulator_.value(0x3020, 0), 1);  // the blank command reached the projector
}

TEST_F(Https, AReloadTurnsHttpsOffOnLoopbackAndOnAgain) {
    const std::tuple<const char*, const char*, const char*> steps[] = {
        {"", "", "curl -sS --max-time 20 -w '<%{http_code}>' http://127.0.0.1:$PORT/api/groups"},
        {"tls.crt", "tls.key", "$CURL -w '<%{http_code}>' $URL/api/groups"},
    };
    std::size_t reloads = 0;
    for (const auto& [certificate, key, line] : steps) {
        write(certificate, key);
        service_->signal(SIGHUP);
        ++reloads;
        for (int tries = 0; tries < 200; ++tries) {
            const std::string log = service_->log();
            std::size_t seen = 0;
            for (auto at = log.find("reloaded "); at != std::string::npos;
                 at = log.find("reloaded ", at + 1)) {
                ++seen;
            }
            if (seen >= reloads) break;
            std::this_thread::sleep_for(50ms);
        }
        const cli_testing::Finished done = sh(line);
        EXPECT_NE(done.out.find("<200>"), std::string::npos) << line << "\n"
                                                             << done.err << service_->log();
    }
}

TEST_F(Https, PairsThatCannotServeAreRefusedByName) {
    struct Row {
        std::string certificate, key, fault;  // the fault from --check too, but the listen one
        std::string listen = "127.0.0.1:0";
    };
    const Row rows[] = {
        {"tls.crt", "other.key",
         "the key " + path("other.key") + " does not belong to the certificate " + path("tls.crt")},
        {"old.crt", "tls.key", "the certificate " + path("old.crt") + " expired on "},
        {"tls.crt", "", "\"tls_certificate\" and \"tls_key\" come together"},
        {"none.crt", "tls.key", path("none.crt") + " cannot be read: No such file or directory"},
        {"token", "tls.key", "the certificate " + path("token") + " holds no PEM"},
        // An address of no machine's (TEST-NET-1): nothing can be bound there, refused or not.
        {"", "", "allow_plain_http = true", "192.0.2.1:0"},
    };
    for (const Row& row : rows) {
        const auto started = start(row.certificate, row.key, row.listen);
        EXPECT_NE(started->wait(20s).value_or(0), 0) << row.fault;
        EXPECT_NE(started->log().find(row.fault), std::string::npos) << started->log();
        if (row.listen.starts_with("192.")) continue;
        const cli_testing::Finished checked = sh(std::string(ZOLVANED) + " --check inventory.toml");
        EXPECT_EQ(checked.status, 1) << row.fault;
        EXPECT_NE(checked.out.find(row.fault), std::string::npos) << checked.out;
    }
}

}  // namespace
