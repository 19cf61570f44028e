// The CRCs of the 1-Wire devices: the ROM and scratchpad CRC-8 and the DS2450's CRC-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qbxsim {

// x^8 + x^5 + x^4 + 1, least significant bit first, start 0.
uint8_t Crc8(uint8_t crc, uint8_t byte);
uint8_t Crc8(std::span<const uint8_t> bytes);

// x^16 + x^15 + x^2 + 1 (0x8005 reflected: 0xA001), least significant bit first.
uint16_t Crc16(uint16_t crc, uint8_t byte);
uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc = 0);

}  // namespace qbxsim
