// The 13-byte command frame as the projector receives it, and the replies it can give.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace zolvane::emulator {

constexpr std::size_t kFrameSize = 13;
constexpr std::array<std::uint8_t, 5> kFrameHeader{0xBE, 0xEF, 0x03, 0x06, 0x00};

using RawFrame = std::array<std::uint8_t, kFrameSize>;
using Reply = std::vector<std::uint8_t>;

namespace action {
constexpr std::uint16_t kSet = 1;
constexpr std::uint16_t kGet = 2;
constexpr std::uint16_t kIncrement = 4;
constexpr std::uint16_t kDecrement = 5;
constexpr std::uint16_t kExecute = 6;
}  // namespace action

namespace reply_byte {
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kValue = 0x1D;
}  // namespace reply_byte

struct CommandFrame {
    RawFrame raw{};
    std::uint16_t action = 0;
    std::uint16_t type = 0;
    std::uint16_t value = 0;
    bool headerValid = false;
    bool checksumValid = false;

    bool valid() const { return headerValid && checksumValid; }
};

// CRC-16 with the reflected polynomial 0xA001 and start value 0xFFFF, no final XOR.
std::uint16_t crc16(std::span<const std::uint8_t> bytes);

// Decodes any 13 bytes; whether they form a good frame is in headerValid and checksumValid.
CommandFrame decodeFrame(const RawFrame& raw);

Reply ackReply();
Reply nakReply();
Reply valueReply(std::uint16_t value);

}  // namespace zolvane::emulator
