#include "ds2450.h"

#include <cmath>

#include "onewire_crc.h"

namespace qbxsim {

namespace {

constexpr unsigned kMemorySize = 16;
constexpr unsigned kPageSize = 8;

}  // namespace

Ds2450::Ds2450(uint64_t rom, const Ds2450Options& options) : RomDevice(rom), m_Options(options)
{
    OnPowerOn();
}

// Power-on: results 0; each channel 8 bits, output off, 2.56 V range, alarm enables and POR set.
void Ds2450::OnPowerOn()
{
    m_Memory.fill(0);
    for (unsigned ch = 0; ch < 4; ++ch) {
        m_Memory[0x08 + 2 * ch] = 0x08;
        m_Memory[0x09 + 2 * ch] = 0x8C;
    }
    m_Command = 0;
    m_Args.clear();
}

bool Ds2450::JtagSwitchConducts() const
{
    return m_Options.jtagSwitch && (m_Memory[0x08] & (kOE | kOC)) == kOE;
}

uint16_t Ds2450::ConversionResult(int ch) const
{
    const uint8_t control = m_Memory[0x08 + 2 * ch];
    const uint8_t status = m_Memory[0x09 + 2 * ch];
    const int bits = (control & 0x0F) == 0 ? 16 : (control & 0x0F);
    const double fullScale = (status & kIR) ? 5.12 : 2.56;
    const bool pulledLow = (control & (kOE | kOC)) == kOE;
    const double volts = pulledLow ? 0.0 : m_Options.volts[static_cast<size_t>(ch)];
    const double steps = std::ldexp(1.0, bits);
    double code = std::round(volts / fullScale * steps);
    if (!(code >= 0))
        code = 0;
    if (code > steps - 1)
        code = steps - 1;
    return static_cast<uint16_t>(static_cast<uint32_t>(code) << (16 - bits));
}

// Writes one byte as the chip keeps it; returns what it reads back.
uint8_t Ds2450::Store(unsigned address, uint8_t value)
{
    if (address >= 0x08)
        value &= (address & 1) ? 0xBD : 0xCF;   // bits that always read 0
    m_Memory[address] = value;
    return value;
}

void Ds2450::RunConversion(uint8_t select)
{
    for (int ch = 0; ch < 4; ++ch) {
        if (!(select & (1 << ch)))
            continue;
        const uint16_t result = ConversionResult(ch);
        m_Memory[2 * ch] = static_cast<uint8_t>(result & 0xFF);
        m_Memory[2 * ch + 1] = static_cast<uint8_t>(result >> 8);
    }
}

// The chip sends the complement of the CRC, low byte first.
std::vector<uint8_t> Ds2450::WithCrc(std::vector<uint8_t> data, uint16_t crc) const
{
    if (!m_Options.badMemoryCrc)
        crc = static_cast<uint16_t>(~crc);
    data.push_back(static_cast<uint8_t>(crc & 0xFF));
    data.push_back(static_cast<uint8_t>(crc >> 8));
    return data;
}

// Read Memory: from the address to the end of its page, then the CRC-16 over the command, the
// address and the data.
void Ds2450::SendPage()
{
    if (m_Address >= kMemorySize) {
        Hold(true);
        return;
    }
    const unsigned end = (m_Address / kPageSize + 1) * kPageSize;
    std::vector<uint8_t> data(m_Memory.begin() + m_Address, m_Memory.begin() + end);
    const uint16_t crc = Crc16(data, m_Crc);
    Send(WithCrc(std::move(data), crc));
}

void Ds2450::OnSelected()
{
    m_Command = 0;
    m_Args.clear();
}

void Ds2450::OnByte(uint8_t byte)
{
    if (m_Command == 0) {
        m_Command = byte;
        m_Crc = Crc16(0, byte);
        if (byte != kReadMemory && byte != kWriteMemory && byte != kConvert)
            Hold(true);   // unknown function: silent until the next reset
        return;
    }
    if (m_Args.size() < 2) {
        m_Args.push_back(byte);
        m_Crc = Crc16(m_Crc, byte);
        if (m_Args.size() < 2)
            return;
        m_Address = m_Args[0] | (m_Args[1] << 8);
        switch (m_Command) {
        case kReadMemory:
            SendPage();
            break;
        case kWriteMemory:
            m_FirstWrite = true;
            if (m_Address >= kMemorySize)
                Hold(true);
            break;
        case kConvert:
            Send(WithCrc({}, m_Crc));
            break;
        }
        return;
    }
    // Write Memory data byte: CRC-16 (the first over command, address and data; later ones over
    // the new address loaded into the generator and the data), then the read-back.
    const uint16_t crc = m_FirstWrite ? Crc16(m_Crc, byte)
                                      : Crc16(static_cast<uint16_t>(m_Address), byte);
    m_FirstWrite = false;
    const uint8_t stored = Store(m_Address, byte);
    std::vector<uint8_t> reply = WithCrc({}, crc);
    reply.push_back(stored);   // the read-back follows the CRC
    Send(reply);
}

void Ds2450::OnSent()
{
    switch (m_Command) {
    case kWriteMemory:
        if (++m_Address >= kMemorySize)
            Hold(true);
        else
            Listen();
        break;
    case kConvert:
        RunConversion(m_Args[0]);
        Hold(true);   // read slots: conversion done
        break;
    default:
        Hold(true);
        break;
    }
}

}  // namespace qbxsim
