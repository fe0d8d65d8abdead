// Exchanges a caller drives step by step from its own poll loop (zolvane_link.h). Each is the
// blocking network exchange cut where it would wait: the gap, the name lookup (on the lookup
// pool), the connect, the late-reply drain, the send and the receive, with the same deadlines
// and results. The link holds the one under way in Link::step; every call on it takes
// Link::stepLock. On Windows the calls refuse every link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "deadline.h"
#include "frame.h"
#include "late_reply.h"
#include "links.h"
#include "lookup_pool.h"
#include "network_endpoint.h"
#include "result.h"

namespace zolvane {

class Link;

// One exchange's state: where it stands, what it waits for, and until when.
class StepwiseExchange {
public:
    enum class Phase { Gap, Lookup, Connect, Drain, Send, Receive, Done };

    StepwiseExchange(const NetworkTarget& target, const LinkTimes& times, Clock::time_point startAt,
                     bool isGet, const uint8_t (&frame)[kFrameLength]);
    StepwiseExchange(const StepwiseExchange&) = delete;
    StepwiseExchange& operator=(const StepwiseExchange&) = delete;
    ~StepwiseExchange();

    // Goes as far as it can without blocking; ResultPending while it must wait, else the
    // result (the value of a get is in value()).
    ResultCode step();
    // What it waits for: the descriptor (-1 for time only), POLLIN/POLLOUT as the link's
    // ZV_WAIT_ bits, and the time after which step() must be called anyway.
    void waitFor(int32_t& fd, int32_t& events, int32_t& timeoutMs) const;
    // Ends it before its time: the socket is closed, and a frame that had gone out leaves the
    // late-reply guard set.
    void abandon();

    Phase phase() const { return phase_; }
    bool isGet() const { return isGet_; }
    uint16_t value() const { return value_; }

private:
    ResultCode finish(ResultCode result);
    ResultCode stepGap();
    ResultCode stepLookup();
    ResultCode stepConnect();
    ResultCode stepDrain();
    ResultCode stepSend();
    ResultCode stepReceive();
    ResultCode beginConnect();
    ResultCode connected();
    void closeSocket();

    Phase phase_ = Phase::Gap;
    std::string host_;
    std::string port_;
    bool ipv6_;
    LinkTimes times_;
    Clock::time_point startAt_;
    bool isGet_;
    uint8_t frame_[kFrameLength];

    // The phase's own end: lookup and connect together, then the send, then the receive.
    Clock::time_point deadline_{};
    LookupTicket ticket_;
    Endpoint to_;
    std::string key_;
    int fd_ = -1;
    bool connecting_ = false;
    std::optional<LateReplyDrain> drain_;
    std::size_t sent_ = 0;
    uint8_t reply_[kReplyBufferSize] = {};
    std::size_t received_ = 0;
    ResultCode result_ = ResultPending;
    uint16_t value_ = 0;
};

// Starts an exchange of action on a network link and takes its first step: ResultPending, or a
// refusal (ResultBadArgument, ResultLinkClosed, ResultLinkBusy) that starts nothing.
ResultCode BeginStepwise(Link& link, uint32_t action, uint16_t type, uint32_t value);
// What the exchange under way waits for; ResultBadArgument when there is none.
ResultCode StepwiseWaitFor(Link& link, int32_t& fd, int32_t& events, int32_t& timeoutMs);
// Takes the exchange as far as it goes: ResultPending, or its result (the exchange is over).
ResultCode ContinueStepwise(Link& link, uint16_t* valueOut);
// Ends the exchange under way, if any, as the link is closed.
void AbandonStepwise(Link& link);

}  // namespace zolvane
