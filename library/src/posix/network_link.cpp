// One command over one TCP connection. Every phase has its own deadline (name lookup and
// connect together, send, receive: by default 3000 ms each), kept with non-blocking sockets and
// poll() instead of watchdog threads, so the socket belongs to this exchange alone and is closed
// exactly once.
#include <dlfcn.h>

#include "late_reply.h"
#include "network_endpoint.h"
#include "poll_one.h"
#include "socket_steps.h"

namespace zolvane {
namespace {

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { CloseExchangeSocket(fd_); }
    int fd() const { return fd_; }

private:
    int fd_;
};

bool Connect(int fd, const Endpoint& to, const Deadline& deadline) {
    const Step started = StartConnect(fd, to);
    if (started != Step::Wait) return started == Step::Done;
    if (PollOne(fd, POLLOUT, deadline.remainingMs()) <= 0) return false;
    return ConnectMade(fd);
}

ResultCode Send(int fd, const uint8_t* frame, std::size_t length, Milliseconds limit) {
    const Deadline deadline(limit);
    std::size_t sent = 0;
    for (;;) {
        const Step step = SendSome(fd, frame, length, sent);
        if (step == Step::Done) return ResultOk;
        if (step == Step::Failed) return ResultSendFailed;
        const int ready = PollOne(fd, POLLOUT, deadline.remainingMs());
        if (ready == 0) return ResultNetworkTimeout;
        if (ready < 0) return ResultSendFailed;
    }
}

ResultCode Receive(int fd, uint8_t* reply, std::size_t replySize, std::size_t& received,
                   Milliseconds limit) {
    const Deadline deadline(limit);
    for (;;) {
        const Step step = ReceiveSome(fd, reply, replySize, received);
        if (step == Step::Done) return ResultOk;
        // the projector closed before the reply was whole
        if (step == Step::Failed) return ResultReceiveFailed;
        const int ready = PollOne(fd, POLLIN, deadline.remainingMs());
        if (ready == 0) return ResultNetworkTimeout;
        if (ready < 0) return ResultReceiveFailed;
    }
}

int DiscardInput(int fd, int ms) {
    const int ready = PollOne(fd, POLLIN, ms);
    if (ready <= 0) return ready;
    return DiscardWaitingInput(fd);
}

}  // namespace

// A shared object stays mapped once dlopen has marked it not to be deleted.
void KeepLibraryLoaded() {
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&KeepLibraryLoaded), &self) != 0 && self.dli_fname) {
        ::dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

// Sockets here need no start-up and hold nothing between exchanges.
bool StartSocketLayer() { return true; }
void StopSocketLayer() {}
bool AcquireSocketLayer() { return true; }
void ReleaseSocketLayer() {}

ResultCode NetworkExchange(const NetworkTarget& target, const LinkTimes& times,
                           const uint8_t* frame, std::size_t frameLength, uint8_t* reply,
                           std::size_t replySize, std::size_t& received) {
    received = 0;
    const int fd = OpenExchangeSocket(target.ipv6);
    if (fd < 0) return ResultSocketFailed;
    Socket socket(fd);
    const Deadline connectDeadline(times.connect);
    Endpoint to;
    if (!ResolveEndpoint(target, connectDeadline, FirstIPv4Address, to)) {
        return ResultHostNotFound;
    }
    if (!Connect(fd, to, connectDeadline)) return ResultConnectFailed;
    SendWithoutDelay(fd);

    const std::string key = LinkKey(to);
    if (const Milliseconds left = LateReplyWindowLeft(key); left.count() > 0) {
        if (!DrainLateReply(left, [fd](int ms) { return DiscardInput(fd, ms); })) {
            return ResultReceiveFailed;
        }
    }
    ResultCode result = Send(fd, frame, frameLength, times.send);
    if (result == ResultOk) result = Receive(fd, reply, replySize, received, times.receive);
    if (result != ResultOk) NoteUnansweredExchange(key);
    return result;
}

}  // namespace zolvane
