#include "trace.h"

#include "command_frame.h"
#include "text.h"
#include "zolvane.h"

namespace zolvane::cli {

void TraceSent(std::ostream& trace, const Command& command, bool pjlink) {
    if (pjlink) {
        trace << "> " << command.describe() << " (PJLink)\n";
        return;
    }
    const auto frame = CommandFrame(ActionCode(command.operation),
                                    FrameType(*command.row, command.operation), command.value);
    trace << "> " << HexBytes(frame) << "   " << command.describe() << " (type "
          << HexCode(FrameType(*command.row, command.operation)) << ")\n";
}

void TraceReply(std::ostream& trace, const Command& command, const Outcome& outcome,
                const std::string& failure, bool pjlink) {
    if (pjlink) {
        if (!outcome.ok()) {
            trace << "< failed: " << failure << " [" << HexCode(outcome.result, 8) << "]\n";
        } else if (command.operation == Operation::Get) {
            trace << "< value " << outcome.value << "\n";
        } else {
            trace << "< done\n";
        }
    } else if (!outcome.ok()) {
        trace << "< (bytes not passed on by the library)   failed: " << failure << " ["
              << HexCode(outcome.result, 8) << "]\n";
    } else if (command.operation == Operation::Get) {
        const uint8_t reply[] = {0x1D, static_cast<uint8_t>(outcome.value & 0xFF),
                                 static_cast<uint8_t>(outcome.value >> 8)};
        trace << "< " << HexBytes(reply) << "   value " << outcome.value
              << " (bytes rebuilt from the library's result)\n";
    } else {
        trace << "< 06   acknowledged (byte rebuilt from the library's result)\n";
    }
    trace.flush();
}

void TraceRetry(std::ostream& trace, unsigned attempt, unsigned attempts) {
    trace << "  trying again: attempt " << attempt << " of " << attempts << "\n";
}

}  // namespace zolvane::cli
