// Command frames: 13 bytes, header BE EF 03 06 00, CRC-16/MODBUS (big-endian) at 5-6,
// then action, type and value, each little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zolvane {

inline constexpr std::size_t kFrameLength = 13;

enum Action : uint16_t {
    ActionSet = 1,
    ActionGet = 2,
    ActionIncrement = 4,
    ActionDecrement = 5,
    ActionExecute = 6,
};

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.
uint16_t Crc16Modbus(std::span<const uint8_t> bytes);

// Always writes all 13 bytes; only the low 16 bits of each argument are used.
void BuildCommandFrame(uint32_t action, uint32_t type, uint32_t value,
                       uint8_t (&frame)[kFrameLength]);

}  // namespace zolvane
