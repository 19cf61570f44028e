// A DS2450 quad A/D converter on the 1-Wire bus (family 0x20).
#pragma once

#include <array>
#include <cstdint>

#include "onewire_master.h"
#include "romid.h"

enum : uint8_t {
    DS2450_FAMILY = 0x20,
    DS2450_WRITE_MEMORY = 0x55,
    DS2450_READ_MEMORY = 0xAA,
    DS2450_CONVERT = 0x3C,
};

// Channel configuration words: high byte = control byte (memory 8 + 2 ch), low byte = range byte
// (memory 9 + 2 ch).
enum : uint16_t {
    DS2450_WORD_INPUT = 0x0001,       // analogue input, 16 bits, 5.1 V full scale
    DS2450_WORD_OUTPUT_ON = 0x8001,   // the same with the output enabled: the transistor conducts
};

// One converter slot. Unassigned while it has no master. Results are the codes of COneWireMaster;
// -1 for a slot without master.
class CDs2450 {
public:
    CDs2450() { Clear(); }

    // No master, ROM 0, raw values and voltages 0, every channel word 0x0001.
    void Clear();
    // Takes the master and the device, zeroes the readings, resets the words to 0x0001; returns
    // IsValid().
    bool Attach(COneWireMaster* master, const _ROMID& rom);
    // Master set, family 0x20 and a correct CRC.
    bool IsValid() const;
    // Writes eight bytes to memory page 1 (0x0008-0x000F), checking the device's CRC-16 after every
    // byte; 18 at the first wrong CRC, leaving the rest unwritten.
    int WriteMemory(const uint8_t bytes[8]);
    // Writes the four channel words (high byte, then low byte, channels A to D).
    int WriteChannelConfig();
    // Starts a conversion of all four channels; does not wait for its end.
    int Convert();
    // Reads memory page 0 (the four 16-bit results). -1 unless IsValid(), without touching the bus.
    int ReadResults(uint8_t bytes[8]);
    // ReadResults, then m_Raw and m_Volts; on failure every voltage is -1.0 and every raw value 0.
    int ReadVoltages();

    COneWireMaster* m_Master = nullptr;
    _ROMID m_Rom;
    std::array<uint16_t, 4> m_Config{};
    std::array<uint16_t, 4> m_Raw{};
    std::array<float, 4> m_Volts{};

private:
    // Selects the device (match ROM) and sends a three-byte command; crc gets the CRC-16 of the
    // command, from which the device's CRC of the transfer goes on.
    int SendCommand(const uint8_t (&command)[3], uint16_t& crc);
    // Checks the complemented CRC-16 the device sends (two bytes, low first) against crc.
    int CheckCrc(uint16_t crc);
};

// The voltage of a 16-bit result: raw x full scale / 65536, full scale 5.1 V when bit 0 of the
// channel word is set, else 2.55 V.
float AdcVolts(uint16_t raw, uint16_t channelWord);
