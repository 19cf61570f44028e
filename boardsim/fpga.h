// One A3PE3000-like FPGA of the board's chain as its JTAG port sees it: an IEEE 1149.1 TAP with
// an 8-bit instruction register, a 32-bit identification register, a bypass register and a
// boundary register laid out from the device's BSDL file, with capture and update stages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bsdl.h"
#include "tap.h"

namespace qbxsim {

// A shift register of fixed length as a ring of bits: shifting moves a head index instead of
// the bits, so one clock costs the same for 1 bit or 2424. Cell 0 is the cell next to TDO.
class CShiftRing {
public:
    explicit CShiftRing(size_t length = 1);

    size_t Length() const { return m_Length; }
    bool Head() const { return Bit(m_Head); }  // cell 0, the bit on TDO
    // One clock: the bit at TDO leaves (returned), the cells move one place towards TDO and
    // `in` enters at the TDI end.
    bool Shift(bool in);
    // n clocks (1 to 8): bit k of `in` enters on clock k; bit k of the result is the bit that
    // left on clock k.
    uint32_t ShiftBits(unsigned n, uint32_t in)
    {
        if (m_Head + n > m_Length)  // a group that wraps round the ring: bit by bit
            return ShiftEachBit(n, in);
        const uint32_t out = Exchange(m_Head, n, in);
        m_Head += n;
        if (m_Head == m_Length)
            m_Head = 0;
        return out;
    }
    bool Cell(size_t cell) const { return Bit(Position(cell)); }
    void SetCell(size_t cell, bool value);
    // Loads every cell from a function of the cell number and puts the head back on cell 0.
    template <typename F> void Capture(F cellValue)
    {
        m_Head = 0;
        for (size_t byte = 0, c = 0; c < m_Length; ++byte) {
            unsigned value = 0;
            for (unsigned b = 0; b < 8 && c < m_Length; ++b, ++c)
                value |= (cellValue(c) ? 1u : 0u) << b;
            m_Bits[byte] = static_cast<uint8_t>(value);
        }
    }
    // Every cell's value, cell 0 first, into out[0..Length()).
    void CopyCells(uint8_t* out) const
    {
        size_t c = 0;
        for (size_t p = m_Head; p < m_Length; ++p)
            out[c++] = Bit(p) ? 1 : 0;
        for (size_t p = 0; p < m_Head; ++p)
            out[c++] = Bit(p) ? 1 : 0;
    }
    void Clear();

private:
    size_t Position(size_t cell) const
    {
        size_t p = m_Head + cell;
        return p >= m_Length ? p - m_Length : p;
    }
    bool Bit(size_t p) const { return (m_Bits[p >> 3] >> (p & 7)) & 1; }
    void SetBit(size_t p, bool v)
    {
        uint8_t mask = static_cast<uint8_t>(1u << (p & 7));
        m_Bits[p >> 3] = static_cast<uint8_t>(v ? (m_Bits[p >> 3] | mask) : (m_Bits[p >> 3] & ~mask));
    }
    // n bits at ring positions p.. (no wrap): returns them and puts `in` in their place.
    uint32_t Exchange(size_t p, unsigned n, uint32_t in)
    {
        size_t byte = p >> 3;
        unsigned s = static_cast<unsigned>(p & 7);
        uint32_t word = m_Bits[byte] | (static_cast<uint32_t>(m_Bits[byte + 1]) << 8);
        uint32_t mask = ((1u << n) - 1) << s;
        uint32_t out = (word & mask) >> s;
        word = (word & ~mask) | ((in << s) & mask);
        m_Bits[byte] = static_cast<uint8_t>(word);
        m_Bits[byte + 1] = static_cast<uint8_t>(word >> 8);
        return out;
    }
    uint32_t ShiftEachBit(unsigned n, uint32_t in);

    size_t m_Length;
    size_t m_Head = 0;
    std::vector<uint8_t> m_Bits;  // one spare byte so that Exchange may touch two bytes
};

// What each boundary cell does, from the port table of the BSDL file: an input cell captures
// its pin; an output cell drives its pin from its update stage while its control cell enables it
// (the control value that enables is the complement of the port's disable value; a port without
// control cell, or with an unknown disable value, drives whenever the device is in EXTEST). Output
// and control cells capture the value of their own update stage; cells that belong to no port
// (internal cells) capture 0.
class CBoundaryLayout {
public:
    enum class Role : uint8_t { Internal, Input, Output, Control };

    // Builds the layout of a register of `length` cells. Null, with *error set, when a port
    // names a cell outside the register. driveMask (the reader's image of output and control
    // cells) marks the control cells that belong to no port ("*" in the BSDL file).
    static std::shared_ptr<const CBoundaryLayout> Build(const std::vector<_PINDESC>& ports, size_t length,
                                                        std::string* error,
                                                        const std::vector<uint8_t>* driveMask = nullptr);

