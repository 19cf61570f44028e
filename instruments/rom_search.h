// The bookkeeping of the 1-Wire ROM search: which branch to take at every ROM bit in the next pass.
#pragma once

#include <cstdint>

// One search over the bus, pass by pass. Bit i of every mask is ROM bit i.
//   m_Direction (D): the direction to offer the bridge at each bit in the next pass;
//   m_Explored (X):  bits where both branches are being explored (the 1 branch is taken).
// A pass runs the 64 triplets with Direction(i) and reports what it took (the ROM) and where the
// devices disagreed or nobody answered (the conflicts); Finish then chooses the next branch point:
// the highest conflict not yet explored.
class CRomSearch {
public:
    // Starts a new search: D := 0, X := 0.
    void Start()
    {
        m_Direction = 0;
        m_Explored = 0;
    }

    bool Direction(int bit) const { return ((m_Direction >> bit) & 1) != 0; }

    // Ends a pass. Returns true when more devices remain (MORE), false when this was the last (LAST).
    bool Finish(uint64_t rom, uint64_t conflicts);

    uint64_t m_Direction = 0;
    uint64_t m_Explored = 0;
};
