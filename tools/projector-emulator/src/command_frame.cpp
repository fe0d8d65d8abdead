#include "command_frame.h"

#include <algorithm>

namespace zolvane::emulator {
namespace {

std::uint16_t littleEndianAt(const RawFrame& raw, std::size_t offset) {
    return static_cast<std::uint16_t>(raw[offset] | (raw[offset + 1] << 8));
}

}  // namespace

std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                                  : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

CommandFrame decodeFrame(const RawFrame& raw) {
    CommandFrame frame;
    frame.raw = raw;
    frame.action = littleEndianAt(raw, 7);
    frame.type = littleEndianAt(raw, 9);
    frame.value = littleEndianAt(raw, 11);
    frame.headerValid = std::equal(kFrameHeader.begin(), kFrameHeader.end(), raw.begin());

    // The checksum was computed with its own two bytes still zero, and it is the one field
    // sent high byte first.
    RawFrame withoutChecksum = raw;
    withoutChecksum[5] = 0;
    withoutChecksum[6] = 0;
    const auto expected = static_cast<std::uint16_t>((raw[5] << 8) | raw[6]);
    frame.checksumValid = crc16(withoutChecksum) == expected;
    return frame;
}

Reply ackReply() { return {reply_byte::kAck}; }

Reply nakReply() { return {reply_byte::kNak}; }

Reply valueReply(std::uint16_t value) {
    return {reply_byte::kValue, static_cast<std::uint8_t>(value & 0xFF),
            static_cast<std::uint8_t>(value >> 8)};
}

}  // namespace zolvane::emulator
