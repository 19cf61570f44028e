// DS18S20 thermometer (family 0x10).
#pragma once

#include <array>
#include <cstdint>

#include "onewire_rom.h"

namespace qbxsim {

struct Ds18s20Options {
    double celsius = 25.0;          // what a conversion measures (-55 to +125)
    bool powered = true;            // false: parasite-powered from the data line
    bool badScratchpadCrc = false;  // byte 8 of the scratchpad is wrong
    uint8_t countPerC = 0x10;       // byte 7 of the scratchpad (hard-wired 0x10 in a sound part)
};

// Function commands: Convert T, Read Scratchpad, Read Power Supply (what the station sends). Write
// and Copy Scratchpad and Recall E2 are not modelled: like an unknown command they leave the part
// silent until the next reset, and TH/TL keep their factory values.
//
// Conversions take no simulated time: a Convert T finishes at once and later read slots say
// "done". A parasite-powered part needs the bridge's strong pull-up right after Convert T: when
// the next thing on the bus is a slot or a reset instead, it browns out and comes back in its
// power-on state, so the scratchpad holds 85 °C again.
class Ds18s20 : public RomDevice {
public:
    static constexpr uint8_t kFamily = 0x10;
    static constexpr uint8_t kConvertT = 0x44, kReadScratchpad = 0xBE, kReadPowerSupply = 0xB4;

    Ds18s20(uint64_t rom, const Ds18s20Options& options);

    bool Reset() override;
    bool Slot(bool masterBit) override;
    void StrongPullup(bool on) override;

    // The nine bytes Read Scratchpad sends now (CRC included).
    std::array<uint8_t, 9> Scratchpad() const;

protected:
    void OnPowerOn() override;
    void OnSelected() override;
    void OnByte(uint8_t byte) override;
    void OnSent() override;

private:
    void Convert();
    void CheckPower();

    Ds18s20Options m_Options;
    std::array<uint8_t, 8> m_Pad{};     // bytes 0-7; byte 8 is computed
    bool m_ConvertPending = false;      // a parasite Convert T waiting for the strong pull-up
};

}  // namespace qbxsim
