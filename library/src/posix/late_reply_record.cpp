// The late-reply mark shared between processes: one small file per link, beside the serial
// ports' lock files (/run/lock, or /tmp where that cannot be written), holding the end of the
// window on the monotonic clock. The monotonic clock is the same for every process of this
// boot; a record from an earlier boot is bounded by LateReplyWindowLeft.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "late_reply.h"

namespace zolvane {
namespace {

std::string RecordPath(const std::string& key) {
    static const char* const directory = ::access("/run/lock", W_OK) == 0 ? "/run/lock" : "/tmp";
    std::string name = std::string(directory) + "/zolvane-late-";
    for (char c : key) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '.';
        name += plain ? c : '-';
    }
    return name;
}

}  // namespace

// Any user of the port may need to update the record, hence a file all can write; it is
// never followed through a symbolic link, and only a regular file is taken.
void StoreSharedWindowEnd(const std::string& key, long long endMs) {
    const int fd = ::open(RecordPath(key).c_str(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return;
    struct stat file {};
    if (::fstat(fd, &file) == 0 && S_ISREG(file.st_mode)) {
        if (file.st_uid == ::geteuid()) ::fchmod(fd, 0666);
        // Always the same width, so a reader never sees the text half replaced by a shorter one.
        char text[32];
        const int length = std::snprintf(text, sizeof text, "%020lld\n", endMs);
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, text, static_cast<std::size_t>(length), 0);
    }
    ::close(fd);
}

long long SharedWindowEnd(const std::string& key) {
    const int fd = ::open(RecordPath(key).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[32] = {};
    struct stat file {};
    const bool regular = ::fstat(fd, &file) == 0 && S_ISREG(file.st_mode);
    const ssize_t n = regular ? ::read(fd, text, sizeof text - 1) : -1;
    ::close(fd);
    return n > 0 ? std::strtoll(text, nullptr, 10) : 0;
}

void ForgetSharedWindow(const std::string& key) { ::unlink(RecordPath(key).c_str()); }

}  // namespace zolvane
