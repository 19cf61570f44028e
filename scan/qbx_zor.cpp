#include "qbx_zor.h"

#include <algorithm>
#include <cstring>

#include "error_report.h"
#include "files.h"
#include "platform.h"

namespace {

bool CellInRegister(int cell)
{
    return cell >= 0 && cell < BSR_CELLS;
}

// The control-cell value that enables a pin's output.
int EnableValue(const _PINDESC& pin)
{
    return pin.disable == 0 ? 1 : 0;
}

// A pin of a vector file line: "$NAME" by port name, anything else by package pin.
const _PINDESC* LookupPin(const CProAsic3& fpga, const std::string& pin)
{
    if (!pin.empty() && pin[0] == '$')
        return FindPin(fpga.m_Bsdl.pins, FIND_BY_NAME, pin.c_str() + 1);
    return FindPin(fpga.m_Bsdl.pins, FIND_BY_PIN, pin.c_str());
}

// Reports why a pin cannot take a value of its section, or returns true when it can. A DRIVE pin
// needs an output cell (its control cell, when it has one, must be a cell of the register too); a
// SENSOR pin needs an input cell.
bool CheckPinCells(const _PINDESC& desc, int section, const std::string& pin)
{
    if (section == SECTION_DRIVE) {
        if (desc.outCell < 0) {
            ReportError("Error pin %s has no output cell\r\n", pin.c_str());
            return false;
        }
        for (int cell : {desc.outCell, desc.ctrlCell}) {
            if (cell != -1 && !CellInRegister(cell)) {
                ReportError("Error pin %s cell %d outside the boundary register\r\n", pin.c_str(), cell);
                return false;
            }
        }
        return true;
    }
    if (desc.inCell < 0) {
        ReportError("Error pin %s has no input cell\r\n", pin.c_str());
        return false;
    }
    if (!CellInRegister(desc.inCell)) {
        ReportError("Error pin %s cell %d outside the boundary register\r\n", pin.c_str(), desc.inCell);
        return false;
    }
    return true;
}

// Sets a driven pin in one image: its output cell to value and its control cell (if any) to the
// enabling value.
void DrivePin(uint8_t* image, const _PINDESC& desc, int value)
{
    SetCell(image, desc.outCell, value);
    if (desc.ctrlCell >= 0)
        SetCell(image, desc.ctrlCell, EnableValue(desc));
}

}  // namespace

int CQbx_zor::LoadBsdl(const char* path, std::string* why)
{
    _BSDLDATA data;
    if (!ReadBsdl(path, data, why))
        return 0;
    for (CProAsic3& fpga : m_Fpga)
        fpga.m_Bsdl = data;
    return 1;
}

void CQbx_zor::AttachChain(void*& handle, int32_t address)
{
    m_Chain.handle = &handle;
    m_Chain.address = address;
    // Each model goes to the front of the list in turn, so the list runs FPGA 7, 6, ..., 0: FPGA 7
    // is nearest the adapter's TDO input, FPGA 0 nearest its TDI output.
    m_Chain.first = nullptr;
    for (CProAsic3& fpga : m_Fpga) {
        fpga.m_Next = m_Chain.first;
        m_Chain.first = &fpga;
    }
    for (CJtagStream* device = m_Chain.first; device != nullptr; device = device->m_Next)
        device->SelectBypass();
}

