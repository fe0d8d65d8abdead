// Host-name lookups for the stepwise exchanges: a few threads of the library's own, shared by
// every link, run the platform's blocking resolver so that no caller ever waits for it. A
// request returns a ticket whose descriptor becomes readable once the answer is in; requests
// for a name already being looked up share that lookup, and answers are kept for a while
// (a name found for 30 s, one not found for 5 s). A caller that gives up simply drops its
// ticket; the lookup finishes on its own and its answer still fills the cache.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zolvane {

struct PendingLookup;

class LookupTicket {
public:
    LookupTicket() = default;
    explicit LookupTicket(std::shared_ptr<PendingLookup> lookup) : lookup_(std::move(lookup)) {}

    bool valid() const { return lookup_ != nullptr; }
    // Readable once the answer is in; -1 when the answer came from the cache (it is ready).
    int fd() const;
    bool ready() const;
    // Once ready: true with the first IPv4 address (network byte order) when the name was found.
    bool found(uint32_t& address) const;

private:
    std::shared_ptr<PendingLookup> lookup_;
};

// The lookup of a host name (never a numeric address: those need no resolver).
LookupTicket RequestLookup(const std::string& name);

}  // namespace zolvane
