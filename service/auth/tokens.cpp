#include "auth/tokens.h"

#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <istream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

#include "zolvane_fleet/inventory_section.h"

namespace zolvane::service::auth {
namespace {

using fleet::inQuotes;

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool tokenName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    });
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<Digest> fromHex(std::string_view text) {
    Digest digest{};
    if (text.size() != digest.size() * 2) return {};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = hexDigit(text[2 * i]);
        const int low = hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return {};
        digest[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return digest;
}

// The file's token: its one non-empty line. Empty with the reason when it holds none, or more.
std::optional<std::string> tokenInFile(const std::string& file, std::string* why) {
    const std::optional<std::string> text = fleet::readSmallFile(file, why);
    if (!text) {
        *why = "the token file " + inQuotes(file) + " cannot be read: " + *why;
        return {};
    }
    std::vector<std::string> lines;
    std::istringstream in(*text);
    for (std::string line; std::getline(in, line);) {
        if (!trimmed(line).empty()) lines.emplace_back(trimmed(line));
    }
    if (lines.size() != 1) {
        *why = "the token file " + inQuotes(file) +
               (lines.empty() ? " holds no token" : " holds more than one line");
        return {};
    }
    return lines.front();
}

// Where a [[token]]'s scope names something, checked once every projector has been read.
struct Named {
    std::size_t token;
    std::string target;  // "@group" or a projector's name
    toml::source_region where;
};

class Reader final : public fleet::InventorySection {
public:
    Reader(const Settings& settings, TokenTable& table) : settings_(settings), table_(table) {}

    bool table(const toml::key& key, const toml::node& node,
               fleet::InventoryChecks& checks) override {
        if (key.str() != "token") return false;
        for (const toml::table* token : checks.tables(key, node)) read(*token, checks);
        return true;
    }

    void projectorRead(const fleet::ProjectorEntry& entry, const toml::table&,
                       fleet::InventoryChecks&) override {
        projectors_.push_back({entry.name, entry.groups});
    }

    void finish(fleet::InventoryChecks& checks) override {
        for (const Named& named : named_) {
            fleet::resolveTargets({named.target}, projectors_, [&](const std::string& reason) {
                checks.fault(named.where,
                             reason + " for token " + inQuotes(table_.tokens[named.token].name));
            });
        }
        if (!settings_.tokenFile.empty() && names_.count(kServiceTokenName)) {
            checks.fault(names_[kServiceTokenName],
                         "the token " + inQuotes(kServiceTokenName) +
                             " is [service] token_file's: name this one otherwise");
        }
    }

private:
    void read(const toml::table& table, fleet::InventoryChecks& checks) {
        Token token;
        token.line = static_cast<int>(table.source().begin.line);
        std::optional<toml::source_region> sha256;
        std::optional<toml::source_region> file;
        bool role = false;
        std::vector<Named> named;
        for (const auto& [key, node] : table) {
            const std::string_view name = key.str();
            if (name == "name") {
                if (const auto text = checks.string(key, node)) {
                    if (!tokenName(*text)) {
                        checks.fault(node.source(), "token name " + inQuotes(*text) +
                                                        " must be letters, digits, - _ or .");
                    } else if (!names_.emplace(*text, node.source()).second) {
                        checks.fault(node.source(), "a second token named " + inQuotes(*text));
                    }
                    token.name = *text;
                }
            } else if (name == "sha256") {
                sha256 = node.source();
                if (const auto text = checks.string(key, node)) {
                    if (const auto digest = fromHex(*text)) {
                        token.sha256 = *digest;
                    } else {
                        checks.fault(node.source(), "\"sha256\" must be 64 hexadecimal digits");
                    }
                }
            } else if (name == "file") {
                file = node.source();
                if (const auto text = checks.string(key, node)) {
                    std::string why;
                    if (const auto secret = tokenInFile(*text, &why)) {
                        token.sha256 = sha256Of(*secret);
                    } else {
                        checks.fault(node.source(), why);
                    }
                }
            } else if (name == "role") {
                if (const auto text = checks.string(key, node)) {
                    if (const auto parsed = roleNamed(*text)) {
                        token.role = *parsed;
                        role = true;
                    } else {
                        checks.fault(node.source(), "role " + inQuotes(*text) +
                                                        " is none of \"read\", \"operate\", "
                                                        "\"admin\"");
                    }
                } else {
                    role = true;  // refused already
                }
            } else if (name == "projectors" || name == "groups") {
                if (const auto list = checks.strings(key, node)) {
                    const bool groups = name == "groups";
                    for (const std::string& item : *list) {
                        named.push_back({0, groups ? "@" + item : item, node.source()});
                        (groups ? token.groups : token.projectors).push_back(item);
                    }
                }
            } else {
                checks.unknownKey(key, node, " in [[token]]");
            }
        }
        const toml::source_region& where = table.source();
        if (!table.contains("name")) checks.fault(where, "a [[token]] needs a \"name\"");
        if (sha256.has_value() == file.has_value()) {
            checks.fault(sha256 ? *sha256 : where,
                         "a [[token]] has either \"sha256\" or \"file\", not both nor neither");
        }
        if (!role) checks.fault(where, "a [[token]] needs a \"role\": read, operate or admin");
        for (Named& one : named) {
            one.token = table_.tokens.size();
            named_.push_back(std::move(one));
        }
        table_.tokens.push_back(std::move(token));
    }

    const Settings& settings_;
    TokenTable& table_;
    std::map<std::string, toml::source_region> names_;
    std::vector<Named> named_;
    std::vector<fleet::TargetedProjector> projectors_;
};

}  // namespace

const char* roleWord(Role role) {
    switch (role) {
        case Role::Read:
            return "read";
        case Role::Operate:
            return "operate";
        case Role::Admin:
            return "admin";
    }
    return "";
}

std::optional<Role> roleNamed(std::string_view word) {
    for (const Role role : {Role::Read, Role::Operate, Role::Admin}) {
        if (word == roleWord(role)) return role;
    }
    return {};
}

Digest sha256Of(std::string_view text) {
    Digest digest{};
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest.data(), &size, EVP_sha256(), nullptr);
    return digest;
}

std::string hex(const Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const unsigned char byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

int hashToken(std::istream& in, std::ostream& out, std::ostream& err) {
    std::string line;
    std::getline(in, line);
    const std::string_view token = trimmed(line);
    if (token.empty()) {
        err << "zolvaned --hash-token: no token on the first line of the standard input\n";
        return 1;
    }
    out << hex(sha256Of(token)) << '\n';
    return 0;
}

std::unique_ptr<fleet::InventorySection> tokensReader(const Settings& settings, TokenTable& table) {
    return std::make_unique<Reader>(settings, table);
}

}  // namespace zolvane::service::auth
