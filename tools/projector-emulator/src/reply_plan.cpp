#include "reply_plan.h"

namespace zolvane::emulator {

std::vector<std::uint8_t> ReplyPlan::allBytes() const {
    std::vector<std::uint8_t> bytes;
    for (const ReplyPiece& piece : pieces) {
        bytes.insert(bytes.end(), piece.bytes.begin(), piece.bytes.end());
    }
    return bytes;
}

ReplyPlan planReply(const FaultConfig& fault, Reply reply) {
    ReplyPlan plan;
    plan.delay = fault.delay;
    switch (fault.kind) {
        case FaultKind::NoReply:
            return plan;
        case FaultKind::Close:
            plan.closeConnection = true;
            return plan;
        case FaultKind::Garbage:
            plan.pieces.push_back({{}, fault.garbage});
            return plan;
        case FaultKind::Overlong:
            if (reply.size() < fault.overlongLength) {
                reply.resize(fault.overlongLength, 0x00);
            }
            plan.pieces.push_back({{}, std::move(reply)});
            return plan;
        case FaultKind::Split:
            if (reply.size() > 1) {
                plan.pieces.push_back({{}, {reply.begin(), reply.begin() + 1}});
                plan.pieces.push_back({fault.pause, {reply.begin() + 1, reply.end()}});
                return plan;
            }
            break;
        case FaultKind::Trickle:
            for (std::size_t i = 0; i < reply.size(); ++i) {
                const auto pause = i == 0 ? std::chrono::milliseconds{0} : fault.pause;
                plan.pieces.push_back({pause, {reply[i]}});
            }
            return plan;
        case FaultKind::None:
        case FaultKind::Nak:
            break;
    }
    plan.pieces.push_back({{}, std::move(reply)});
    return plan;
}

}  // namespace zolvane::emulator
