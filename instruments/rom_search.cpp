#include "rom_search.h"

bool CRomSearch::Finish(uint64_t rom, uint64_t conflicts)
{
    m_Direction = rom;
    for (int n = 63; n >= 0; --n) {
        const uint64_t bit = uint64_t{1} << n;
        const bool explored = (m_Explored & bit) != 0;
        const bool conflict = (conflicts & bit) != 0;
        if (!explored && conflict) {
            // Branch here: the other direction next time, the path below it as taken now.
            m_Explored |= bit;
            if (rom & bit)
                m_Direction &= ~bit;
            else
                m_Direction |= bit;
            return true;
        }
        // Done with this bit: both branches seen (or no branch at all). Forget it.
        if (explored && conflict)
            m_Explored &= ~bit;
        m_Direction &= ~bit;
    }
    return false;
}
