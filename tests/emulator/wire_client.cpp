#include "wire_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace wire {
namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t crc16(const Frame& frame) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t byte : frame) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

Bytes valueReply(std::uint16_t value) {
    return {0x1D, static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
}

Frame makeFrame(std::uint16_t action, std::uint16_t type, std::uint16_t value) {
    Frame frame{0xBE, 0xEF, 0x03, 0x06, 0x00, 0, 0};
    frame[7] = action & 0xFF;
    frame[8] = action >> 8;
    frame[9] = type & 0xFF;
    frame[10] = type >> 8;
    frame[11] = value & 0xFF;
    frame[12] = value >> 8;
    const std::uint16_t crc = crc16(frame);
    frame[5] = crc >> 8;
    frame[6] = crc & 0xFF;
    return frame;
}

Connection::Connection(Connection&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), peerClosed_(other.peerClosed_) {}

Connection::~Connection() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Connection Connection::tcp(std::uint16_t port) {
    Connection connection(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (connection.fd_ < 0) {
        throw systemError("socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(connection.fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw systemError("connect");
    }
    return connection;
}

Connection Connection::terminal(const std::string& path) {
    Connection connection(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (connection.fd_ < 0) {
        throw systemError("open " + path);
    }
    termios settings{};
    ::tcgetattr(connection.fd_, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B19200);
    ::tcsetattr(connection.fd_, TCSANOW, &settings);
    ::tcflush(connection.fd_, TCIOFLUSH);
    return connection;
}

void Connection::send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno != EINTR) {
            throw systemError("write");
        }
        done += written > 0 ? static_cast<std::size_t>(written) : 0;
    }
}

Bytes Connection::read(std::size_t count, milliseconds timeout) {
    Bytes bytes;
    const auto deadline = Clock::now() + timeout;
    while (bytes.size() < count && !peerClosed_) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        pollfd entry{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        std::uint8_t buffer[128];
        const ssize_t got = ::read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
            peerClosed_ = true;
        } else if (got > 0) {
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
    }
    return bytes;
}

Bytes Connection::readReply(milliseconds timeout) {
    Bytes reply = read(1, timeout);
    if (reply.empty() || reply[0] == 0x06 || reply[0] == 0x15) {
        return reply;
    }
    const Bytes rest = read(2, timeout);
    reply.insert(reply.end(), rest.begin(), rest.end());
    return reply;
}

Bytes Connection::exchange(const Frame& frame) {
    send(frame);
    return readReply();
}

}  // namespace wire
