#include "replacing_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zolvane::cli {
namespace {

[[noreturn]] void ThrowErrno() { throw FileError(std::strerror(errno)); }

}  // namespace

ReplacingFile::ReplacingFile(std::filesystem::path file) : file_(std::move(file)) {
    const std::filesystem::path folder = file_.has_parent_path() ? file_.parent_path() : ".";
    std::string pattern = (folder / ("." + file_.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) ThrowErrno();
    handle_ = fd;
    temporary_ = pattern;
}

ReplacingFile::~ReplacingFile() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void ReplacingFile::commit(std::string_view text) {
    const int fd = static_cast<int>(handle_);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ThrowErrno();
        if (n == 0) throw FileError("nothing could be written");
        written += static_cast<std::size_t>(n);
    }
    // The file keeps the permissions a newly created file would get, not mkstemp's 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    handle_ = -1;
    if (::close(fd) != 0) ThrowErrno();
    if (!synced) {
        errno = syncError;
        ThrowErrno();
    }
    if (std::rename(temporary_.c_str(), file_.c_str()) != 0) ThrowErrno();
    temporary_.clear();
}

}  // namespace zolvane::cli
