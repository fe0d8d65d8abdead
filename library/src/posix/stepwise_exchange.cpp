#include "stepwise_exchange.h"

#include <poll.h>

#include <algorithm>
#include <cstring>

#include "host_address.h"
#include "link.h"
#include "port_number.h"
#include "socket_steps.h"
#include "zolvane_link.h"

namespace zolvane {
namespace {

// While a lookup has no descriptor to wait on, it is looked at again this often.
constexpr int kLookupPollMs = 10;

int MsUntil(Clock::time_point when) {
    const auto left = std::chrono::ceil<Milliseconds>(when - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 0x7FFFFFFF)) : 0;
}

bool Passed(Clock::time_point when) { return Clock::now() >= when; }

// Whether the socket reports one of events now, without waiting.
bool ReadyNow(int fd, short events) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, 0) > 0;
}

}  // namespace

StepwiseExchange::StepwiseExchange(const NetworkTarget& target, const LinkTimes& times,
                                   Clock::time_point startAt, bool isGet,
                                   const uint8_t (&frame)[kFrameLength])
    : host_(target.host),
      port_(target.port),
      ipv6_(target.ipv6),
      times_(times),
      startAt_(startAt),
      isGet_(isGet) {
    std::memcpy(frame_, frame, kFrameLength);
}

StepwiseExchange::~StepwiseExchange() { closeSocket(); }

void StepwiseExchange::closeSocket() {
    if (fd_ >= 0) CloseExchangeSocket(fd_);
    fd_ = -1;
}

ResultCode StepwiseExchange::finish(ResultCode result) {
    closeSocket();
    ticket_ = LookupTicket();
    drain_.reset();
    phase_ = Phase::Done;
    result_ = result;
    return result;
}

ResultCode StepwiseExchange::step() {
    ResultCode result = ResultPending;
    // Each phase either waits (ResultPending with the phase unchanged), moves on to the next
    // phase (ResultPending with a new phase), or ends the exchange.
    for (;;) {
        const Phase before = phase_;
        switch (phase_) {
            case Phase::Gap:
                result = stepGap();
                break;
            case Phase::Lookup:
                result = stepLookup();
                break;
            case Phase::Connect:
                result = stepConnect();
                break;
            case Phase::Drain:
                result = stepDrain();
                break;
            case Phase::Send:
                result = stepSend();
                break;
            case Phase::Receive:
                result = stepReceive();
                break;
            case Phase::Done:
                return result_;
        }
        if (result != ResultPending || phase_ == before) return result;
    }
}

ResultCode StepwiseExchange::stepGap() {
    if (!Passed(startAt_)) return ResultPending;
    // Name lookup and connect share the connect time-out, counted from here as the blocking
    // exchange counts it from the end of its gap.
    deadline_ = Clock::now() + times_.connect;
    const NetworkTarget target{host_.c_str(), port_.c_str(), ipv6_};
    if (!ipv6_ && ReadNumericHost(host_.c_str()).kind == NumericHost::NotNumeric) {
        ticket_ = RequestLookup(host_);
        phase_ = Phase::Lookup;
        return ResultPending;
    }
    // Numeric addresses never reach a resolver, so this does not block.
    if (!ResolveEndpoint(target, Deadline(times_.connect), FirstIPv4Address, to_)) {
        return finish(ResultHostNotFound);
    }
    return beginConnect();
}

ResultCode StepwiseExchange::stepLookup() {
    if (!ticket_.ready()) {
        return Passed(deadline_) ? finish(ResultHostNotFound) : ResultPending;
    }
    uint32_t address = 0;
    const bool found = ticket_.found(address);
    ticket_ = LookupTicket();
    if (!found) return finish(ResultHostNotFound);
    auto& v4 = *reinterpret_cast<sockaddr_in*>(&to_.address);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(ParsePortNumber(port_.c_str()));
    v4.sin_addr.s_addr = address;
    to_.length = sizeof v4;
    return beginConnect();
}

ResultCode StepwiseExchange::beginConnect() {
    fd_ = OpenExchangeSocket(ipv6_);
    if (fd_ < 0) return finish(ResultSocketFailed);
    phase_ = Phase::Connect;
    const Step started = StartConnect(fd_, to_);
    if (started == Step::Failed) return finish(ResultConnectFailed);
    if (started == Step::Done) return connected();
    connecting_ = true;
    return ResultPending;
}

ResultCode StepwiseExchange::stepConnect() {
    if (!ReadyNow(fd_, POLLOUT)) {
        return Passed(deadline_) ? finish(ResultConnectFailed) : ResultPending;
    }
    if (!ConnectMade(fd_)) return finish(ResultConnectFailed);
    return connected();
}

ResultCode StepwiseExchange::connected() {
    connecting_ = false;
    SendWithoutDelay(fd_);
    key_ = LinkKey(to_);
    if (const Milliseconds left = LateReplyWindowLeft(key_); left.count() > 0) {
        drain_.emplace(left);
        phase_ = Phase::Drain;
        return ResultPending;
    }
    phase_ = Phase::Send;
    deadline_ = Clock::now() + times_.send;
    return ResultPending;
}

