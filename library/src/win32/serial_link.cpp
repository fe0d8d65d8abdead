// One command over an RS-232 port: open exclusively, queues of 4096 bytes, purge, 19200 8N1
// without flow control, time-outs, raise DTR, write the frame, poll about one second for the
// reply, close.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "late_reply.h"
#include "links.h"

namespace zolvane {
namespace {

constexpr DWORD kQueueSize = 4096;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// Polls 10 ms apart: by default 100 of them, so the projector has about one second to answer.
constexpr DWORD kPollPauseMs = 10;

class Port {
public:
    explicit Port(HANDLE handle) : handle_(handle) {}
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    ~Port() { ::CloseHandle(handle_); }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

void ConfigureLine(DCB& dcb) {
    dcb.BaudRate = CBR_19200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    // DTR is raised by hand before sending; RTS stays low: there is no hardware handshake.
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // A line error stops reads until it is cleared, so a damaged reply is never taken.
    dcb.fAbortOnError = TRUE;
}

bool WriteFrame(HANDLE port, const uint8_t* frame, std::size_t length) {
    DWORD written = 0;
    return ::WriteFile(port, frame, static_cast<DWORD>(length), &written, nullptr) &&
           written == length;
}

ResultCode AwaitReply(HANDLE port, uint8_t* reply, std::size_t replySize, std::size_t& received,
                      Milliseconds limit) {
    const long long polls = std::max<long long>(1, limit.count() / kPollPauseMs);
    for (long long poll = 0; poll < polls; ++poll) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(port, &errors, &status) || errors != 0) return ResultPortError;
        const std::size_t waiting = status.cbInQue;
        if (waiting > 0) {
            if (received + waiting > replySize) {
                ::PurgeComm(port, kPurgeAll);
                return ResultPortReplyTooLong;
            }
            DWORD read = 0;
            if (!::ReadFile(port, reply + received, static_cast<DWORD>(waiting), &read, nullptr)) {
                return ResultPortReadFailed;
            }
            received += read;
            // A value reply is collected until its three bytes are in; any other reply is
            // taken as it stands.
            if (received > 0 && !(reply[0] == 0x1D && received < 3)) return ResultOk;
        }
        ::Sleep(kPollPauseMs);
    }
    return received > 0 ? ResultOk : ResultPortReplyTimeout;
}

// Reads and throws away what the line brings within ms; see DrainLateReply.
int DiscardInput(HANDLE port, int ms) {
    const Deadline deadline{Milliseconds(ms)};
    do {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(port, &errors, &status)) return -1;
        if (status.cbInQue > 0) {
            uint8_t sink[kReplyBufferSize];
            DWORD read = 0;
            const DWORD wanted = status.cbInQue < sizeof sink ? status.cbInQue : sizeof sink;
            if (!::ReadFile(port, sink, wanted, &read, nullptr)) return -1;
            return static_cast<int>(read);
        }
        ::Sleep(1);
    } while (!deadline.expired());
    return 0;
}

// Port names are not case-sensitive: com3 is COM3.
std::string LinkKey(const char* name) {
    std::string key = "tty.";
    for (const char* p = name; *p != '\0'; ++p) {
        key += (*p >= 'a' && *p <= 'z') ? static_cast<char>(*p - 'a' + 'A') : *p;
    }
    return key;
}

}  // namespace

std::string SerialDevicePath(const char* port) {
    const char* digits = port + 3;
    if (_strnicmp(port, "COM", 3) != 0 || *digits == '\0') return port;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return port;
    }
    return std::string("\\\\.\\") + port;
}

ResultCode SerialExchange(const char* port, const LinkTimes& times, const uint8_t* frame,
                          std::size_t frameLength, uint8_t* reply, std::size_t replySize,
                          std::size_t& received) {
    received = 0;
    char name[256] = {};
    std::strncpy(name, port, sizeof name - 1);

    const HANDLE handle = ::CreateFileA(SerialDevicePath(name).c_str(),
                                        GENERIC_READ | GENERIC_WRITE, 0 /* no sharing */, nullptr,
                                        OPEN_EXISTING, 0 /* no overlapped I/O */, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return ResultPortOpenFailed;
    Port device(handle);

    if (!::SetupComm(handle, kQueueSize, kQueueSize)) return ResultPortBuffersFailed;
    if (!::PurgeComm(handle, kPurgeAll)) return ResultPortPurgeFailed;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle, &dcb)) return ResultPortGetStateFailed;
    ConfigureLine(dcb);
    if (!::SetCommState(handle, &dcb)) return ResultPortSetStateFailed;
    // Read: 100 ms between bytes, 10 ms per byte plus 500 ms in all; write: 10 ms per byte
    // plus 500 ms
    // (the write's constant part follows the link's send time, 630 ms by default).
    const long long writeConstant =
        std::max<long long>(0, times.send.count() - 10 * static_cast<long long>(frameLength));
    COMMTIMEOUTS timeouts{100, 10, 500, 10, static_cast<DWORD>(writeConstant)};
    if (!::SetCommTimeouts(handle, &timeouts)) return ResultPortTimeoutsFailed;
    DWORD errors = 0;
    if (!::ClearCommError(handle, &errors, nullptr)) return ResultPortError;
    if (!::EscapeCommFunction(handle, SETDTR)) return ResultPortDtrFailed;

    // The answer to an earlier frame that gave up on it may still be on its way; the line is
    // ready as for sending while it is drained.
    const std::string key = LinkKey(name);
    if (const Milliseconds left = LateReplyWindowLeft(key); left.count() > 0) {
        if (!DrainLateReply(left, [handle](int ms) { return DiscardInput(handle, ms); })) {
            return ResultPortReadFailed;
        }
        ::PurgeComm(handle, PURGE_RXCLEAR);
    }

    // Once more just before the frame goes out, unchecked: noise picked up while DTR rose is
    // not the reply's fault.
    ::ClearCommError(handle, &errors, nullptr);
    ::EscapeCommFunction(handle, SETDTR);
    ResultCode result = ResultPortWriteFailed;
    if (WriteFrame(handle, frame, frameLength)) {
        result = AwaitReply(handle, reply, replySize, received, times.receive);
    }
    if (result != ResultOk || !ReplyWhole(reply, received)) NoteUnansweredExchange(key);
    return result;
}

}  // namespace zolvane
