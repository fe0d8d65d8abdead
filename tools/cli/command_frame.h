// The bytes of a command frame, exactly as the library builds them for sending.
#pragma once

#include <array>
#include <cstdint>

namespace zolvane::cli {

std::array<uint8_t, 13> CommandFrame(int32_t action, uint16_t type, uint16_t value);

}  // namespace zolvane::cli
