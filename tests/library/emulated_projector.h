// An emulated projector on loopback TCP and a pseudo-terminal for the library's tests.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "projector_emulator/emulator.h"
#include "zolvane.h"

namespace testing_support {

using namespace std::chrono_literals;
namespace emu = zolvane::emulator;

class EmulatedProjector : public testing::Test {
protected:
    void SetUp() override {
        emu::Options options;
        options.pty = true;
        options.coolingTime = 0ms;
        projector_ = std::make_unique<emu::Emulator>(options);
        std::string error;
        ASSERT_TRUE(projector_->start(&error)) << error;
    }
    void TearDown() override { projector_->stop(); }

    emu::Emulator& projector() { return *projector_; }
    std::string port() const { return std::to_string(projector_->tcpPort()); }
    std::string device() const { return projector_->ptyPath(); }

    void useNetwork() { ASSERT_EQ(ZV_SetConnection(2, "127.0.0.1", port().c_str()), 1); }
    void useSerial() { ASSERT_EQ(ZV_SetConnection(1, device().c_str(), ""), 1); }

    void replyWith(std::vector<uint8_t> bytes) {
        emu::FaultConfig fault;
        fault.kind = emu::FaultKind::Garbage;
        fault.garbage = std::move(bytes);
        projector_->setFault(fault);
    }
    void inject(emu::FaultKind kind, std::chrono::milliseconds pause = 100ms,
                std::chrono::milliseconds delay = 0ms) {
        emu::FaultConfig fault;
        fault.kind = kind;
        fault.pause = pause;
        fault.delay = delay;
        projector_->setFault(fault);
    }

private:
    std::unique_ptr<emu::Emulator> projector_;
};

// A loopback port with nobody listening.
inline uint16_t ClosedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Milliseconds taken by f().
template <typename F>
long long Elapsed(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace testing_support
