#include "connection.h"

#include <cstring>
#include <mutex>

#include "links.h"
#include "zolvane.h"

namespace zolvane {
namespace {

constexpr std::size_t kStringSize = 256;

struct ConnectionState {
    std::recursive_mutex lock;
    int32_t type = ConnectionNone;
    char string1[kStringSize] = {};
    char string2[kStringSize] = {};
};

ConnectionState& State() {
    static ConnectionState state;
    return state;
}

thread_local ResultCode tLastResult = ResultOk;

// Clears the whole buffer, then copies at most 255 characters so the terminator always fits.
void StoreString(char (&to)[kStringSize], const char* from) {
    std::memset(to, 0, kStringSize);
    if (from != nullptr) std::memcpy(to, from, strnlen(from, kStringSize - 1));
}

bool Fits(const char* text, int32_t size) {
    return size >= 0 && std::strlen(text) <= static_cast<std::size_t>(size);
}

ResultCode Finish(ResultCode result) {
    tLastResult = result;
    return result;
}

}  // namespace

ResultCode LastResult() { return tLastResult; }

ResultCode ExchangeCommand(bool isGet, const uint8_t* frame, std::size_t frameLength,
                           uint16_t* valueOut) {
    uint8_t reply[kReplyBufferSize] = {};
    std::size_t received = 0;
    ConnectionState& state = State();
    ResultCode result;
    {
        std::lock_guard guard(state.lock);
        switch (state.type) {
            case ConnectionSerial:
                result = SerialExchange(state.string1, frame, frameLength, reply, sizeof reply,
                                        received);
                break;
            case ConnectionNetwork:
                result = NetworkExchange(state.string1, state.string2, frame, frameLength, reply,
                                         sizeof reply, received);
                break;
            default:
                return Finish(ResultNoConnectionType);
        }
    }
    if (result != ResultOk) return Finish(result);
    if (received == 0) return Finish(ResultNoReply);
    if (isGet) {
        // A value is taken only from bytes that were actually received.
        if (reply[0] != 0x1D || received < 3 || valueOut == nullptr) return Finish(ResultBadReply);
        *valueOut = static_cast<uint16_t>(reply[1] | reply[2] << 8);
        return Finish(ResultOk);
    }
    return Finish(reply[0] == 0x06 ? ResultOk : ResultBadReply);
}

}  // namespace zolvane

using namespace zolvane;

extern "C" ZV_API int32_t ZV_CALL ZV_SetConnection(int32_t type, const char* string1,
                                                   const char* string2) {
    ConnectionState& state = State();
    std::lock_guard guard(state.lock);
    StoreString(state.string1, string1);
    StoreString(state.string2, string2);
    switch (type & 0xFFFF) {
        case ConnectionSerial:
            StopSocketLayer();
            state.type = ConnectionSerial;
            break;
        case ConnectionNetwork:
            // Without its socket layer the network cannot be chosen; the link stays as it was.
            if (!StartSocketLayer()) {
                Finish(ResultSocketFailed);
                return 0;
            }
            state.type = ConnectionNetwork;
            break;
        // A refused kind leaves the socket layer alone, so the link kept stays usable.
        default:
            Finish(ResultNoConnectionType);
            return 0;
    }
    Finish(ResultOk);
    return 1;
}

extern "C" ZV_API int32_t ZV_CALL ZV_GetConnection(uint16_t* typeOut, char* buffer1, int32_t size1,
                                                   char* buffer2, int32_t size2) {
    ConnectionState& state = State();
    std::lock_guard guard(state.lock);
    if (typeOut == nullptr || buffer1 == nullptr) return 0;
    switch (state.type) {
        case ConnectionSerial:
            if (!Fits(state.string1, size1)) return 0;
            *typeOut = ConnectionSerial;
            std::strcpy(buffer1, state.string1);
            return 1;
        case ConnectionNetwork:
            if (buffer2 == nullptr || !Fits(state.string1, size1) || !Fits(state.string2, size2))
                return 0;
            *typeOut = ConnectionNetwork;
            std::strcpy(buffer1, state.string1);
            std::strcpy(buffer2, state.string2);
            return 1;
        default:
            return 0;
    }
}
