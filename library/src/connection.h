// The process-wide connection setting and the exchange of one frame for one reply.
#pragma once

#include <cstddef>
#include <cstdint>

#include "result.h"

namespace zolvane {

enum ConnectionType : int32_t {
    ConnectionNone = 0,
    ConnectionSerial = 1,
    ConnectionNetwork = 2,
};

// Sends the frame over the configured link and interprets the reply. For a get, the value is
// stored through valueOut only when the projector answered 1D lo hi in full.
ResultCode ExchangeCommand(bool isGet, const uint8_t* frame, std::size_t frameLength,
                           uint16_t* valueOut);

// The result of the calling thread's last exchange or connection call.
ResultCode LastResult();

}  // namespace zolvane
