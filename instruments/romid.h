// The 64-bit identity of a 1-Wire device: family code, 48-bit serial number, CRC-8.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Byte 0 is the family code (0x10 DS18S20, 0x20 DS2450), bytes 1-6 the serial number, byte 7 the
// CRC-8 of bytes 0-6. As one 64-bit value the bytes are little-endian: bit i of the value is the
// i-th ROM bit on the wire, and the family code is the low byte.
struct _ROMID {
    std::array<uint8_t, 8> bytes{};

    uint8_t Family() const { return bytes[0]; }
    uint64_t Value() const;
    static _ROMID FromValue(uint64_t value);
    // The identity of a device of the given family and 48-bit serial number, with its CRC.
    static _ROMID FromSerial(uint8_t family, uint64_t serial);
    // True when the CRC-8 over all eight bytes is 0.
    bool CrcValid() const;

    friend bool operator==(const _ROMID&, const _ROMID&) = default;
};

// The value in upper-case hexadecimal without leading zeros, as the station prints identities.
std::string RomText(const _ROMID& rom);
