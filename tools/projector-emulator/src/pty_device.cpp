#include "pty_device.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

PtyDevice::~PtyDevice() {
    if (!linkPath_.empty()) {
        ::unlink(linkPath_.c_str());
    }
}

bool PtyDevice::open(const std::string& linkPath, std::string& error) {
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

}  // namespace zolvane::emulator
