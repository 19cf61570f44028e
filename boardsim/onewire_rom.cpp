#include "onewire_rom.h"

#include "onewire_crc.h"

namespace qbxsim {

uint64_t MakeRom(uint8_t family, uint64_t serial, bool badCrc)
{
    uint8_t bytes[8] = {family};
    for (int i = 0; i < 6; ++i)
        bytes[1 + i] = static_cast<uint8_t>(serial >> (8 * i));
    bytes[7] = Crc8(std::span<const uint8_t>(bytes, 7));
    if (badCrc)
        bytes[7] = static_cast<uint8_t>(~bytes[7]);
    uint64_t rom = 0;
    for (int i = 7; i >= 0; --i)
        rom = (rom << 8) | bytes[i];
    return rom;
}

void RomDevice::PowerOn()
{
    Restart();
}

void RomDevice::Restart()
{
    m_State = RomState::Idle;
    OnPowerOn();
}

bool RomDevice::Reset()
{
    m_State = RomState::Command;
    m_Index = 0;
    m_Byte = 0;
    return true;
}

bool RomDevice::Slot(bool masterBit)
{
    switch (m_State) {
    case RomState::Idle:
        return true;
    case RomState::Command:
        if (masterBit)
            m_Byte |= static_cast<uint8_t>(1u << m_Index);
        if (++m_Index == 8) {
            m_Index = 0;
            m_SearchStep = 0;
            switch (m_Byte) {
            case kSearchRom: m_State = RomState::Search; break;
            case kMatchRom: m_State = RomState::Match; break;
            case kSkipRom: Select(); break;
            default: m_State = RomState::Idle; break;   // not a command this device knows
            }
        }
        return true;
    case RomState::Search: {
        const bool bit = RomBit(m_Index);
        if (m_SearchStep == 0) {
            m_SearchStep = 1;
            return bit;
        }
        if (m_SearchStep == 1) {
            m_SearchStep = 2;
            return !bit;
        }
        m_SearchStep = 0;
        if (masterBit != bit) {
            m_State = RomState::Idle;   // another branch was taken: out until the next reset
        } else if (++m_Index == 64) {
            Select();
        }
        return true;
    }
    case RomState::Match:
        if (masterBit != RomBit(m_Index))
            m_State = RomState::Idle;
        else if (++m_Index == 64)
            Select();
        return true;
    case RomState::Function:
        return FunctionSlot(masterBit);
    }
    return true;
}

void RomDevice::Select()
{
    m_State = RomState::Function;
    Listen();
    OnSelected();
}

void RomDevice::Listen()
{
    m_Mode = FunctionMode::Listen;
    m_Byte = 0;
    m_Bit = 0;
}

void RomDevice::Send(std::span<const uint8_t> bytes)
{
    m_Tx.assign(bytes.begin(), bytes.end());
    m_TxPos = 0;
    m_Bit = 0;
    m_Mode = FunctionMode::Send;
    if (m_Tx.empty())
        OnSent();
}

void RomDevice::Hold(bool level)
{
    m_Mode = FunctionMode::Hold;
    m_HoldLevel = level;
}

bool RomDevice::FunctionSlot(bool masterBit)
{
    switch (m_Mode) {
    case FunctionMode::Listen:
        if (masterBit)
            m_Byte |= static_cast<uint8_t>(1u << m_Bit);
        if (++m_Bit == 8) {
            const uint8_t byte = m_Byte;
            m_Byte = 0;
            m_Bit = 0;
            OnByte(byte);
        }
        return true;
    case FunctionMode::Send: {
        if (m_TxPos >= m_Tx.size())
            return true;   // nothing left to send and nothing new queued
        const bool level = ((m_Tx[m_TxPos] >> m_Bit) & 1) != 0;
        if (++m_Bit == 8) {
            m_Bit = 0;
            if (++m_TxPos == m_Tx.size())
                OnSent();
        }
        return level;
    }
    case FunctionMode::Hold:
        return m_HoldLevel;
    }
    return true;
}

}  // namespace qbxsim