    size_t Length() const { return m_Role.size(); }
    const std::vector<_PINDESC>& Ports() const { return m_Ports; }
    Role CellRole(size_t cell) const { return static_cast<Role>(m_Role[cell]); }
    int InputPort(size_t cell) const { return m_InputPort[cell]; }  // -1 unless an input cell
    const std::vector<uint32_t>& OutputPorts() const { return m_OutputPorts; }

private:
    std::vector<_PINDESC> m_Ports;
    std::vector<uint8_t> m_Role;
    std::vector<int32_t> m_InputPort;
    std::vector<uint32_t> m_OutputPorts;  // ports with an output cell
};

class CSimFpga {
public:
    static constexpr unsigned kIrLength = 8;
    static constexpr uint8_t kExtest = 0x00, kSamplePreload = 0x01, kIdcode = 0x0F, kBypass = 0xFF;
    static constexpr uint8_t kIrCapture = 0x01;  // 0bxxxxxx01 with the x bits 0

    // idcode empty: a device without identification register (Test-Logic-Reset selects BYPASS).
    CSimFpga(std::shared_ptr<const CBoundaryLayout> layout, std::optional<uint32_t> idcode);

    // Power-up: Test-Logic-Reset, IDCODE (or BYPASS) selected, every register cleared, no pin driven.
    void PowerOn();

    // One TCK pulse in two halves. TDI and TMS are sampled on the rising edge; TDO changes on the
    // falling edge, and so do the instruction (Update-IR, Test-Logic-Reset) and the boundary
    // update stage (Update-DR). Fall() returns true when the levels this device drives onto its
    // pins may have changed.
    void Rise(bool tdi, bool tms);
    bool Fall();

    // The TDO pin: the selected register's cell 0 while in Shift-IR or Shift-DR, else released
    // (the next device's TDI and the adapter read a released line as 1).
    bool Tdo() const { return m_Tdo; }

    // n clocks (1 to 8) with TMS low while in Shift-IR or Shift-DR: the same as n calls of
    // Rise/Fall, in one step. Bit k of tdiBits enters on clock k; bit k of the result is TDO as
    // it stood before clock k's rising edge.
    uint32_t ShiftBits(unsigned n, uint32_t tdiBits);

    // The register between TDI and TDO while in Shift-IR or Shift-DR, else null; with it the
    // chain shifts many clocks without asking each device again (ShiftRing).
    CShiftRing* ShiftRing()
    {
        switch (m_Tap.State()) {
        case TapState::ShiftIr: return &m_Ir;
        case TapState::ShiftDr: return m_Selected;
        default: return nullptr;
        }
    }
    // ShiftBits on the ring ShiftRing() returned, valid while the state has not changed.
    uint32_t ShiftRingBits(CShiftRing& ring, unsigned n, uint32_t tdiBits)
    {
        uint32_t out = ring.ShiftBits(n, tdiBits);
        m_Tdo = ring.Head();
        return out;
    }

    TapState State() const { return m_Tap.State(); }
    uint8_t Instruction() const { return m_Instruction; }
    bool InExtest() const { return m_Instruction == kExtest; }

    // Whether the device drives port p now, and with which level.
    bool Drives(size_t port, bool* level) const
    {
        int8_t drive = m_Drive[port];
        if (drive < 0)
            return false;
        *level = drive != 0;
        return true;
    }
    // True once after each change of what the device drives (and after power-up).
    bool TakeDriveChanged()
    {
        bool changed = m_DriveChanged;
        m_DriveChanged = false;
        return changed;
    }
    // The board's level on each port's pin, which input cells capture at Capture-DR.
    void SetPinLevel(size_t port, bool level) { m_PinLevel[port] = level ? 1 : 0; }
    bool PinLevel(size_t port) const { return m_PinLevel[port] != 0; }

    const CBoundaryLayout& Layout() const { return *m_Layout; }
    bool UpdateCell(size_t cell) const { return m_Update[cell] != 0; }
    const CShiftRing& BoundaryShift() const { return m_Boundary; }

private:
    enum class Reg : uint8_t { Bypass, Idcode, Boundary };
    Reg SelectedRegister() const;
    CShiftRing& SelectedRing() { return *m_Selected; }
    void SetInstruction(uint8_t code, bool* driveChanged);
    void CaptureDr();
    void ComputeDrive();  // m_Drive from the instruction and the update stage

    std::shared_ptr<const CBoundaryLayout> m_Layout;
    std::optional<uint32_t> m_IdCode;
    CTapController m_Tap;
    uint8_t m_Instruction = kIdcode;
    CShiftRing m_Ir;
    CShiftRing m_Bypass;
    CShiftRing m_Id;
    CShiftRing m_Boundary;
    std::vector<uint8_t> m_Update;    // boundary update stage, one byte per cell
    std::vector<uint8_t> m_PinLevel;  // per port
    std::vector<int8_t> m_Drive;      // per port: -1 not driven, else the level driven
    CShiftRing* m_Selected = nullptr; // the data register the instruction selects
    bool m_DriveChanged = true;
    bool m_Tdo = true;
};

}  // namespace qbxsim
