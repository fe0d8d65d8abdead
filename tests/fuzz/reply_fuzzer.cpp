// Replies of any shape, cut into pieces of any size, over a real loopback TCP connection and a
// real pseudo-terminal. Whatever arrives, a command may succeed only on a well-formed reply and
// a get may only return the value that was actually sent.
//
// Input: one control byte (bit 0: serial or TCP, bits 1-2: which command), then pieces, each a
// length byte (1-8) followed by that many reply bytes. The projector's side closes after the
// last piece, so an incomplete reply never waits out a time-out.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "zolvane.h"

namespace {

using Pieces = std::vector<std::vector<uint8_t>>;

Pieces Split(const uint8_t* data, size_t size) {
    Pieces pieces;
    size_t total = 0;
    for (size_t i = 0; i < size && total < 80;) {
        const size_t length = 1 + data[i++] % 8;
        std::vector<uint8_t> piece(data + i, data + std::min(size, i + length));
        i += length;
        total += piece.size();
        if (!piece.empty()) pieces.push_back(std::move(piece));
    }
    return pieces;
}

bool ReadFrame(int fd) {
    uint8_t frame[13];
    size_t got = 0;
    while (got < sizeof frame) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) return false;
        const ssize_t n = ::read(fd, frame + got, sizeof frame - got);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

void Answer(int fd, const Pieces& pieces) {
    if (!ReadFrame(fd)) return;
    for (const auto& piece : pieces) {
        if (::write(fd, piece.data(), piece.size()) < 0) break;
        std::this_thread::yield();
    }
}

int Listener(uint16_t& port) {
    ::signal(SIGPIPE, SIG_IGN);  // the library may close before the whole reply is written
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        std::abort();
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int32_t RunCommand(int which, uint16_t& value) {
    switch (which) {
        case 0:
            return ZV_GetBrightness(&value);
        case 1:
            return ZV_SetBrightness(130);
        case 2:
            return ZV_IncrementVolume();
        default:
            return ZV_ResetLampTime();
    }
}

void Check(int which, int32_t result, uint16_t value, const Pieces& pieces) {
    std::vector<uint8_t> sent;
    for (const auto& piece : pieces) sent.insert(sent.end(), piece.begin(), piece.end());
    if (result != 0 && result != 1) std::abort();
    if (result == 0) {
        if (which == 0 && value != 0xBEEF) std::abort();  // a failed get wrote its value
        return;
    }
    if (ZV_GetLastResult() != ZV_RESULT_OK) std::abort();
    if (which == 0) {
        if (sent.size() < 3 || sent[0] != 0x1D) std::abort();
        if (value != (sent[1] | sent[2] << 8)) std::abort();  // a value from bytes never sent
    } else if (sent.empty() || sent[0] != 0x06) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static uint16_t port = 0;
    static const int listener = Listener(port);
    const bool serial = data[0] & 1;
    const int which = (data[0] >> 1) & 3;
    const Pieces pieces = Split(data + 1, size - 1);
    uint16_t value = 0xBEEF;
    int32_t result;

    if (serial) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) std::abort();
        ZV_SetConnection(1, ::ptsname(master), "");
        std::thread projector([&] {
            Answer(master, pieces);
            ::close(master);
        });
        result = RunCommand(which, value);
        projector.join();
    } else {
        ZV_SetConnection(2, "127.0.0.1", std::to_string(port).c_str());
        std::thread projector([&] {
            const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            Answer(client, pieces);
            ::close(client);
        });
        result = RunCommand(which, value);
        projector.join();
    }
    Check(which, result, value, pieces);
    return 0;
}
