// DS2450 quad A/D converter (family 0x20).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "onewire_rom.h"

namespace qbxsim {

struct Ds2450Options {
    std::array<double, 4> volts{};   // the voltages on inputs A-D
    bool jtagSwitch = false;         // channel A's output drives the board's JTAG switch
    bool badMemoryCrc = false;       // every CRC-16 reply is sent without its complement (wrong)
};

// Memory: page 0 conversion results, page 1 control/status; the alarm and calibration pages (2
// and 3), which the station never uses, are not modelled and read as a released line. Function
// commands: Read Memory (one page with its CRC-16, then the line is released), Write Memory (CRC-16
// and read-back per byte), Convert (CRC-16 reply; the conversion finishes at once; the read-out
// presets are not modelled).
//
// A result is the input voltage over the full scale the IR bit selects (5.12 V or 2.56 V),
// rounded to the channel's resolution (RC bits, 0 = 16) and left-aligned in 16 bits; a channel
// whose output transistor conducts (OE = 1, OC = 0) reads 0 V.
class Ds2450 : public RomDevice {
public:
    static constexpr uint8_t kFamily = 0x20;
    static constexpr uint8_t kReadMemory = 0xAA, kWriteMemory = 0x55, kConvert = 0x3C;
    static constexpr uint8_t kOE = 0x80, kOC = 0x40;    // control byte (even addresses of page 1)
    static constexpr uint8_t kIR = 0x01, kPOR = 0x80;   // status byte (odd addresses of page 1)

    Ds2450(uint64_t rom, const Ds2450Options& options);

    bool JtagSwitchConducts() const override;

    const std::array<uint8_t, 16>& Memory() const { return m_Memory; }

    // The 16-bit result a conversion gives for channel ch (0 = A) with the current settings.
    uint16_t ConversionResult(int ch) const;

protected:
    void OnPowerOn() override;
    void OnSelected() override;
    void OnByte(uint8_t byte) override;
    void OnSent() override;

private:
    void SendPage();
    std::vector<uint8_t> WithCrc(std::vector<uint8_t> data, uint16_t crc) const;
    uint8_t Store(unsigned address, uint8_t value);
    void RunConversion(uint8_t select);

    Ds2450Options m_Options;
    std::array<uint8_t, 16> m_Memory{};
    uint8_t m_Command = 0;            // 0 = waiting for the function command
    std::vector<uint8_t> m_Args;      // bytes after the command (address or convert settings)
    uint16_t m_Crc = 0;               // CRC-16 over the command bytes so far
    unsigned m_Address = 0;
    bool m_FirstWrite = true;
};

}  // namespace qbxsim
