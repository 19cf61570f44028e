#include "wiring.h"

namespace qbxsim {

// ---- channel A ----------------------------------------------------------------------------------

void CBridgeWiring::Drive(uint8_t value, uint8_t direction)
{
    bool scl = (direction & kPinTck) ? (value & kPinTck) != 0 : true;
    bool sda = (direction & kPinTdi) ? (value & kPinTdi) != 0 : true;
    if (scl != m_Scl || sda != m_Sda) {
        m_Scl = scl;
        m_Sda = sda;
        m_Bus.Update(scl, sda);
    }
    m_Socket.SetPower((direction & kPinGpiol3) && (value & kPinGpiol3));
}

uint8_t CBridgeWiring::Sense()
{
    uint8_t levels = 0xFF;
    if (!m_Scl)
        levels = static_cast<uint8_t>(levels & ~kPinTck);
    if (!m_Bus.Sda())
        levels = static_cast<uint8_t>(levels & ~(kPinTdi | kPinTdo));
    return levels;
}

// ---- channel B ----------------------------------------------------------------------------------

CSimBoard* CJtagWiring::LiveBoard()
{
    if (m_Cached)
        return m_CachedLive;
    CSimBoard* board = m_Socket.Current();
    return board && m_Socket.Powered() && m_Bus.JtagSwitchOn() ? board : nullptr;
}

void CJtagWiring::BeginCommands()
{
    m_Cached = false;
    m_CachedLive = LiveBoard();
    m_Cached = true;
}

CSimBoard* CJtagWiring::Connected()
{
    CSimBoard* board = LiveBoard();
    if (!board || static_cast<unsigned>(board->ChainAddress()) != m_Address)
        return nullptr;
    return board;
}

void CJtagWiring::Follow(uint8_t value, uint8_t direction)
{
    m_Tdi = (direction & kPinTdi) ? (value & kPinTdi) != 0 : true;
    m_Tms = (direction & kPinTms) ? (value & kPinTms) != 0 : true;
    uint8_t gpio = static_cast<uint8_t>((value & direction) | ~direction);
    m_Address = (gpio >> 4) & 0x0F;
}

void CJtagWiring::Drive(uint8_t value, uint8_t direction)
{
    Follow(value, direction);
    bool tck = (direction & kPinTck) ? (value & kPinTck) != 0 : false;
    CSimBoard* board = Connected();
    if (board != m_Board) {  // the chain was (dis)connected: no edge reaches it
        m_Board = board;
        m_Tck = tck;
        return;
    }
    if (board && tck != m_Tck) {
        if (tck)
            board->Chain().Rise(m_Tdi, m_Tms);
        else
            board->Chain().Fall();
    }
    m_Tck = tck;
}

bool CJtagWiring::Tdo()
{
    CSimBoard* board = Connected();
    m_Board = board;
    if (!board)
        return true;
    if (board->TdoStuck() >= 0)
        return board->TdoStuck() != 0;
    return board->Chain().Tdo();
}

uint8_t CJtagWiring::Sense()
{
    uint8_t levels = static_cast<uint8_t>(0xFF & ~kPinTck);
    if (!Tdo())
        levels = static_cast<uint8_t>(levels & ~kPinTdo);
    return levels;
}

bool CJtagWiring::Pulses(unsigned n, uint8_t doBits, bool /*sampleOnRise*/, uint8_t value, uint8_t direction,
                         uint32_t* diBits)
{
    Follow(value, direction);
    const uint32_t all = (1u << n) - 1;
    const uint32_t tdiBits = (direction & kPinTdi) ? doBits : all;
    CSimBoard* board = Connected();
    m_Board = board;
    m_Tck = false;
    m_Tdi = ((tdiBits >> (n - 1)) & 1) != 0;
    if (!board) {
        *diBits = all;
        return true;
    }
    // TDO moves only on falling edges, so it reads the same just before either edge.
    uint32_t tdo = board->Chain().Pulses(n, tdiBits & all, m_Tms);
    if (board->TdoStuck() >= 0)
        tdo = board->TdoStuck() ? all : 0;
    *diBits = tdo;
    return true;
}

}  // namespace qbxsim
