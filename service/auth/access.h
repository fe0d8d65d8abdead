// Who a request is from and what it may do: the tokens of one reading of the inventory, and
// the failed attempts of each peer, which outlive the readings.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "auth/tokens.h"
#include "zolvane_fleet/inventory.h"

namespace zolvane::service::auth {

// [service] token_file's first line without surrounding blanks; empty with the reason in *why
// when the file cannot be read or holds no token.
std::optional<std::string> readToken(const std::filesystem::path& file, std::string* why);

class Access {
public:
    Access() = default;
    Access(std::vector<Token> tokens, bool readRequiresToken);

    // With no token at all every call is open, as before tokens existed.
    bool anyToken() const { return !tokens_.empty(); }
    bool readRequiresToken() const { return anyToken() && readRequiresToken_; }
    // Whether a call that needs this role may be made without a token.
    bool open(std::optional<Role> least) const {
        return !least || !anyToken() || (*least == Role::Read && !readRequiresToken_);
    }

    // The token an Authorization header ("Bearer TOKEN") carries; null when it matches none.
    // Every configured hash is compared in full, so that the time taken tells nothing.
    const Token* match(std::string_view authorization) const;

private:
    std::vector<Token> tokens_;
    bool readRequiresToken_ = false;
};

bool allows(const Token& token, Role least);
// Whether the projector is in the token's scope: named, a member of a group named, or every
// projector for a token that names neither.
bool inScope(const Token& token, const fleet::ProjectorEntry& projector);

// Failed attempts by peer address: from the kFree-th failure within kWindow on, a peer that
// presents a token waits, the wait doubling from 1 s up to kLongest, until a success or until
// its failures have left the window. Bounded to maxPeers, the longest quiet dropped first.
class Attempts {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kFree = 5;
    static constexpr std::chrono::minutes kWindow{10};
    static constexpr std::chrono::seconds kLongest{300};

    explicit Attempts(std::size_t maxPeers = 4096) : maxPeers_(maxPeers) {}

    // How long the peer must still wait; zero when it need not.
    std::chrono::seconds waiting(const std::string& peer, Clock::time_point now);
    void failed(const std::string& peer, Clock::time_point now);
    void succeeded(const std::string& peer);

private:
    struct Peer {
        std::vector<Clock::time_point> failures;  // within the window, oldest first
        Clock::time_point until{};
    };
    static void prune(Peer& peer, Clock::time_point now);

    std::mutex mutex_;
    const std::size_t maxPeers_;
    std::unordered_map<std::string, Peer> peers_;
};

}  // namespace zolvane::service::auth
