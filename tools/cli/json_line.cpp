#include "json_line.h"

#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>

#include "exit_status.h"

namespace zolvane::cli {

std::string JsonLine(const std::optional<std::string>& name,
                     const std::optional<std::string>& address, int status, const std::string& out,
                     const std::string& err) {
    nlohmann::ordered_json line;
    line["name"] = name ? nlohmann::ordered_json(*name) : nullptr;
    line["address"] = address ? nlohmann::ordered_json(*address) : nullptr;
    // A usage error sent nothing, so whether the projector answers is not known.
    if (status == ExitUsage) {
        line["reachable"] = nullptr;
    } else {
        line["reachable"] = status != ExitLinkFailed;
    }
    const std::size_t begin = out.find_first_not_of(" \n");
    if (begin == std::string::npos) {
        line["result"] = nullptr;
    } else {
        // The command's own JSON as it is; its text output as one string.
        line["result"] = nlohmann::ordered_json::parse(out, nullptr, false);
        if (line["result"].is_discarded()) {
            line["result"] = out.substr(begin, out.find_last_not_of(" \n") + 1 - begin);
        }
    }
    line["status"] = status;
    constexpr std::string_view kPrefix = "zolvane: ";
    std::string reason;
    std::istringstream messages(err);
    for (std::string message; std::getline(messages, message);) {
        if (message.starts_with(kPrefix)) message.erase(0, kPrefix.size());
        reason += (reason.empty() ? "" : "; ") + message;
    }
    line["reason"] = reason;
    // Text from outside (a device name, a file name) may be invalid UTF-8, which must not cost
    // the line.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace zolvane::cli
