// The test socket: the boards of the board file in order, one at a time. Board power is the
// board-enable line; every rising edge after the first puts the next board in, and after the
// last one the socket stays empty.
#pragma once

#include <memory>
#include <vector>

#include "board.h"
#include "onewire.h"

namespace qbxsim {

class CSimSocket {
public:
    // The first board (if any) sits in the socket unpowered; its 1-Wire devices are on the bus.
    CSimSocket(std::vector<std::unique_ptr<CSimBoard>> boards, OneWireBus& bus);

    void SetPower(bool on);
    bool Powered() const { return m_Powered; }
    // The board in the socket, or null when the sequence is used up.
    CSimBoard* Current() { return m_Index < m_Boards.size() ? m_Boards[m_Index].get() : nullptr; }
    size_t Index() const { return m_Index; }
    size_t Count() const { return m_Boards.size(); }

private:
    std::vector<std::unique_ptr<CSimBoard>> m_Boards;
    OneWireBus& m_Bus;
    size_t m_Index = 0;
    bool m_Powered = false;
    bool m_EverPowered = false;
};

}  // namespace qbxsim
