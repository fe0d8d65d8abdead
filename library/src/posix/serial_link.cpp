// One command over an RS-232 port: open exclusively, 19200 8N1 raw without flow control, purge,
// raise DTR, write the frame, wait about one second for the reply, close.
#include <fcntl.h>
#include <linux/serial.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "late_reply.h"
#include "links.h"
#include "poll_one.h"

namespace zolvane {
namespace {}  // namespace

std::string SerialDevicePath(const char* port) {
    if (strncasecmp(port, "COM", 3) == 0 && port[3] != '\0') {
        unsigned long number = 0;
        const char* p = port + 3;
        for (; *p >= '0' && *p <= '9' && number < 100000; ++p) number = number * 10 + (*p - '0');
        if (*p == '\0' && number >= 1 && number < 100000) {
            return "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    return port;
}

namespace {

// A device without modem-control lines (a pseudo-terminal, a network bridge) answers modem and
// counter requests like this; that is not a failure of the port.
bool NotSupported(int error) { return error == ENOTTY || error == EINVAL; }

class Port {
public:
    explicit Port(int fd) : fd_(fd) {}
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    ~Port() {
        // Clear exclusive mode ourselves: it would otherwise outlive us while another process
        // (a bridge, an emulator) keeps the device open.
        if (exclusive_) ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);  // also releases the flock
    }
    int fd() const { return fd_; }
    void markExclusive() { exclusive_ = true; }

private:
    int fd_;
    bool exclusive_ = false;
};

// Line errors (framing, overrun, parity, break) as the driver counts them: a snapshot before
// the exchange, compared at every poll.
class LineErrors {
public:
    explicit LineErrors(int fd) : fd_(fd) {}

    bool reset() {
        if (::ioctl(fd_, TIOCGICOUNT, &baseline_) == 0) {
            counting_ = true;
            return true;
        }
        counting_ = false;
        return NotSupported(errno);
    }

    bool occurred() const {
        if (!counting_) return false;
        serial_icounter_struct now{};
        if (::ioctl(fd_, TIOCGICOUNT, &now) != 0) return true;
        return now.frame != baseline_.frame || now.overrun != baseline_.overrun ||
               now.parity != baseline_.parity || now.brk != baseline_.brk ||
               now.buf_overrun != baseline_.buf_overrun;
    }

private:
    int fd_;
    bool counting_ = false;
    serial_icounter_struct baseline_{};
};

void ConfigureLine(termios& tio) {
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | IGNBRK);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

bool SetModemLine(int fd, unsigned long request, int line) {
    return ::ioctl(fd, request, &line) == 0 || NotSupported(errno);
}

// The write limit is the link's send time (by default 10 ms per frame byte plus 500 ms).
bool WriteAll(int fd, const uint8_t* data, std::size_t length, Milliseconds limit) {
    const Deadline deadline(limit);
    std::size_t written = 0;
    while (written < length) {
        const ssize_t n = ::write(fd, data + written, length - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        if (PollOne(fd, POLLOUT, deadline.remainingMs()) <= 0) return false;
    }
    return true;
}

// By default the projector has about one second (100 polls 10 ms apart) to answer.
ResultCode AwaitReply(int fd, const LineErrors& errors, uint8_t* reply, std::size_t replySize,
                      std::size_t& received, Milliseconds limit) {
    const Deadline deadline(limit);
    for (;;) {
        if (errors.occurred()) return ResultPortError;
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) != 0) return ResultPortError;
        if (waiting > 0) {
            if (received + static_cast<std::size_t>(waiting) > replySize) {
                ::tcflush(fd, TCIOFLUSH);
                return ResultPortReplyTooLong;
            }
            const ssize_t n = ::read(fd, reply + received, static_cast<std::size_t>(waiting));
            if (n < 0 && errno != EAGAIN && errno != EINTR) return ResultPortReadFailed;
            if (n > 0) received += static_cast<std::size_t>(n);
            // A value reply is collected until its three bytes are in; any other reply is
            // taken as it stands.
            if (received > 0 && !(reply[0] == 0x1D && received < 3)) return ResultOk;
        }
        if (deadline.expired()) return received > 0 ? ResultOk : ResultPortReplyTimeout;
        // Short waits so line errors are seen even when no byte arrives.
        const int ready = PollOne(fd, POLLIN, std::min(deadline.remainingMs(), 10));
        if (ready < 0) return ResultPortReadFailed;
        if ((ready & (POLLHUP | POLLERR | POLLNVAL)) && !(ready & POLLIN)) {
            return ResultPortReadFailed;  // the device went away
        }
    }
}

// The device itself, whichever name opened it (COMn, a by-id link, the device path).
std::string LinkKey(int fd) {
    struct stat device {};
    if (::fstat(fd, &device) != 0) return "tty";
    if (S_ISCHR(device.st_mode)) {
        return "tty." + std::to_string(major(device.st_rdev)) + "." +
               std::to_string(minor(device.st_rdev));
    }
    return "file." + std::to_string(device.st_dev) + "." + std::to_string(device.st_ino);
}

// Reads and throws away what the line brings within ms; see DrainLateReply.
int DiscardInput(int fd, int ms) {
    const int ready = PollOne(fd, POLLIN, ms);
    if (ready <= 0) return ready;
    if (!(ready & POLLIN)) return -1;  // the device went away
    uint8_t sink[kReplyBufferSize];
    const ssize_t n = ::read(fd, sink, sizeof sink);
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    return static_cast<int>(n);
}

}  // namespace

ResultCode SerialExchange(const char* port, const LinkTimes& times, const uint8_t* frame,
                          std::size_t frameLength, uint8_t* reply, std::size_t replySize,
                          std::size_t& received) {
    received = 0;
    char name[256] = {};
    std::strncpy(name, port, sizeof name - 1);

    const int fd =
        ::open(SerialDevicePath(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ResultPortOpenFailed;
    Port device(fd);
    // Exclusive use: flock keeps cooperating programs apart, TIOCEXCL keeps other openers out.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return ResultPortOpenFailed;
    if (::ioctl(fd, TIOCEXCL) == 0) device.markExclusive();

    // The driver's queue sizes cannot be chosen on this platform; nothing to request.
    if (::tcflush(fd, TCIOFLUSH) != 0) return ResultPortPurgeFailed;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return ResultPortGetStateFailed;
    ConfigureLine(tio);  // the read and write time-outs are the deadlines kept below
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return ResultPortSetStateFailed;

    LineErrors errors(fd);
    if (!errors.reset()) return ResultPortError;
    SetModemLine(fd, TIOCMBIC, TIOCM_RTS);  // RTS held low: no hardware handshake
    if (!SetModemLine(fd, TIOCMBIS, TIOCM_DTR)) return ResultPortDtrFailed;

    // The answer to an earlier frame that gave up on it may still be on its way; the line is
    // ready as for sending while it is drained.
    const std::string key = LinkKey(fd);
    if (const Milliseconds left = LateReplyWindowLeft(key); left.count() > 0) {
        if (!DrainLateReply(left, [fd](int ms) { return DiscardInput(fd, ms); })) {
            return ResultPortReadFailed;
        }
        ::tcflush(fd, TCIFLUSH);
    }

    errors.reset();
    ResultCode result = ResultPortWriteFailed;
    if (WriteAll(fd, frame, frameLength, times.send)) {
        result = AwaitReply(fd, errors, reply, replySize, received, times.receive);
    }
    // Still holding the port: nobody else can send before the mark is there.
    if (result != ResultOk || !ReplyWhole(reply, received)) NoteUnansweredExchange(key);
    return result;
}

}  // namespace zolvane
