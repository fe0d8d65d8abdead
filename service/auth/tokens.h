// Who may call what: the tokens of the inventory, each with a name, a role and a scope.
//
//   [[token]]
//   name = "room-101"                  # what the history and the audit trail name its commands by
//   sha256 = "9f86d081..."             # of the token (zolvaned --hash-token), or
//   file = "/etc/zolvaned/room-101"    # the token itself, the file's one line
//   role = "operate"                   # read, operate or admin
//   projectors = ["room-101-a"]        # the scope: these projectors and the groups' members;
//   groups = ["room-101"]              # every projector when both are left out
#pragma once

#include <array>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings.h"

namespace zolvane::fleet {
class InventorySection;
}

namespace zolvane::service::auth {

// In the order of what each may do: every role may do what the ones before it may.
enum class Role { Read, Operate, Admin };
const char* roleWord(Role role);
std::optional<Role> roleNamed(std::string_view word);

using Digest = std::array<unsigned char, 32>;
Digest sha256Of(std::string_view text);
std::string hex(const Digest& digest);  // lower case

// [service] token_file's token: role admin, every projector, as before tokens had names.
inline constexpr const char* kServiceTokenName = "token";

struct Token {
    std::string name;
    Digest sha256{};
    Role role = Role::Read;
    std::vector<std::string> projectors;  // the scope; both empty: every projector
    std::vector<std::string> groups;
    int line = 0;
};

struct TokenTable {
    std::vector<Token> tokens;
};

// zolvaned --hash-token: one token read from in (its first line, blanks around it dropped),
// its SHA-256 in hexadecimal to out; the exit status (1 with the reason to err when in holds no
// token).
int hashToken(std::istream& in, std::ostream& out, std::ostream& err);

// Reads [[token]] into table, and [service] token_file as well once settings has been read.
std::unique_ptr<fleet::InventorySection> tokensReader(const Settings& settings, TokenTable& table);

}  // namespace zolvane::service::auth
