// The board's JTAG chain: adapter TDI -> device 0 -> device 1 -> ... -> last device -> adapter
// TDO, every device on the same TCK and TMS.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "fpga.h"

namespace qbxsim {

class CSimChain {
public:
    // onDriveChange runs after a falling TCK edge on which some device changed what it drives
    // onto its pins (the board then evaluates its nets before anything can capture them).
    explicit CSimChain(std::vector<CSimFpga> devices, std::function<void()> onDriveChange = {});

    std::vector<CSimFpga>& Devices() { return m_Devices; }
    const std::vector<CSimFpga>& Devices() const { return m_Devices; }
    size_t Size() const { return m_Devices.size(); }

    void PowerOn();

    // One TCK pulse in halves (see CSimFpga). The rising edge samples every device's TDI from
    // its predecessor's TDO as it stood before the edge.
    void Rise(bool tdi, bool tms);
    void Fall();

    // The chain's TDO: the last device's TDO pin; an empty chain leaves the line released (1).
    bool Tdo() const { return m_Devices.empty() ? true : m_Devices.back().Tdo(); }

    // n TCK pulses (1 to 8) with TMS held at `tms`; bit k of tdiBits is TDI on pulse k. Returns
    // TDO as it stood before each pulse's rising edge (TDO changes only on falling edges, so it
    // is also the level just before the falling edge). Shifts through every device at once
    // when all of them are in a shift state and TMS is low.
    uint32_t Pulses(unsigned n, uint32_t tdiBits, bool tms);

private:
    std::vector<CSimFpga> m_Devices;
    std::function<void()> m_OnDriveChange;
    // The shift registers of a chain that is all in Shift-IR/Shift-DR, kept from one group of
    // pulses to the next until an edge with TMS high or a power-up may change a state.
    std::vector<CShiftRing*> m_Rings;
    bool m_RingsValid = false;
};

}  // namespace qbxsim
