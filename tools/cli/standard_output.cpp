#include "standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <streambuf>

#include "exit_status.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zolvane::cli {
namespace {

// Hands std::cout's text straight to the C library's stdout, as std::cout does by default, and
// keeps the reason for the first write that failed: a later flush no longer knows it.
class WatchedOutput : public std::streambuf {
public:
    int error() const { return error_; }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char character = traits_type::to_char_type(c);
        return xsputn(&character, 1) == 1 ? c : traits_type::eof();
    }

    std::streamsize xsputn(const char* text, std::streamsize size) override {
        errno = 0;
        const std::size_t written = std::fwrite(text, 1, static_cast<std::size_t>(size), stdout);
        if (written != static_cast<std::size_t>(size)) failed();
        return static_cast<std::streamsize>(written);
    }

    int sync() override {
        errno = 0;
        if (std::fflush(stdout) == 0) return 0;
        failed();
        return -1;
    }

private:
    void failed() {
        if (error_ == 0) error_ = errno != 0 ? errno : EIO;
    }

    int error_ = 0;
};

WatchedOutput watched;
std::streambuf* original = nullptr;
bool outputWasClosed = false;

void HoldClosedStandardDescriptors() {
#ifndef _WIN32
    const struct {
        int fd;
        int flags;
    } kStandard[] = {
        {STDIN_FILENO, O_RDONLY}, {STDOUT_FILENO, O_RDONLY}, {STDERR_FILENO, O_WRONLY}};
    for (const auto& standard : kStandard) {
        if (::fcntl(standard.fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int fd = ::open("/dev/null", standard.flags);
        if (fd >= 0 && fd != standard.fd) {
            ::dup2(fd, standard.fd);
            ::close(fd);
        }
        if (standard.fd == STDOUT_FILENO) outputWasClosed = true;
    }
#endif
}

}  // namespace

void WatchStandardOutput() {
    HoldClosedStandardDescriptors();
    original = std::cout.rdbuf(&watched);
}

int FinishStandardOutput(int status, std::ostream& err) {
    std::cout.flush();
    const bool lost = watched.error() != 0 || std::ferror(stdout) != 0 || !std::cout.good();
    if (original != nullptr) std::cout.rdbuf(original);
    if (!lost) return status;

    err << "zolvane: cannot write to standard output: ";
    if (outputWasClosed) {
        err << "it is closed\n";
    } else {
        err << std::strerror(watched.error() != 0 ? watched.error() : EIO) << '\n';
    }
    return status == ExitOk || status == ExitRefused ? ExitOutputFailed : status;
}

}  // namespace zolvane::cli
