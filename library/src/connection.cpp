#include "connection.h"

#include <cstring>
#include <thread>

#include "link.h"
#include "zolvane.h"

namespace zolvane {
namespace {

thread_local ResultCode tLastResult = ResultOk;

// Clears the whole buffer, then copies at most 255 characters so the terminator always fits.
void StoreString(char (&to)[Link::kStringSize], const char* from) {
    std::memset(to, 0, Link::kStringSize);
    if (from != nullptr) std::memcpy(to, from, strnlen(from, Link::kStringSize - 1));
}

bool Fits(const char* text, int32_t size) {
    return size >= 0 && std::strlen(text) <= static_cast<std::size_t>(size);
}

}  // namespace

ResultCode FinishCall(ResultCode result) {
    tLastResult = result;
    return result;
}

ResultCode LastResult() { return tLastResult; }

Link& DefaultLink() {
    // Never destroyed: a thread still in an exchange at exit must not find it gone.
    static Link* link = new Link;
    return *link;
}

Clock::time_point Link::nextStart() const {
    const int32_t gap = options_[OptionGap].load();
    return gap > 0 && exchanged_ ? lastEnd_ + Milliseconds(gap) : Clock::time_point{};
}

void Link::noteExchangeEnd() {
    exchanged_ = true;
    lastEnd_ = Clock::now();
}

bool Link::stepwisePending() {
    std::lock_guard guard(stepLock);
    return step != nullptr;
}

LinkTimes Link::times() const {
    const LinkTimes& defaults = type == ConnectionSerial ? kSerialTimes : kNetworkTimes;
    const auto pick = [this](Option which, Milliseconds fallback) {
        const int32_t ms = options_[which].load();
        return ms > 0 ? Milliseconds(ms) : fallback;
    };
    return {pick(OptionConnect, defaults.connect), pick(OptionSend, defaults.send),
            pick(OptionReceive, defaults.receive)};
}

int32_t Link::option(Option which) const {
    if (which == OptionGap) return options_[OptionGap].load();
    const LinkTimes in = times();
    const Milliseconds ms = which == OptionConnect ? in.connect
                            : which == OptionSend  ? in.send
                                                   : in.receive;
    return static_cast<int32_t>(ms.count());
}

ResultCode Link::exchange(bool isGet, const uint8_t* frame, std::size_t frameLength,
                          uint16_t* valueOut) {
    uint8_t reply[kReplyBufferSize] = {};
    std::size_t received = 0;
    ResultCode result;
    {
        std::lock_guard guard(lock);
        // Closed while this caller waited for the link.
        if (closed_.load()) return ResultLinkClosed;
        if (type != ConnectionSerial && type != ConnectionNetwork) return ResultNoConnectionType;
        if (stepwisePending()) return ResultLinkBusy;
        std::this_thread::sleep_until(nextStart());
        const LinkTimes limits = times();
        if (type == ConnectionSerial) {
            result =
                SerialExchange(string1, limits, frame, frameLength, reply, sizeof reply, received);
        } else {
            result = NetworkExchange(NetworkTarget{string1, string2, ipv6}, limits, frame,
                                     frameLength, reply, sizeof reply, received);
        }
        noteExchangeEnd();
    }
    if (result != ResultOk) return result;
    return InterpretReply(isGet, reply, received, valueOut);
}

ResultCode ExchangeCommand(bool isGet, const uint8_t* frame, std::size_t frameLength,
                           uint16_t* valueOut) {
    return FinishCall(DefaultLink().exchange(isGet, frame, frameLength, valueOut));
}

}  // namespace zolvane

using namespace zolvane;

extern "C" ZV_API int32_t ZV_CALL ZV_SetConnection(int32_t type, const char* string1,
                                                   const char* string2) {
    Link& link = DefaultLink();
    std::lock_guard guard(link.lock);
    StoreString(link.string1, string1);
    StoreString(link.string2, string2);
    switch (type & 0xFFFF) {
        case ConnectionSerial:
            StopSocketLayer();
            link.type = ConnectionSerial;
            break;
        case ConnectionNetwork:
            // Without its socket layer the network cannot be chosen; the link stays as it was.
            if (!StartSocketLayer()) {
                FinishCall(ResultSocketFailed);
                return 0;
            }
            link.type = ConnectionNetwork;
            break;
        // A refused kind leaves the socket layer alone, so the link kept stays usable.
        default:
            FinishCall(ResultNoConnectionType);
            return 0;
    }
    FinishCall(ResultOk);
    return 1;
}

extern "C" ZV_API int32_t ZV_CALL ZV_GetConnection(uint16_t* typeOut, char* buffer1, int32_t size1,
                                                   char* buffer2, int32_t size2) {
    Link& link = DefaultLink();
    std::lock_guard guard(link.lock);
    if (typeOut == nullptr || buffer1 == nullptr) return 0;
    switch (link.type) {
        case ConnectionSerial:
            if (!Fits(link.string1, size1)) return 0;
            *typeOut = ConnectionSerial;
            std::strcpy(buffer1, link.string1);
            return 1;
        case ConnectionNetwork:
            if (buffer2 == nullptr || !Fits(link.string1, size1) || !Fits(link.string2, size2))
                return 0;
            *typeOut = ConnectionNetwork;
            std::strcpy(buffer1, link.string1);
            std::strcpy(buffer2, link.string2);
            return 1;
        default:
            return 0;
    }
}
