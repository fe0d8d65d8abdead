#include "pty_server.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "frame_assembler.h"
#include "reply_sender.h"

namespace zolvane::emulator {
namespace {

std::string failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Replaces a stale link from an earlier run, but never a regular file someone put there.
bool makeLink(const std::string& target, const std::string& linkPath, std::string& error) {
    struct stat existing {};
    if (::lstat(linkPath.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            error = linkPath + " exists and is not a symbolic link";
            return false;
        }
        ::unlink(linkPath.c_str());
    }
    if (::symlink(target.c_str(), linkPath.c_str()) != 0) {
        error = failure(("symlink " + linkPath).c_str());
        return false;
    }
    return true;
}

}  // namespace

PtyServer::PtyServer(FrameHandler handler, const StopSignal& stop)
    : handler_(std::move(handler)), stop_(stop) {}

PtyServer::~PtyServer() { join(); }

bool PtyServer::open(const std::string& linkPath, std::string& error) {
    master_.reset(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!master_.valid()) {
        error = failure("posix_openpt");
        return false;
    }
    ::fcntl(master_.get(), F_SETFD, FD_CLOEXEC);
    ::fcntl(master_.get(), F_SETFL, ::fcntl(master_.get(), F_GETFL) | O_NONBLOCK);
    char name[128];
    if (::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0 ||
        ::ptsname_r(master_.get(), name, sizeof name) != 0) {
        error = failure("preparing the pseudo-terminal");
        return false;
    }
    devicePath_ = name;

    // Raw on both sides: a projector line carries binary frames, no echo, no line editing.
    termios settings{};
    if (::tcgetattr(master_.get(), &settings) != 0) {
        error = failure("tcgetattr");
        return false;
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(master_.get(), TCSANOW, &settings) != 0) {
        error = failure("tcsetattr");
        return false;
    }
    deviceHold_.reset(::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!deviceHold_.valid()) {
        error = failure(("open " + devicePath_).c_str());
        return false;
    }
    if (!linkPath.empty()) {
        if (!makeLink(devicePath_, linkPath, error)) {
            return false;
        }
        linkPath_ = linkPath;
    }
    return true;
}

void PtyServer::start() {
    thread_ = std::thread([this] { serve(); });
}

void PtyServer::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
    if (!linkPath_.empty()) {
        ::unlink(linkPath_.c_str());
        linkPath_.clear();
    }
    deviceHold_.reset();
    master_.reset();
}

void PtyServer::serve() {
    FrameAssembler assembler;
    std::uint8_t buffer[256];
    for (;;) {
        const WaitResult wait = stop_.waitFor(master_.get(), POLLIN);
        if (wait == WaitResult::Stopped || wait == WaitResult::Failed) {
            return;
        }
        const ssize_t count = ::read(master_.get(), buffer, sizeof buffer);
        if (count <= 0) {
            if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
                continue;
            }
            // Should the line report a hang-up after all, poll would say so at once: slow down.
            if (!stop_.pause(std::chrono::milliseconds{20})) {
                return;
            }
            continue;
        }
        const auto frames =
            assembler.feed({buffer, static_cast<std::size_t>(count)}, FrameAssembler::Clock::now());
        for (const RawFrame& frame : frames) {
            // A close on a serial line can only be silence, so the result does not matter here.
            sendReply(master_.get(), LinkKind::Terminal, handler_(frame), stop_);
            if (stop_.raised()) {
                return;
            }
        }
    }
}

}  // namespace zolvane::emulator
