#include "reply_sender.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace zolvane::emulator {
namespace {

// A pty whose reader has gone away fills up; a reply that cannot be written within this time
// is dropped rather than holding the line.
constexpr std::chrono::milliseconds kWriteTimeout{1000};

ssize_t writeSome(int fd, LinkKind kind, const std::uint8_t* data, std::size_t size) {
    if (kind == LinkKind::Socket) {
        return ::send(fd, data, size, MSG_NOSIGNAL);
    }
    return ::write(fd, data, size);
}

bool writeAll(int fd, LinkKind kind, const std::vector<std::uint8_t>& bytes,
              const StopSignal& stop) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = writeSome(fd, kind, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (stop.waitFor(fd, POLLOUT, kWriteTimeout) != WaitResult::Ready) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

bool sendReply(int fd, LinkKind kind, const ReplyPlan& plan, const StopSignal& stop) {
    if (!stop.pause(plan.delay)) {
        return false;
    }
    for (const ReplyPiece& piece : plan.pieces) {
        if (!stop.pause(piece.pauseBefore) || !writeAll(fd, kind, piece.bytes, stop)) {
            return false;
        }
    }
    return !plan.closeConnection;
}

}  // namespace zolvane::emulator
