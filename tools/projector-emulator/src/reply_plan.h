// How a reply goes out on the link once a fault has shaped it: which bytes, in which pieces,
// after which pauses, and whether the connection is closed instead.
#pragma once

#include <chrono>
#include <vector>

#include "command_frame.h"
#include "projector_emulator/emulator.h"

namespace zolvane::emulator {

struct ReplyPiece {
    std::chrono::milliseconds pauseBefore{0};
    std::vector<std::uint8_t> bytes;
};

struct ReplyPlan {
    std::chrono::milliseconds delay{0};
    std::vector<ReplyPiece> pieces;
    bool closeConnection = false;

    std::vector<std::uint8_t> allBytes() const;
};

ReplyPlan planReply(const FaultConfig& fault, Reply reply);

}  // namespace zolvane::emulator
