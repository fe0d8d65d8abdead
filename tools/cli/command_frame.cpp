#include "command_frame.h"

#include "zolvane.h"

namespace zolvane::cli {

std::array<uint8_t, 13> CommandFrame(int32_t action, uint16_t type, uint16_t value) {
    std::array<uint8_t, 13> frame{};
    ZV_GetCommand(action, type, value, frame.data(), static_cast<int32_t>(frame.size()));
    return frame;
}

}  // namespace zolvane::cli
