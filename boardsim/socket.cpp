#include "socket.h"

namespace qbxsim {

CSimSocket::CSimSocket(std::vector<std::unique_ptr<CSimBoard>> boards, OneWireBus& bus)
    : m_Boards(std::move(boards)), m_Bus(bus)
{
    m_Bus.SetDevices(Current() ? Current()->OneWireDevices() : std::vector<OneWireDevice*>{});
}

void CSimSocket::SetPower(bool on)
{
    if (on == m_Powered)
        return;
    m_Powered = on;
    if (on) {
        if (m_EverPowered && m_Index < m_Boards.size())
            ++m_Index;
        m_EverPowered = true;
        CSimBoard* board = Current();
        m_Bus.SetDevices(board ? board->OneWireDevices() : std::vector<OneWireDevice*>{});
        if (board)
            board->SetPowered(true);
        m_Bus.SetPowered(true);
    } else {
        m_Bus.SetPowered(false);
        if (CSimBoard* board = Current())
            board->SetPowered(false);
    }
}

}  // namespace qbxsim
