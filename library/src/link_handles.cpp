// Links as values: each handle names a Link of its own in a registry. A handle is a number
// that is never given out twice, so a closed or made-up handle finds nothing; the registry's
// lock is held only to find or change an entry, never during an exchange, and an exchange keeps
// its Link alive by its own reference when the handle is closed under it.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "frame.h"
#include "link.h"
#include "link_address.h"
#include "stepwise_exchange.h"
#include "zolvane_link.h"

namespace zolvane {
namespace {

struct Registry {
    std::mutex lock;
    uintptr_t lastId = 0;
    std::map<uintptr_t, std::shared_ptr<Link>> links;
};

Registry& Links() {
    // Never destroyed, like the default link.
    static Registry* registry = new Registry;
    return *registry;
}

std::shared_ptr<Link> Find(zv_link* handle) {
    Registry& registry = Links();
    std::lock_guard guard(registry.lock);
    const auto found = registry.links.find(reinterpret_cast<uintptr_t>(handle));
    return found == registry.links.end() ? nullptr : found->second;
}

struct OptionRange {
    int32_t option;
    Link::Option which;
    int32_t least;
    int32_t most;
};

constexpr OptionRange kOptions[] = {
    {ZV_LINK_CONNECT_TIMEOUT_MS, Link::OptionConnect, 1, 600000},
    {ZV_LINK_SEND_TIMEOUT_MS, Link::OptionSend, 1, 600000},
    {ZV_LINK_RECEIVE_TIMEOUT_MS, Link::OptionReceive, 1, 600000},
    {ZV_LINK_GAP_MS, Link::OptionGap, 0, 60000},
};

const OptionRange* FindOption(int32_t option) {
    for (const OptionRange& range : kOptions) {
        if (range.option == option) return &range;
    }
    return nullptr;
}

ResultCode Run(zv_link* handle, bool isGet, uint32_t action, uint16_t type, uint32_t value,
               uint16_t* valueOut) {
    if (handle == nullptr) return FinishCall(ResultBadArgument);
    const std::shared_ptr<Link> link = Find(handle);
    if (!link) return FinishCall(ResultLinkClosed);
    uint8_t frame[kFrameLength];
    BuildCommandFrame(action, type, value, frame);
    return FinishCall(link->exchange(isGet, frame, kFrameLength, valueOut));
}

}  // namespace
}  // namespace zolvane

using namespace zolvane;

extern "C" ZV_API zv_link* ZV_CALL zv_link_open(const char* address, zv_result* why) {
    const auto refuse = [why](ResultCode result) -> zv_link* {
        FinishCall(result);
        if (why != nullptr) *why = result;
        return nullptr;
    };
    if (address == nullptr) return refuse(ResultBadArgument);
    const LinkAddress read = ReadLinkAddress(address);
    if (!read.valid) return refuse(ResultBadAddress);

    auto link = std::make_shared<Link>();
    link->type = read.network ? ConnectionNetwork : ConnectionSerial;
    link->ipv6 = read.ipv6;
    std::memcpy(link->string1, read.where.data(), read.where.size());
    std::memcpy(link->string2, read.port.data(), read.port.size());
    if (read.network) {
        if (!AcquireSocketLayer()) return refuse(ResultSocketFailed);
        link->holdsSocketLayer = true;
    }

    Registry& registry = Links();
    uintptr_t id;
    {
        std::lock_guard guard(registry.lock);
        id = ++registry.lastId;
        registry.links.emplace(id, std::move(link));
    }
    FinishCall(ResultOk);
    if (why != nullptr) *why = ResultOk;
    return reinterpret_cast<zv_link*>(id);
}