ResultCode StepwiseExchange::stepDrain() {
    while (!drain_->over()) {
        const int discarded = DiscardWaitingInput(fd_);
        if (discarded < 0) return finish(ResultReceiveFailed);
        if (discarded == 0) return ResultPending;
        drain_->discarded();
    }
    drain_.reset();
    phase_ = Phase::Send;
    deadline_ = Clock::now() + times_.send;
    return ResultPending;
}

ResultCode StepwiseExchange::stepSend() {
    const Step sent = SendSome(fd_, frame_, kFrameLength, sent_);
    if (sent == Step::Wait && !Passed(deadline_)) return ResultPending;
    if (sent != Step::Done) {
        NoteUnansweredExchange(key_);
        return finish(sent == Step::Wait ? ResultNetworkTimeout : ResultSendFailed);
    }
    phase_ = Phase::Receive;
    deadline_ = Clock::now() + times_.receive;
    return ResultPending;
}

ResultCode StepwiseExchange::stepReceive() {
    const Step got = ReceiveSome(fd_, reply_, sizeof reply_, received_);
    if (got == Step::Wait && !Passed(deadline_)) return ResultPending;
    if (got != Step::Done) {
        NoteUnansweredExchange(key_);
        return finish(got == Step::Wait ? ResultNetworkTimeout : ResultReceiveFailed);
    }
    const std::size_t received = received_;
    closeSocket();
    return finish(InterpretReply(isGet_, reply_, received, &value_));
}

void StepwiseExchange::waitFor(int32_t& fd, int32_t& events, int32_t& timeoutMs) const {
    fd = -1;
    events = ZV_WAIT_READ;
    timeoutMs = 0;
    switch (phase_) {
        case Phase::Gap:
            timeoutMs = MsUntil(startAt_);
            return;
        case Phase::Lookup:
            fd = ticket_.fd();
            timeoutMs = fd < 0 ? std::min(kLookupPollMs, MsUntil(deadline_)) : MsUntil(deadline_);
            return;
        case Phase::Connect:
            fd = fd_;
            events = ZV_WAIT_WRITE;
            timeoutMs = MsUntil(deadline_);
            return;
        case Phase::Drain:
            fd = fd_;
            timeoutMs = drain_->waitMs();
            return;
        case Phase::Send:
            fd = fd_;
            events = ZV_WAIT_WRITE;
            timeoutMs = MsUntil(deadline_);
            return;
        case Phase::Receive:
            fd = fd_;
            timeoutMs = MsUntil(deadline_);
            return;
        case Phase::Done:
            return;
    }
}

void StepwiseExchange::abandon() {
    // The frame, or part of it, is on its way: its reply may still come to the next exchange.
    if ((phase_ == Phase::Send && sent_ > 0) || phase_ == Phase::Receive) {
        NoteUnansweredExchange(key_);
    }
    finish(ResultLinkClosed);
}

ResultCode BeginStepwise(Link& link, uint32_t action, uint16_t type, uint32_t value) {
    if (action != ActionSet && action != ActionGet && action != ActionIncrement &&
        action != ActionDecrement && action != ActionExecute) {
        return ResultBadArgument;
    }
    // A handle's kind is set before it is given out and never changes.
    if (link.type != ConnectionNetwork) return ResultBadArgument;
    std::lock_guard stepGuard(link.stepLock);
    if (link.closed()) return ResultLinkClosed;
    if (link.step) return ResultLinkBusy;
    // A blocking exchange holds the link's lock for as long as it runs.
    std::unique_lock guard(link.lock, std::try_to_lock);
    if (!guard.owns_lock()) return ResultLinkBusy;
    uint8_t frame[kFrameLength];
    // As the blocking calls send them: only a set carries a value.
    BuildCommandFrame(action, type, action == ActionSet ? value : 0, frame);
    link.step = std::make_shared<StepwiseExchange>(
        NetworkTarget{link.string1, link.string2, link.ipv6}, link.times(), link.nextStart(),
        action == ActionGet, frame);
    // An early failure is kept for the next continue, as the header promises.
    link.step->step();
    return ResultPending;
}

ResultCode StepwiseWaitFor(Link& link, int32_t& fd, int32_t& events, int32_t& timeoutMs) {
    std::lock_guard stepGuard(link.stepLock);
    if (!link.step) return ResultBadArgument;
    link.step->waitFor(fd, events, timeoutMs);
    return ResultOk;
}

ResultCode ContinueStepwise(Link& link, uint16_t* valueOut) {
    std::lock_guard stepGuard(link.stepLock);
    if (!link.step) return ResultBadArgument;
    const ResultCode result = link.step->step();
    if (result == ResultPending) return result;
    // Every exchange that got past its gap counts for the next one's gap, as in the blocking
    // path.
    link.noteExchangeEnd();
    if (result == ResultOk && valueOut != nullptr && link.step->isGet())
        *valueOut = link.step->value();
    link.step.reset();
    return result;
}

void AbandonStepwise(Link& link) {
    std::lock_guard stepGuard(link.stepLock);
    if (!link.step) return;
    if (link.step->phase() != StepwiseExchange::Phase::Gap) link.noteExchangeEnd();
    link.step->abandon();
    link.step.reset();
}

}  // namespace zolvane
