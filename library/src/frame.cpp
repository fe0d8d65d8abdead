#include "frame.h"

#include <array>

namespace zolvane {
namespace {

// The 256-entry table, split into the low and high bytes of each entry so that the register
// can be kept as two bytes.
struct CrcTables {
    std::array<uint8_t, 256> low{};
    std::array<uint8_t, 256> high{};
};

constexpr CrcTables MakeCrcTables() {
    CrcTables tables;
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
        }
        tables.low[i] = static_cast<uint8_t>(crc & 0xFF);
        tables.high[i] = static_cast<uint8_t>(crc >> 8);
    }
    return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

void PutLittleEndian(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

uint16_t Crc16Modbus(std::span<const uint8_t> bytes) {
    uint8_t lo = 0xFF;
    uint8_t hi = 0xFF;
    for (uint8_t b : bytes) {
        const uint8_t i = b ^ lo;
        lo = kCrcTables.low[i] ^ hi;
        hi = kCrcTables.high[i];
    }
    return static_cast<uint16_t>(hi << 8 | lo);
}

void BuildCommandFrame(uint32_t action, uint32_t type, uint32_t value,
                       uint8_t (&frame)[kFrameLength]) {
    frame[0] = 0xBE;
    frame[1] = 0xEF;
    frame[2] = 0x03;
    frame[3] = 0x06;
    frame[4] = 0x00;
    frame[5] = 0;
    frame[6] = 0;
    PutLittleEndian(frame + 7, action);
    PutLittleEndian(frame + 9, type);
    PutLittleEndian(frame + 11, value);
    const uint16_t crc = Crc16Modbus(frame);
    frame[5] = static_cast<uint8_t>(crc >> 8);
    frame[6] = static_cast<uint8_t>(crc & 0xFF);
}

}  // namespace zolvane