extern "C" ZV_API void ZV_CALL zv_link_close(zv_link* handle) {
    std::shared_ptr<Link> link;
    {
        Registry& registry = Links();
        std::lock_guard guard(registry.lock);
        const auto found = registry.links.find(reinterpret_cast<uintptr_t>(handle));
        if (found == registry.links.end()) return;
        link = std::move(found->second);
        registry.links.erase(found);
    }
    // Exchanges still waiting for the link's lock are refused; a running one ends as it would
    // have, and the last reference frees the link. A stepwise one ends here.
    link->markClosed();
    AbandonStepwise(*link);
}

extern "C" ZV_API zv_result ZV_CALL zv_link_set_option(zv_link* handle, int32_t option,
                                                       int32_t value) {
    if (handle == nullptr) return FinishCall(ResultBadArgument);
    const OptionRange* range = FindOption(option);
    if (range == nullptr || value < range->least || value > range->most) {
        return FinishCall(ResultBadArgument);
    }
    const std::shared_ptr<Link> link = Find(handle);
    if (!link) return FinishCall(ResultLinkClosed);
    link->setOption(range->which, value);
    return FinishCall(ResultOk);
}

extern "C" ZV_API zv_result ZV_CALL zv_link_get_option(zv_link* handle, int32_t option,
                                                       int32_t* value) {
    const OptionRange* range = FindOption(option);
    if (handle == nullptr || value == nullptr || range == nullptr) {
        return FinishCall(ResultBadArgument);
    }
    const std::shared_ptr<Link> link = Find(handle);
    if (!link) return FinishCall(ResultLinkClosed);
    *value = link->option(range->which);
    return FinishCall(ResultOk);
}

extern "C" ZV_API zv_result ZV_CALL zv_get(zv_link* link, uint16_t type, uint16_t* value) {
    if (value == nullptr) return FinishCall(ResultBadArgument);  // nowhere to put the answer
    return Run(link, true, ActionGet, type, 0, value);
}

extern "C" ZV_API zv_result ZV_CALL zv_set(zv_link* link, uint16_t type, int32_t value) {
    return Run(link, false, ActionSet, type, static_cast<uint32_t>(value), nullptr);
}

extern "C" ZV_API zv_result ZV_CALL zv_increment(zv_link* link, uint16_t type) {
    return Run(link, false, ActionIncrement, type, 0, nullptr);
}

extern "C" ZV_API zv_result ZV_CALL zv_decrement(zv_link* link, uint16_t type) {
    return Run(link, false, ActionDecrement, type, 0, nullptr);
}

extern "C" ZV_API zv_result ZV_CALL zv_execute(zv_link* link, uint16_t type) {
    return Run(link, false, ActionExecute, type, 0, nullptr);
}

extern "C" ZV_API zv_result ZV_CALL zv_link_begin(zv_link* handle, int32_t action, uint16_t type,
                                                  int32_t value) {
    if (handle == nullptr) return FinishCall(ResultBadArgument);
    const std::shared_ptr<Link> link = Find(handle);
    if (!link) return FinishCall(ResultLinkClosed);
    return FinishCall(
        BeginStepwise(*link, static_cast<uint32_t>(action), type, static_cast<uint32_t>(value)));
}

extern "C" ZV_API zv_result ZV_CALL zv_link_wait_for(zv_link* handle, int32_t* fd, int32_t* events,
                                                     int32_t* timeout_ms) {
    if (handle == nullptr || fd == nullptr || events == nullptr || timeout_ms == nullptr) {
        return FinishCall(ResultBadArgument);
    }
    const std::shared_ptr<Link> link = Find(handle);
    if (!link) return FinishCall(ResultLinkClosed);
    return FinishCall(StepwiseWaitFor(*link, *fd, *events, *timeout_ms));
}

extern "C" ZV_API zv_result ZV_CALL zv_link_continue(zv_link* handle, uint16_t* value) {
    if (handle == nullptr) return FinishCall(ResultBadArgument);
    const std::shared_ptr<Link> link = Find(handle);
    if (!link) return FinishCall(ResultLinkClosed);
    return FinishCall(ContinueStepwise(*link, value));
}
