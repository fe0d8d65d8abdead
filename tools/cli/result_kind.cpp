#include "result_kind.h"

#include "zolvane.h"
#include "zolvane_fleet/driver_results.h"

namespace zolvane::cli {

ExitStatus ExitStatusFor(uint32_t result) {
    switch (result) {
        case ZV_RESULT_OK:
            return ExitOk;
        // The projector answered, and said no: ours refused the frame; a PJLink projector has no
        // such command (ERR1), cannot now (ERR3: warming, cooling, standby) or reports a fault
        // (ERR4).
        case ZV_RESULT_BAD_REPLY:
        case fleet::kUnsupported:
        case fleet::kUnavailable:
        case fleet::kProjectorFailure:
            return ExitRefused;
        // What answered is not a projector we can talk to: an answer that is not the
        // protocol's, or a password refused or missing.
        case fleet::kBadAnswer:
        case fleet::kAuthFailed:
            return ExitLinkFailed;
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
