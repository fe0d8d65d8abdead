// Human-readable lines for the verbose trace: the bytes in hex and what they mean.
#pragma once

#include <span>
#include <string>

#include "command_frame.h"
#include "reply_plan.h"

namespace zolvane::emulator {

std::string hexBytes(std::span<const std::uint8_t> bytes);

// For example "rx BE EF 03 06 00 19 D3 02 00 00 60 00 00  get Power".
std::string describeReceived(const CommandFrame& frame);
// For example "tx 1D 01 00  value 1".
std::string describeSent(const ReplyPlan& plan, FaultKind fault);

const char* faultName(FaultKind fault);

}  // namespace zolvane::emulator
