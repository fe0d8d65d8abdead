// Why the last command failed, in words a technician can act on.
#include "connection.h"
#include "zolvane.h"

namespace zolvane {
namespace {

struct ResultText {
    ResultCode code;
    const char* text;
};

constexpr ResultText kResultTexts[] = {
    {ResultOk, "success"},
    {ResultNoConnectionType, "no link chosen: set a serial or network connection first"},
    {ResultNoReply, "the link closed without any reply byte"},
    {ResultBadReply, "projector refused the command (NAK) or sent a reply that does not fit it"},
    {ResultPortOpenFailed, "serial port cannot be opened (missing, in use, or no permission)"},
    {ResultPortBuffersFailed, "serial port refused its queue sizes"},
    {ResultPortPurgeFailed, "serial port cannot be purged"},
    {ResultPortGetStateFailed, "device is not a serial port (its line settings cannot be read)"},
    {ResultPortSetStateFailed,
     "serial port refused 19200 bit/s, 8 data bits, no parity, 1 stop bit"},
    {ResultPortTimeoutsFailed, "serial port refused its time-outs"},
    {ResultPortError, "serial line error (framing, overrun, parity or break)"},
    {ResultPortDtrFailed, "serial port cannot raise DTR"},
    {ResultPortWriteFailed, "serial port did not take the command in time"},
    {ResultPortNoData, "no data yet"},
    {ResultPortReplyTooLong, "projector sent more than 64 bytes; the reply was discarded"},
    {ResultPortReadFailed, "reading the serial port failed (device gone?)"},
    {ResultPortReplyTimeout, "no reply from the projector within 1000 ms"},
    {ResultSocketFailed, "no network socket can be created"},
    {ResultHostNotFound, "projector's host name cannot be resolved"},
    {ResultConnectFailed, "connection refused or not made within 3000 ms"},
    {ResultSendFailed, "sending the command failed (connection reset?)"},
    {ResultReceiveFailed, "connection closed or reset before the reply was complete"},
    {ResultNetworkTimeout, "no reply from the projector within 3000 ms"},
    {ResultBadArgument, "null link or pointer, or an option out of range: nothing was sent"},
    {ResultLinkClosed, "the link is closed or was never opened: nothing was sent"},
    {ResultBadAddress, "the projector's address cannot be read"},
    {ResultPending, "the stepwise exchange is still under way: wait and continue it"},
    {ResultLinkBusy, "another exchange is under way on the link: nothing was sent"},
};

}  // namespace
}  // namespace zolvane

using namespace zolvane;

extern "C" ZV_API uint32_t ZV_CALL ZV_GetLastResult(void) { return LastResult(); }

extern "C" ZV_API const char* ZV_CALL ZV_GetResultText(uint32_t code) {
    for (const ResultText& entry : kResultTexts) {
        if (entry.code == code) return entry.text;
    }
    return "unknown result code";
}
