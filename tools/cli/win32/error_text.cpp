#include "win32/error_text.h"

#include <windows.h>

namespace zolvane::cli {

std::string ErrorText(std::uint32_t code) {
    char text[512] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string message(text, length);
    // Windows ends its texts with a full stop and a line break; the messages here go on.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' ')) {
        message.pop_back();
    }
    if (message.empty()) return "error " + std::to_string(code);
    return message;
}

}  // namespace zolvane::cli
