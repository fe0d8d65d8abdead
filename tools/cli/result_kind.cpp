#include "result_kind.h"

#include "zolvane.h"

namespace zolvane::cli {

ExitStatus ExitStatusFor(uint32_t result) {
    switch (result) {
        case ZV_RESULT_OK:
            return ExitOk;
        case ZV_RESULT_BAD_REPLY:
            return ExitRefused;
        case ZV_RESULT_NO_CONNECTION_TYPE:
            return ExitUsage;
        default:
            return ExitLinkFailed;
    }
}

bool FrameNeverLeft(uint32_t result) {
    switch (result) {
        case ZV_RESULT_PORT_OPEN_FAILED:
        case ZV_RESULT_PORT_BUFFERS_FAILED:
        case ZV_RESULT_PORT_PURGE_FAILED:
        case ZV_RESULT_PORT_GET_STATE_FAILED:
        case ZV_RESULT_PORT_SET_STATE_FAILED:
        case ZV_RESULT_PORT_TIMEOUTS_FAILED:
        case ZV_RESULT_PORT_DTR_FAILED:
        case ZV_RESULT_SOCKET_FAILED:
        case ZV_RESULT_HOST_NOT_FOUND:
        case ZV_RESULT_CONNECT_FAILED:
            return true;
        default:
            return false;
    }
}

}  // namespace zolvane::cli
