// The ROM layer every 1-Wire slave model shares: presence, Search/Match/Skip ROM, and the
// bit-level plumbing of the selected device's function commands. Read ROM, which the station never
// sends, is not modelled: like an unknown ROM command it leaves the device silent until the next
// reset.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "onewire.h"

namespace qbxsim {

// ROM function codes.
inline constexpr uint8_t kSearchRom = 0xF0;
inline constexpr uint8_t kMatchRom = 0x55;
inline constexpr uint8_t kSkipRom = 0xCC;

// Builds the 64-bit ROM: family code in byte 0, the 48-bit serial in bytes 1-6 (least significant
// byte first), the CRC-8 of bytes 0-6 in byte 7 (inverted when badCrc is set).
uint64_t MakeRom(uint8_t family, uint64_t serial, bool badCrc);

class RomDevice : public OneWireDevice {
public:
    explicit RomDevice(uint64_t rom) : m_Rom(rom) {}

    uint64_t Rom() const override { return m_Rom; }
    void PowerOn() override;
    bool Reset() override;
    bool Slot(bool masterBit) override;

protected:
    // The function layer of the device.
    virtual void OnPowerOn() = 0;            // memory to its power-on contents
    virtual void OnSelected() = 0;           // after the ROM command; the function command follows
    virtual void OnByte(uint8_t byte) = 0;   // a byte the master wrote while listening
    virtual void OnSent() = 0;               // every byte queued by Send() has gone out

    // What the next slots of the selected device do until the master resets the bus.
    void Listen();                           // assemble the master's bits into bytes (LSB first)
    void Send(std::span<const uint8_t> bytes);   // put these bytes on the bus, LSB first
    void Hold(bool level);                   // leave this level in every slot (true = released)

    // Loss of power on the board or a brown-out: forget everything until the next reset.
    void Restart();

private:
    enum class RomState { Idle, Command, Search, Match, Function };
    enum class FunctionMode { Listen, Send, Hold };

    void Select();
    bool RomBit(int index) const { return ((m_Rom >> index) & 1) != 0; }
    bool FunctionSlot(bool masterBit);

    uint64_t m_Rom;
    RomState m_State = RomState::Idle;
    int m_Index = 0;        // bit of the ROM command byte, or ROM bit during search/match
    int m_SearchStep = 0;   // 0 = send the bit, 1 = send its complement, 2 = take the direction
    uint8_t m_Byte = 0;

    FunctionMode m_Mode = FunctionMode::Listen;
    std::vector<uint8_t> m_Tx;
    size_t m_TxPos = 0;
    int m_Bit = 0;          // bit within the byte being received or sent
    bool m_HoldLevel = true;
};

}  // namespace qbxsim
