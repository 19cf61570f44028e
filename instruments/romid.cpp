#include "romid.h"

#include <cinttypes>

#include "crc.h"
#include "platform.h"

uint64_t _ROMID::Value() const
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | bytes[static_cast<size_t>(i)];
    return value;
}

_ROMID _ROMID::FromValue(uint64_t value)
{
    _ROMID rom;
    for (auto& byte : rom.bytes) {
        byte = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
    return rom;
}

_ROMID _ROMID::FromSerial(uint8_t family, uint64_t serial)
{
    _ROMID rom = FromValue(family | (serial & 0xFFFFFFFFFFFFull) << 8);
    rom.bytes[7] = Crc8(std::span<const uint8_t>(rom.bytes.data(), 7));
    return rom;
}

bool _ROMID::CrcValid() const
{
    return Crc8(bytes) == 0;
}

std::string RomText(const _ROMID& rom)
{
    return platform::Format("%" PRIX64, rom.Value());
}
