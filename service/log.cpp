#include "log.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "zolvane_fleet/text.h"

namespace zolvane::service {
namespace {

std::atomic<int> mostDetail{static_cast<int>(Level::Info)};

}  // namespace

void setLogLevel(Level most) { mostDetail = static_cast<int>(most); }
bool logs(Level level) { return static_cast<int>(level) <= mostDetail; }

void log(Level level, std::string_view message) {
    if (!logs(level)) return;
    std::string line = "<" + std::to_string(static_cast<int>(level)) + ">";
    // Names, values and peers in a message may have come from outside: ill-formed bytes and
    // control characters are shown as \xNN, line ends as spaces, so one event stays one line.
    std::string text(message);
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    line += fleet::printable(text);
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
