#include "log.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace zolvane::service {
namespace {

std::atomic<int> mostDetail{static_cast<int>(Level::Info)};

}  // namespace

void setLogLevel(Level most) { mostDetail = static_cast<int>(most); }
bool logs(Level level) { return static_cast<int>(level) <= mostDetail; }

void log(Level level, std::string_view message) {
    if (!logs(level)) return;
    std::string line = "<" + std::to_string(static_cast<int>(level)) + ">";
    line.reserve(line.size() + message.size() + 1);
    for (const char c : message) line += (c == '\n' || c == '\r') ? ' ' : c;
    line += '\n';
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere to log to: the service goes on regardless
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace zolvane::service