int CQbx_zor::AddPinVector(const std::string& group, int section, int device, const std::string& pin,
                           const std::string& bits)
{
    if (bits.empty())
        return 0;
    if (device < 0 || device >= kFpgaCount) {
        ReportError("Error device %d of pin %s not in the chain (0 to %d)\r\n", device, pin.c_str(), kFpgaCount - 1);
        return 0;
    }
    if (bits.size() > static_cast<size_t>(kMaxVectors)) {
        ReportError("Error pin %s has %zu values, more than %d vectors\r\n", pin.c_str(), bits.size(), kMaxVectors);
        return 0;
    }
    // A pin that cannot take its section's values is refused once for the whole line. A pin that is
    // not in the table is reported by every value, as the binding finds it missing.
    if (const _PINDESC* desc = LookupPin(m_Fpga[device], pin); desc != nullptr && !CheckPinCells(*desc, section, pin))
        return 0;

    int result = 1;
    for (size_t i = 0; i < bits.size(); ++i) {
        const int value = bits[i] - '0';
        const int position = static_cast<int>(i);
        for (int k = 0; k < kFpgaCount; ++k) {
            if (k == device)
                result = BindPinValue(group, m_Fpga[k], section, pin, value, position);
            else
                FindVectorSlot(m_Fpga[k], group, position);
        }
    }
    return result;
}

int CQbx_zor::FindVectorSlot(CProAsic3& fpga, const std::string& group, int position)
{
    std::vector<_VECTOR>& vectors = fpga.m_Vectors;
    if (vectors.empty()) {
        // Vector 0 is the safe image; a register description shorter than the image leaves the
        // rest 0.
        _VECTOR first;
        first.name = group;
        const size_t bytes = std::min(fpga.m_Bsdl.safeBits.size(), first.image.size());
        std::copy_n(fpga.m_Bsdl.safeBits.begin(), bytes, first.image.begin());
        vectors.push_back(std::move(first));
    }
    if (position <= 0)
        return 0;

    // Go on from the previous position of the same group when this is the next one.
    SlotMemo* memo = nullptr;
    if (&fpga >= m_Fpga.data() && &fpga < m_Fpga.data() + m_Fpga.size())
        memo = &m_SlotMemo[static_cast<size_t>(&fpga - m_Fpga.data())];
    int count = 0;
    size_t from = 1;
    if (memo != nullptr && memo->position == position - 1 && memo->position >= 1 && memo->index < vectors.size() &&
        memo->group == group && vectors[memo->index].name == group) {
        count = memo->position;
        from = memo->index + 1;
    }
    auto found = [&](size_t j) {
        if (memo != nullptr) {
            memo->group = group;
            memo->position = position;
            memo->index = j;
        }
        return static_cast<int>(j);
    };
    for (size_t j = from; j < vectors.size(); ++j) {
        if (vectors[j].name == group && ++count == position)
            return found(j);
    }
    // Positions arrive in increasing order, so normally exactly one vector is missing.
    if (vectors.size() + static_cast<size_t>(position - count) > static_cast<size_t>(kMaxVectors))
        return -1;
    while (count < position) {
        _VECTOR next;
        next.name = group;
        next.image = vectors[0].image;
        vectors.push_back(std::move(next));
        ++count;
    }
    return found(vectors.size() - 1);
}

int CQbx_zor::BindPinValue(const std::string& group, CProAsic3& fpga, int section, const std::string& pin, int value,
                           int position)
{
    const int slot = FindVectorSlot(fpga, group, position);
    if (slot < 0) {
        ReportError("Error pin %s: more than %d vectors\r\n", pin.c_str(), kMaxVectors);
        return 0;
    }
    const _PINDESC* desc = LookupPin(fpga, pin);
    if (desc == nullptr) {
        ReportError("Error pin %s not Found\r\n", pin.c_str());
        return 0;
    }
    if (!CheckPinCells(*desc, section, pin))
        return 0;

    if (position >= 1) {
        uint8_t* image = fpga.m_Vectors[static_cast<size_t>(slot)].image.data();
        if (section == SECTION_DRIVE)
            DrivePin(image, *desc, value);
        else
            SetCell(image, desc->inCell, value);
        return 1;
    }

    // The first value claims the pin's cells and is its value in every vector the line does not
    // set.
    uint8_t* used = fpga.m_CellsUsed.data();
    if (section == SECTION_DRIVE) {
        const bool claimed = GetCell(used, desc->outCell) != 0 || (desc->ctrlCell >= 0 && GetCell(used, desc->ctrlCell) != 0);
        if (!claimed) {
            SetCell(used, desc->outCell, 1);
            if (desc->ctrlCell >= 0)
                SetCell(used, desc->ctrlCell, 1);
            for (_VECTOR& vector : fpga.m_Vectors)
                DrivePin(vector.image.data(), *desc, value);
            return 1;
        }
    } else if (GetCell(used, desc->inCell) == 0) {
        SetCell(used, desc->inCell, 1);
        ++m_SensedPins;
        for (_VECTOR& vector : fpga.m_Vectors)
            SetCell(vector.image.data(), desc->inCell, value);
        return 1;
    }
    ReportError("Error pin %s already used\r\n", pin.c_str());
    return 0;
}

