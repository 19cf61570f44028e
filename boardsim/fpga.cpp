#include "fpga.h"

#include <algorithm>

#include "platform.h"

namespace qbxsim {

// ---- CShiftRing ---------------------------------------------------------------------------------

CShiftRing::CShiftRing(size_t length) : m_Length(length == 0 ? 1 : length), m_Bits((m_Length + 7) / 8 + 1, 0) {}

bool CShiftRing::Shift(bool in)
{
    bool out = Bit(m_Head);
    SetBit(m_Head, in);
    if (++m_Head == m_Length)
        m_Head = 0;
    return out;
}

uint32_t CShiftRing::ShiftEachBit(unsigned n, uint32_t in)
{
    uint32_t out = 0;
    for (unsigned k = 0; k < n; ++k)
        out |= static_cast<uint32_t>(Shift((in >> k) & 1)) << k;
    return out;
}

void CShiftRing::SetCell(size_t cell, bool value)
{
    SetBit(Position(cell), value);
}

void CShiftRing::Clear()
{
    std::fill(m_Bits.begin(), m_Bits.end(), 0);
    m_Head = 0;
}

// ---- CBoundaryLayout ----------------------------------------------------------------------------

std::shared_ptr<const CBoundaryLayout> CBoundaryLayout::Build(const std::vector<_PINDESC>& ports, size_t length,
                                                              std::string* error,
                                                              const std::vector<uint8_t>* driveMask)
{
    auto layout = std::make_shared<CBoundaryLayout>();
    if (length == 0) {
        if (error)
            *error = "the boundary register has no cells";
        return nullptr;
    }
    layout->m_Ports = ports;
    layout->m_Role.assign(length, static_cast<uint8_t>(Role::Internal));
    layout->m_InputPort.assign(length, -1);
    for (size_t p = 0; p < ports.size(); ++p) {
        const _PINDESC& port = ports[p];
        for (int cell : {port.outCell, port.ctrlCell, port.inCell}) {
            if (cell >= 0 && static_cast<size_t>(cell) >= length) {
                if (error)
                    *error = platform::Format("port %s names cell %d, outside the boundary register of %zu cells",
                                              port.name.c_str(), cell, length);
                return nullptr;
            }
        }
        if (port.ctrlCell >= 0)
            layout->m_Role[port.ctrlCell] = static_cast<uint8_t>(Role::Control);
        if (port.outCell >= 0) {
            layout->m_Role[port.outCell] = static_cast<uint8_t>(Role::Output);
            layout->m_OutputPorts.push_back(static_cast<uint32_t>(p));
        }
    }
    if (driveMask) {
        for (size_t c = 0; c < length && c / 8 < driveMask->size(); ++c)
            if (((*driveMask)[c / 8] >> (c % 8)) & 1 && layout->m_Role[c] == static_cast<uint8_t>(Role::Internal))
                layout->m_Role[c] = static_cast<uint8_t>(Role::Control);
    }
    // Input roles last: a cell that both captures and drives a pin captures the pin.
    for (size_t p = 0; p < ports.size(); ++p) {
        int cell = ports[p].inCell;
        if (cell >= 0) {
            layout->m_Role[cell] = static_cast<uint8_t>(Role::Input);
            layout->m_InputPort[cell] = static_cast<int32_t>(p);
        }
    }
    return layout;
}

// ---- CSimFpga -----------------------------------------------------------------------------------

CSimFpga::CSimFpga(std::shared_ptr<const CBoundaryLayout> layout, std::optional<uint32_t> idcode)
    : m_Layout(std::move(layout)),
      m_IdCode(idcode),
      m_Ir(kIrLength),
      m_Bypass(1),
      m_Id(32),
      m_Boundary(m_Layout->Length()),
      m_Update(m_Layout->Length(), 0),
      m_PinLevel(m_Layout->Ports().size(), 1),
      m_Drive(m_Layout->Ports().size(), -1)
{
    PowerOn();
}

void CSimFpga::PowerOn()
{
    m_Tap.PowerOn();
    m_Instruction = m_IdCode ? kIdcode : kBypass;
    m_Selected = m_IdCode ? &m_Id : &m_Bypass;
    m_Ir.Clear();
    m_Bypass.Clear();
    m_Id.Clear();
    m_Boundary.Clear();
    std::fill(m_Update.begin(), m_Update.end(), 0);
    ComputeDrive();
    m_Tdo = true;
}

void CSimFpga::ComputeDrive()
{
    std::fill(m_Drive.begin(), m_Drive.end(), int8_t{-1});
    m_DriveChanged = true;
    if (!InExtest())
        return;
    const std::vector<_PINDESC>& ports = m_Layout->Ports();
    for (uint32_t p : m_Layout->OutputPorts()) {
        const _PINDESC& pin = ports[p];
        if (pin.ctrlCell >= 0 && pin.disable >= 0 && m_Update[pin.ctrlCell] == pin.disable)
            continue;
        m_Drive[p] = static_cast<int8_t>(m_Update[pin.outCell]);
    }
}

CSimFpga::Reg CSimFpga::SelectedRegister() const
{
    switch (m_Instruction) {
    case kExtest:
    case kSamplePreload:
        return Reg::Boundary;
    case kIdcode:
        return m_IdCode ? Reg::Idcode : Reg::Bypass;
    default:
        return Reg::Bypass;
    }
}

void CSimFpga::CaptureDr()
{
    switch (SelectedRegister()) {
    case Reg::Bypass:
        m_Bypass.Capture([](size_t) { return false; });
        break;
    case Reg::Idcode: {
        uint32_t code = *m_IdCode;
        m_Id.Capture([code](size_t c) { return ((code >> c) & 1) != 0; });
        break;
    }
    case Reg::Boundary: {
        const CBoundaryLayout& layout = *m_Layout;
        m_Boundary.Capture([&](size_t c) {
            switch (layout.CellRole(c)) {
            case CBoundaryLayout::Role::Input: return m_PinLevel[layout.InputPort(c)] != 0;
            case CBoundaryLayout::Role::Output:
            case CBoundaryLayout::Role::Control: return m_Update[c] != 0;
            case CBoundaryLayout::Role::Internal: break;
            }
            return false;
        });
        break;
    }
    }
}

void CSimFpga::Rise(bool tdi, bool tms)
{
    switch (m_Tap.State()) {
    case TapState::CaptureDr: CaptureDr(); break;
    case TapState::ShiftDr: SelectedRing().Shift(tdi); break;
    case TapState::CaptureIr: m_Ir.Capture([](size_t c) { return ((kIrCapture >> c) & 1) != 0; }); break;
    case TapState::ShiftIr: m_Ir.Shift(tdi); break;
    default: break;
    }
    m_Tap.Clock(tms);
}

void CSimFpga::SetInstruction(uint8_t code, bool* driveChanged)
{
    bool wasExtest = InExtest();
    m_Instruction = code;
    switch (SelectedRegister()) {
    case Reg::Boundary: m_Selected = &m_Boundary; break;
    case Reg::Idcode: m_Selected = &m_Id; break;
    case Reg::Bypass: m_Selected = &m_Bypass; break;
    }
    if (wasExtest != InExtest()) {
        ComputeDrive();
        *driveChanged = true;
    }
}

bool CSimFpga::Fall()
{
    bool driveChanged = false;
    switch (m_Tap.State()) {
    case TapState::UpdateDr:
        if (SelectedRegister() == Reg::Boundary) {
            m_Boundary.CopyCells(m_Update.data());
            if (InExtest()) {
                ComputeDrive();
                driveChanged = true;
            }
        }
        break;
    case TapState::UpdateIr: {
        uint8_t code = 0;
        for (unsigned c = 0; c < kIrLength; ++c)
            code = static_cast<uint8_t>(code | (m_Ir.Cell(c) ? 1u << c : 0u));
        SetInstruction(code, &driveChanged);
        break;
    }
    case TapState::TestLogicReset:
        SetInstruction(m_IdCode ? kIdcode : kBypass, &driveChanged);
        break;
    default:
        break;
    }
    switch (m_Tap.State()) {
    case TapState::ShiftDr: m_Tdo = SelectedRing().Head(); break;
    case TapState::ShiftIr: m_Tdo = m_Ir.Head(); break;
    default: m_Tdo = true; break;
    }
    return driveChanged;
}

uint32_t CSimFpga::ShiftBits(unsigned n, uint32_t tdiBits)
{
    CShiftRing& ring = m_Tap.State() == TapState::ShiftIr ? m_Ir : SelectedRing();
    uint32_t out = ring.ShiftBits(n, tdiBits);
    m_Tdo = ring.Head();
    return out;
}

}  // namespace qbxsim
