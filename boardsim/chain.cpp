#include "chain.h"

namespace qbxsim {

CSimChain::CSimChain(std::vector<CSimFpga> devices, std::function<void()> onDriveChange)
    : m_Devices(std::move(devices)), m_OnDriveChange(std::move(onDriveChange))
{
}

void CSimChain::PowerOn()
{
    m_RingsValid = false;
    for (CSimFpga& device : m_Devices)
        device.PowerOn();
}

void CSimChain::Rise(bool tdi, bool tms)
{
    m_RingsValid = false;
    // TDO pins change only on falling edges, so each device's input is its predecessor's pin
    // as it stood before this edge.
    for (size_t i = m_Devices.size(); i-- > 0;) {
        bool in = i == 0 ? tdi : m_Devices[i - 1].Tdo();
        m_Devices[i].Rise(in, tms);
    }
}

void CSimChain::Fall()
{
    bool changed = false;
    for (CSimFpga& device : m_Devices)
        changed = device.Fall() || changed;
    if (changed && m_OnDriveChange)
        m_OnDriveChange();
}

uint32_t CSimChain::Pulses(unsigned n, uint32_t tdiBits, bool tms)
{
    if (!tms && !m_RingsValid && !m_Devices.empty()) {
        m_Rings.clear();
        for (CSimFpga& device : m_Devices) {
            CShiftRing* ring = device.ShiftRing();
            if (!ring)
                break;
            m_Rings.push_back(ring);
        }
        m_RingsValid = m_Rings.size() == m_Devices.size();
    }
    if (!tms && m_RingsValid) {
        // With TMS low every device stays in its shift state: each passes n bits on at once.
        uint32_t bits = tdiBits;
        for (size_t i = 0; i < m_Devices.size(); ++i)
            bits = m_Devices[i].ShiftRingBits(*m_Rings[i], n, bits);
        return bits;
    }
    uint32_t tdo = 0;
    for (unsigned k = 0; k < n; ++k) {
        tdo |= static_cast<uint32_t>(Tdo()) << k;
        Rise(((tdiBits >> k) & 1) != 0, tms);
        Fall();
    }
    return tdo;
}

}  // namespace qbxsim