int CQbx_zor::SetLockPll(CProAsic3& fpga, int vector, int value)
{
    const _PINDESC* desc = FindPin(fpga.m_Bsdl.pins, FIND_BY_NAME, kBoard.lockPllPort);
    const std::string port = std::string("$") + kBoard.lockPllPort;
    if (desc == nullptr) {
        ReportError("Error pin %s not Found\r\n", port.c_str());
        return 0;
    }
    if (!CheckPinCells(*desc, SECTION_DRIVE, port))
        return 0;
    if (vector < 0 || vector >= static_cast<int>(fpga.m_Vectors.size()))
        return 0;
    DrivePin(fpga.m_Vectors[static_cast<size_t>(vector)].image.data(), *desc, value);
    return 1;
}

int CQbx_zor::WriteLockPllPattern()
{
    const int n = VectorCount();
    const int step = std::max(n / kFpgaCount, 1);
    // One bit per FPGA, bit k for FPGA k.
    constexpr unsigned kPatternMask = (1u << kFpgaCount) - 1;
    unsigned pattern = 0;
    int result = 1;
    for (int j = 1; j < n; ++j) {
        if (j % step == 0)
            pattern = ((pattern << 1) | 1u) & kPatternMask;
        for (int k = 0; k < kFpgaCount; ++k) {
            if (!SetLockPll(m_Fpga[k], j, static_cast<int>((pattern >> k) & 1u)))
                result = 0;
        }
    }
    return result;
}

std::string CQbx_zor::TruthTable() const
{
    int width = 0;
    for (const std::string& name : m_PinNames)
        width = std::max(width, static_cast<int>(name.size()));

    std::string table;
    const size_t lines = std::min(m_PinNames.size(), m_DeviceNumbers.size());
    for (size_t line = 0; line < lines; ++line) {
        const std::string& name = m_PinNames[line];
        const int device = m_DeviceNumbers[line];
        // A line whose device is not in the chain was refused; its values show against FPGA 0's
        // vectors so that the columns stay aligned.
        const bool inChain = device >= 0 && device < kFpgaCount;
        const CProAsic3& fpga = m_Fpga[inChain ? static_cast<size_t>(device) : 0];
        const _PINDESC* desc = inChain ? LookupPin(fpga, name) : nullptr;

        char kind = '?';
        int cell = -1;
        if (desc != nullptr && CellInRegister(desc->inCell) && GetCell(fpga.m_CellsUsed.data(), desc->inCell)) {
            kind = 'I';
            cell = desc->inCell;
        } else if (desc != nullptr && CellInRegister(desc->outCell) && GetCell(fpga.m_CellsUsed.data(), desc->outCell)) {
            kind = 'O';
            cell = desc->outCell;
        }

        table += platform::Format("%d-%*s_%c ", device, width, name.c_str(), kind);
        for (const _VECTOR& vector : fpga.m_Vectors)
            table += cell >= 0 ? static_cast<char>('0' + GetCell(vector.image.data(), cell)) : '-';
        table += "\r\n";
    }
    return table;
}

bool CQbx_zor::WriteTruthTable(const std::string& path, std::string* why) const
{
    return platform::WriteFileAtomically(path, TruthTable(), why);
}

