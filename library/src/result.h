// Outcome of one exchange with the projector. 0 is success; every failure has the top bit set.
#pragma once

#include <cstdint>

namespace zolvane {

enum ResultCode : uint32_t {
    ResultOk = 0,
    ResultNoConnectionType = 0x80000000,
    ResultNoReply = 0x80000001,
    ResultBadReply = 0x80000002,
    ResultPortOpenFailed = 0x80000003,
    ResultPortBuffersFailed = 0x80000004,
    ResultPortPurgeFailed = 0x80000005,
    ResultPortGetStateFailed = 0x80000006,
    ResultPortSetStateFailed = 0x80000007,
    ResultPortTimeoutsFailed = 0x80000008,
    ResultPortError = 0x80000009,
    ResultPortDtrFailed = 0x8000000A,
    ResultPortWriteFailed = 0x8000000B,
    ResultPortNoData = 0x8000000D,
    ResultPortReplyTooLong = 0x8000000E,
    ResultPortReadFailed = 0x8000000F,
    ResultPortReplyTimeout = 0x80000010,
    ResultSocketFailed = 0x80000012,
    ResultHostNotFound = 0x80000013,
    ResultConnectFailed = 0x80000014,
    ResultSendFailed = 0x80000015,
    ResultReceiveFailed = 0x80000016,
    ResultNetworkTimeout = 0x80000017,
    // Refused by the link calls before anything is sent.
    ResultBadArgument = 0x80000018,
    ResultLinkClosed = 0x80000019,
    ResultBadAddress = 0x8000001A,
    // The stepwise exchange calls.
    ResultPending = 0x8000001B,
    ResultLinkBusy = 0x8000001C,
};

}  // namespace zolvane
