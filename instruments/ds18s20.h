// A DS18S20 thermometer on the 1-Wire bus (family 0x10).
#pragma once

#include "onewire_master.h"
#include "romid.h"

enum : uint8_t {
    DS18S20_FAMILY = 0x10,
    DS18S20_CONVERT_T = 0x44,
    DS18S20_READ_SCRATCHPAD = 0xBE,
    DS18S20_READ_POWER_SUPPLY = 0xB4,
};

// One thermometer slot. Unassigned while it has no master. Results are the codes of
// COneWireMaster; -1 for a slot without master.
class CDs18s20 {
public:
    CDs18s20() = default;
    CDs18s20(COneWireMaster* master, const _ROMID& rom) : m_Master(master), m_Rom(rom) {}

    // Master set, family 0x10 and a correct CRC.
    bool IsValid() const;
    // Asks the device how it is powered: powered is true for an externally powered device (the
    // byte read is not 0).
    int ReadPowerSupply(bool& powered);
    // Starts a conversion in every thermometer on the bus (skip ROM) with the strong pull-up set;
    // returns without waiting for it.
    int StartConversionAll();
    // Reads the scratchpad and computes the temperature in degrees Celsius with the extended
    // resolution. 18 for a scratchpad whose CRC is wrong or whose COUNT_PER_C is 0.
    int ReadTemperature(float& celsius);

    COneWireMaster* m_Master = nullptr;
    _ROMID m_Rom;
};

// The temperature of a nine-byte scratchpad: (T >> 1) - 0.25 + (COUNT_PER_C - COUNT_REMAIN) /
// COUNT_PER_C, with T the signed 16-bit value of bytes 0 (low) and 1. COUNT_PER_C (byte 7) must not
// be 0; the caller checks it.
float ScratchpadCelsius(const uint8_t scratchpad[9]);
