// The JSON line that stands for one projector's run with --json: what the command printed and
// said, as one object on one line, whatever bytes the command's outputs hold.
#pragma once

#include <optional>
#include <string>

namespace zolvane::cli {

// {"name", "address", "reachable", "result", "status", "reason"} without its newline. out is
// the command's standard output (its JSON kept as JSON, text as one string), err its messages,
// which make the reason. Invalid UTF-8 comes out as U+FFFD.
std::string JsonLine(const std::optional<std::string>& name,
                     const std::optional<std::string>& address, int status, const std::string& out,
                     const std::string& err);

}  // namespace zolvane::cli
