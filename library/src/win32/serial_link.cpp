// One command over an RS-232 port: open exclusively, queues of 4096 bytes, purge, 19200 8N1
// without flow control, time-outs, raise DTR, write the frame, poll about one second for the
// reply, close.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <string>

#include "links.h"

namespace zolvane {
namespace {

constexpr DWORD kQueueSize = 4096;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// 100 polls 10 ms apart: the projector has about one second to answer.
constexpr int kReplyPolls = 100;
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

ResultCode AwaitReply(HANDLE port, uint8_t* reply, std::size_t replySize, std::size_t& received) {
    for (int poll = 0; poll < kReplyPolls; ++poll) {
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

}  // namespace

std::string SerialDevicePath(const char* port) {
    const char* digits = port + 3;
    if (_strnicmp(port, "COM", 3) != 0 || *digits == '\0') return port;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return port;
    }
    return std::string("\\\\.\\") + port;
}

ResultCode SerialExchange(const char* port, const uint8_t* frame, std::size_t frameLength,
                          uint8_t* reply, std::size_t replySize, std::size_t& received) {
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
    // plus 500 ms.
    COMMTIMEOUTS timeouts{100, 10, 500, 10, 500};
    if (!::SetCommTimeouts(handle, &timeouts)) return ResultPortTimeoutsFailed;
    DWORD errors = 0;
    if (!::ClearCommError(handle, &errors, nullptr)) return ResultPortError;
    if (!::EscapeCommFunction(handle, SETDTR)) return ResultPortDtrFailed;

    // Once more just before the frame goes out, unchecked: noise picked up while DTR rose is
    // not the reply's fault.
    ::ClearCommError(handle, &errors, nullptr);
    ::EscapeCommFunction(handle, SETDTR);
    if (!WriteFrame(handle, frame, frameLength)) return ResultPortWriteFailed;
    return AwaitReply(handle, reply, replySize, received);
}

}  // namespace zolvane
