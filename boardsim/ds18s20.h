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

// Function commands: Convert T, Read/Write/Copy Scratchpad, Recall E2, Read Power Supply.
//
// Conversions take no simulated time: a Convert T finishes at once and later read slots say
// "done". A parasite-powered part needs the bridge's strong pull-up right after Convert T (and
// Copy Scratchpad): when the next thing on the bus is a slot or a reset instead, it browns out and
// comes back in its power-on state, so the scratchpad holds 85 °C again.
class Ds18s20 : public RomDevice {
public:
    static constexpr uint8_t kFamily = 0x10;
    static constexpr uint8_t kConvertT = 0x44, kReadScratchpad = 0xBE, kWriteScratchpad = 0x4E,
                             kCopyScratchpad = 0x48, kRecallE2 = 0xB8, kReadPowerSupply = 0xB4;

    Ds18s20(uint64_t rom, bool absentAfterSearch, const Ds18s20Options& options);

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
    enum class Pending { None, Convert, Copy };   // a parasite operation waiting for power

    void Convert();
    void CheckPower();

    Ds18s20Options m_Options;
    std::array<uint8_t, 8> m_Pad{};     // bytes 0-7; byte 8 is computed
    uint8_t m_EepromTh = 0x4B;          // 75 °C
    uint8_t m_EepromTl = 0x46;          // 70 °C
    uint8_t m_Command = 0;              // function command being served (0 = none yet)
    int m_Written = 0;                  // bytes taken by Write Scratchpad
    Pending m_Pending = Pending::None;
};

}  // namespace qbxsim
