#include "ds18s20.h"

#include <cmath>

#include "onewire_crc.h"

namespace qbxsim {

Ds18s20::Ds18s20(uint64_t rom, const Ds18s20Options& options) : RomDevice(rom), m_Options(options)
{
    OnPowerOn();
}

// Power-on scratchpad: 85 °C, TH/TL 75 °C and 70 °C (the factory EEPROM), reserved bytes 0xFF,
// COUNT_REMAIN 0x0C.
void Ds18s20::OnPowerOn()
{
    m_Pad = {0xAA, 0x00, 0x4B, 0x46, 0xFF, 0xFF, 0x0C, m_Options.countPerC};
    m_ConvertPending = false;
}

std::array<uint8_t, 9> Ds18s20::Scratchpad() const
{
    std::array<uint8_t, 9> pad{};
    for (size_t i = 0; i < m_Pad.size(); ++i)
        pad[i] = m_Pad[i];
    pad[8] = Crc8(std::span<const uint8_t>(m_Pad));
    if (m_Options.badScratchpadCrc)
        pad[8] = static_cast<uint8_t>(~pad[8]);
    return pad;
}

// The register holds the temperature in half degrees; the counters give 1/16 °C:
// T = (register >> 1) - 0.25 + (COUNT_PER_C - COUNT_REMAIN) / COUNT_PER_C with COUNT_PER_C = 16.
void Ds18s20::Convert()
{
    const double t = m_Options.celsius;
    const double whole = std::floor(t + 0.25);   // TEMP_READ
    const double above = t - whole + 0.25;        // 0 <= above < 1
    long remain = std::lround(16.0 - 16.0 * above);
    if (remain < 0)
        remain = 0;
    int reg = static_cast<int>(whole) * 2 + (t - whole >= 0.25 ? 1 : 0);
    const auto raw = static_cast<uint16_t>(static_cast<int16_t>(reg));
    m_Pad[0] = static_cast<uint8_t>(raw & 0xFF);
    m_Pad[1] = static_cast<uint8_t>(raw >> 8);
    m_Pad[6] = static_cast<uint8_t>(remain);
}

// A parasite part that asked for power and did not get it browns out.
void Ds18s20::CheckPower()
{
    if (m_ConvertPending)
        Restart();
}

bool Ds18s20::Reset()
{
    CheckPower();
    return RomDevice::Reset();
}

bool Ds18s20::Slot(bool masterBit)
{
    CheckPower();
    return RomDevice::Slot(masterBit);
}

void Ds18s20::StrongPullup(bool on)
{
    if (on && m_ConvertPending) {
        Convert();
        m_ConvertPending = false;
    }
}

void Ds18s20::OnSelected() {}

void Ds18s20::OnByte(uint8_t byte)
{
    switch (byte) {
    case kConvertT:
        if (m_Options.powered)
            Convert();
        else
            m_ConvertPending = true;
        Hold(true);   // read slots: conversion done
        break;
    case kReadScratchpad: {
        const auto pad = Scratchpad();
        Send(pad);
        break;
    }
    case kReadPowerSupply:
        Hold(m_Options.powered);   // a parasite part pulls every read slot low
        break;
    default:
        Hold(true);   // not modelled: silent until the next reset
        break;
    }
}

void Ds18s20::OnSent()
{
    Hold(true);   // after byte 8 the line is left released
}

}  // namespace qbxsim
