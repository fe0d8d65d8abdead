#include "host_lookup.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace zolvane {
namespace {

// Shared by the caller and the helper thread; whichever lets go last frees it.
struct Lookup {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool found = false;
    uint32_t address = 0;
};

}  // namespace

bool LookUpHost(const char* host, const Deadline& deadline, HostResolver resolve,
                uint32_t& address) {
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, name = std::string(host), resolve] {
            uint32_t found = 0;
            const bool ok = resolve(name, found);
            std::lock_guard guard(lookup->lock);
            lookup->found = ok;
            lookup->address = found;
            lookup->done = true;
            lookup->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the lookup runs here, bounded only by the resolver's own limits.
        return resolve(host, address);
    }
    std::unique_lock guard(lookup->lock);
    const bool done = lookup->finished.wait_for(guard, Milliseconds(deadline.remainingMs()),
                                                [&] { return lookup->done; });
    if (!done) {
        KeepLibraryLoaded();
        return false;
    }
    address = lookup->address;
    return lookup->found;
}

}  // namespace zolvane
