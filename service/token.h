// The bearer token that write calls must carry.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zolvane::service {

// The file's first line without surrounding blanks; empty with the reason in *why when the file
// cannot be read or holds no token.
std::optional<std::string> readToken(const std::filesystem::path& file, std::string* why);

// Whether an Authorization header carries this token ("Bearer TOKEN"). Compares in time that
// depends only on the lengths, so the answer's timing tells nothing of the token.
bool bearerMatches(std::string_view header, std::string_view token);

}  // namespace zolvane::service