std::string CQbx_zor::VectorsProblem() const
{
    if (VectorCount() == 0 || m_SensedPins == 0)
        return "no vector senses a pin: the file would test nothing and pass every board";
    return "";
}

bool CQbx_zor::SwitchJtagOn()
{
    if (!m_AdcSensor1.IsValid() || !m_AdcSensor2.IsValid())
        return false;
    m_AdcSensor2.m_Config[kBoard.jtagSwitchInputChannel] = DS2450_WORD_INPUT;
    m_AdcSensor2.m_Config[kBoard.jtagSwitchChannel] = DS2450_WORD_OUTPUT_ON;
    m_BusSelect = 1;
    return m_AdcSensor2.WriteChannelConfig() == ONEWIRE_OK;
}

bool CQbx_zor::ScanChain()
{
    if (m_Chain.first == nullptr)
        return true;
    const bool scanned = ScanIR(m_Chain) && ScanDR(m_Chain);
    for (CJtagStream* device = m_Chain.first; device != nullptr; device = device->m_Next) {
        if (scanned)
            device->MergeCapture();
        device->SelectBypass();
    }
    return scanned;
}

int CQbx_zor::RunVectors()
{
    if (!SwitchJtagOn()) {
        ReportError("JtagSwitch ERROR\r\n");
        return 1;
    }
    const int n = VectorCount();
    int result = 1;
    for (int j = 0; j < n; ++j) {
        if (m_OnVector)
            m_OnVector(j, n);
        const VectorResult outcome = DriveVector(j);
        if (outcome == VECTOR_TRANSFER_FAILED) {
            // A dead or mute adapter: what the chain returned is not the board's answer, and every
            // further transfer would fail (or wait for its time-out) as well.
            const std::string& name = m_Fpga[0].m_Vectors[static_cast<size_t>(j)].name;
            ReportError("Vector %d (abs=%d) %s ERROR JTAG transfer failed\r\n", NumberInGroup(j), j, name.c_str());
            return 0;
        }
        if (outcome == VECTOR_WRONG)
            result = 0;
    }
    return result;
}

CQbx_zor::VectorResult CQbx_zor::DriveVector(int vector)
{
    if (vector < 0 || vector >= VectorCount())
        return VECTOR_WRONG;
    const auto j = static_cast<size_t>(vector);
    for (CProAsic3& fpga : m_Fpga) {
        fpga.m_Bsr = fpga.m_Vectors[j].image;
        fpga.SelectRegister(PA3_REG_SAMPLE_PRELOAD, true);
    }
    if (!ScanChain())
        return VECTOR_TRANSFER_FAILED;
    for (CProAsic3& fpga : m_Fpga)
        fpga.SelectRegister(PA3_REG_EXTEST, false);
    if (!ScanChain())
        return VECTOR_TRANSFER_FAILED;
    return CheckVector(vector) ? VECTOR_PASSED : VECTOR_WRONG;
}

bool CQbx_zor::CheckVector(int vector)
{
    if (vector < 0 || vector >= VectorCount())
        return false;
    const auto j = static_cast<size_t>(vector);
    bool passed = true;
    for (int k = 0; k < kFpgaCount; ++k) {
        const CProAsic3& fpga = m_Fpga[k];
        const _VECTOR& expected = fpga.m_Vectors[j];
        for (size_t p = 0; p < expected.image.size(); ++p) {
            const auto difference = static_cast<uint8_t>((expected.image[p] ^ fpga.m_Bsr[p]) & fpga.m_CellsUsed[p]);
            if (difference == 0)
                continue;
            passed = false;
            for (int b = 0; b < 8; ++b) {
                if (((difference >> b) & 1) == 0)
                    continue;
                const int cell = static_cast<int>(p) * 8 + b;
                const _PINDESC* owner = nullptr;
                for (const _PINDESC& pin : fpga.m_Bsdl.pins) {
                    if (pin.ctrlCell == cell || pin.inCell == cell || pin.outCell == cell) {
                        owner = &pin;
                        break;
                    }
                }
                // Every claimed cell belongs to a pin of the table; "?" only guards the message.
                const _WRONGCELL wrong{NumberInGroup(vector), vector, expected.name, k,
                                       owner != nullptr ? owner->name : "?", owner != nullptr ? PinLabel(*owner) : "?",
                                       GetCell(fpga.m_Bsr.data(), cell), GetCell(expected.image.data(), cell)};
                ReportError("Vector %d (abs=%d) %s ERROR fpga %d pin:%s (%s) read=%d expected=%d\r\n", wrong.vector,
                            wrong.abs, wrong.group.c_str(), k, wrong.pin.c_str(), wrong.packagePin.c_str(), wrong.read,
                            wrong.expected);
                if (m_OnWrongCell)
                    m_OnWrongCell(wrong);
            }
        }
    }
    return passed;
}

