#include "auth/access.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "zolvane_fleet/inventory_section.h"

namespace zolvane::service::auth {
namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

std::optional<std::string> readToken(const std::filesystem::path& file, std::string* why) {
    std::string reason;
    const std::optional<std::string> text = fleet::readSmallFile(file.string(), &reason);
    if (!text) {
        if (why) *why = file.string() + ": " + reason;
        return {};
    }
    const std::string token(trimmed(std::string_view(*text).substr(0, text->find('\n'))));
    if (token.empty()) {
        if (why) *why = file.string() + ": holds no token";
        return {};
    }
    return token;
}

Access::Access(std::vector<Token> tokens, bool readRequiresToken)
    : tokens_(std::move(tokens)), readRequiresToken_(readRequiresToken) {}

const Token* Access::match(std::string_view authorization) const {
    constexpr std::string_view scheme = "bearer ";
    if (authorization.size() < scheme.size()) return nullptr;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        const char c = authorization[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != scheme[i]) return nullptr;
    }
    const std::string_view presented = trimmed(authorization.substr(scheme.size()));
    if (presented.empty()) return nullptr;
    const Digest given = sha256Of(presented);
    const Token* found = nullptr;
    for (const Token& token : tokens_) {
        if (CRYPTO_memcmp(given.data(), token.sha256.data(), given.size()) == 0) found = &token;
    }
    return found;
}

bool allows(const Token& token, Role least) { return token.role >= least; }

bool inScope(const Token& token, const fleet::ProjectorEntry& projector) {
    if (token.projectors.empty() && token.groups.empty()) return true;
    if (contains(token.projectors, projector.name) || contains(token.groups, "all")) return true;
    return std::any_of(projector.groups.begin(), projector.groups.end(),
                       [&](const std::string& group) { return contains(token.groups, group); });
}

void Attempts::prune(Peer& peer, Clock::time_point now) {
    const auto kept = std::find_if(peer.failures.begin(), peer.failures.end(),
                                   [&](Clock::time_point at) { return now - at < kWindow; });
    peer.failures.erase(peer.failures.begin(), kept);
}

std::chrono::seconds Attempts::waiting(const std::string& peer, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const auto found = peers_.find(peer);
    if (found == peers_.end()) return {};
    prune(found->second, now);
    if (found->second.failures.size() < kFree || now >= found->second.until) return {};
    // Whole seconds, rounded up, as Retry-After gives them.
    return std::chrono::ceil<std::chrono::seconds>(found->second.until - now);
}

void Attempts::failed(const std::string& peer, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (!peers_.count(peer) && peers_.size() >= maxPeers_) {
        const auto last = [](const auto& entry) {
            return entry.second.failures.empty() ? Clock::time_point{}
                                                 : entry.second.failures.back();
        };
        const auto quietest =
            std::min_element(peers_.begin(), peers_.end(),
                             [&](const auto& a, const auto& b) { return last(a) < last(b); });
        peers_.erase(quietest);
    }
    Peer& entry = peers_[peer];
    prune(entry, now);
    entry.failures.push_back(now);
    if (entry.failures.size() >= kFree) {
        const std::size_t doublings = std::min<std::size_t>(entry.failures.size() - kFree, 16);
        const auto wait = std::min<std::chrono::seconds>(
            std::chrono::seconds(std::int64_t{1} << doublings), kLongest);
        entry.until = now + wait;
    }
}

void Attempts::succeeded(const std::string& peer) {
    std::lock_guard lock(mutex_);
    peers_.erase(peer);
}

}  // namespace zolvane::service::auth
