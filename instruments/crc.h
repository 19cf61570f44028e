// The two CRCs of the 1-Wire devices: the 8-bit CRC of ROM identities and of the DS18S20
// scratchpad, and the 16-bit CRC of the DS2450 memory transfers. Both are processed least
// significant bit first and start from 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// CRC-8, polynomial x^8 + x^5 + x^4 + 1 (0x8C reflected). A block that carries its own CRC as its
// last byte gives 0 over all its bytes.
uint8_t Crc8(uint8_t crc, uint8_t byte);
uint8_t Crc8(std::span<const uint8_t> bytes, uint8_t crc = 0);

// CRC-16, polynomial 0x8005 (0xA001 reflected). The DS2450 sends the one's complement of it, low
// byte first.
uint16_t Crc16(uint16_t crc, uint8_t byte);
uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc = 0);