int CQbx_zor::NumberInGroup(int vector) const
{
    const std::vector<_VECTOR>& vectors = m_Fpga[0].m_Vectors;
    if (vector < 0 || vector >= static_cast<int>(vectors.size()))
        return 0;
    int number = 1;
    for (int j = vector - 1; j >= 0 && vectors[static_cast<size_t>(j)].name == vectors[static_cast<size_t>(vector)].name; --j)
        ++number;
    return number;
}

int CQbx_zor::ApplyFirstVector()
{
    if (!SwitchJtagOn()) {
        ReportError("JtagSwitch ERROR\r\n");
        return 0;
    }
    if (VectorCount() < 1)
        return 0;
    for (CProAsic3& fpga : m_Fpga) {
        fpga.m_Bsr = fpga.m_Vectors[0].image;
        fpga.SelectRegister(PA3_REG_SAMPLE_PRELOAD, true);
    }
    // A failed transfer leaves nothing more to do: the board stays as it is.
    if (!ScanChain())
        return 0;
    for (CProAsic3& fpga : m_Fpga)
        fpga.SelectRegister(PA3_REG_EXTEST, false);
    ScanChain();
    return 0;
}

int CQbx_zor::ReadPower()
{
    if (!m_AdcSensor1.IsValid() || !m_AdcSensor2.IsValid())
        return -1;
    m_Current = 0.0f;
    m_Vmem = 0.0f;
    m_Vin = 0.0f;
    m_PowerFlags = 0;

    m_AdcSensor1.m_Config[kBoard.currentChannel] = DS2450_WORD_INPUT;
    m_AdcSensor1.m_Config[kBoard.vmemChannel] = DS2450_WORD_INPUT;
    int rc = m_AdcSensor1.WriteChannelConfig();
    if (rc != ONEWIRE_OK)
        return rc;
    m_AdcSensor2.m_Config[kBoard.vinChannel] = DS2450_WORD_INPUT;
    m_AdcSensor2.m_Config[kBoard.vmemFaultChannel] = DS2450_WORD_INPUT;
    if ((rc = m_AdcSensor2.WriteChannelConfig()) != ONEWIRE_OK)
        return rc;
    if ((rc = m_AdcSensor1.Convert()) != ONEWIRE_OK || (rc = m_AdcSensor1.ReadVoltages()) != ONEWIRE_OK)
        return rc;
    if ((rc = m_AdcSensor2.Convert()) != ONEWIRE_OK || (rc = m_AdcSensor2.ReadVoltages()) != ONEWIRE_OK)
        return rc;

    m_Current = kBoard.SupplyCurrent(m_AdcSensor1.m_Volts[kBoard.currentChannel]);
    m_Vmem = m_AdcSensor1.m_Volts[kBoard.vmemChannel];
    m_Vin = kBoard.SupplyVin(m_AdcSensor2.m_Volts[kBoard.vinChannel]);
    m_PowerFlags = _POWERFLAGS{static_cast<unsigned>(m_BusSelect), kBoard.VmemFault(m_AdcSensor2.m_Volts[kBoard.vmemFaultChannel])}.Pack();
    return ONEWIRE_OK;
}
