// Helpers of the simulator's tests: a small BSDL device, and a driver that walks a JTAG chain.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bsdl.h"
#include "chain.h"
#include "fpga.h"
#include "onewire.h"

namespace qbxsim::testing {

// A 1-Wire device that answers every reset and whose JTAG switch conducts (unless told not to).
class ConductingSwitch : public OneWireDevice {
public:
    bool conducts = true;
    uint64_t Rom() const override { return 0x20; }
    void PowerOn() override {}
    bool Reset() override { return true; }
    bool Slot(bool masterBit) override { return masterBit; }
    bool JtagSwitchConducts() const override { return conducts; }
};

// A ten-cell device "TINY": IN1 (A1) input cell 0; OUT1 (B2) output 1, control 2 (disable 1);
// IO1 (C3) input 3, output 4, control 5 (disable 1); IO2 (AA14) input 6, output 7, control 8
// (disable 0); cell 9 internal. Ports in the order IN1, OUT1, IO1, IO2, TDI, TDO, TMS, TCK.
inline std::string TinyBsdlText()
{
    return "entity TINY is\n"
           "generic (PHYSICAL_PIN_MAP : string := \"PKG\");\n"
           "port(IN1 : in bit; OUT1 : out bit; IO1 : inout bit; IO2 : inout bit;\n"
           "     TDI : in bit; TDO : out bit; TMS : in bit; TCK : in bit\n);\n"
           "use STD_1149_1_2001.all;\n"
           "attribute PIN_MAP of TINY : entity is PHYSICAL_PIN_MAP;\n"
           "constant PKG : PIN_MAP_STRING := \"IN1:A1, OUT1:B2, IO1:C3, IO2:AA14, TDI:D1, TDO:D2, TMS:D3, TCK:D4\";\n"
           "attribute INSTRUCTION_LENGTH of TINY : entity is 8;\n"
           "attribute BOUNDARY_LENGTH of TINY : entity is 10;\n"
           "attribute BOUNDARY_REGISTER of TINY : entity is \"0 (BC_1, IN1, input, X), \" &\n"
           "  \"1 (BC_1, OUT1, output3, X, 2, 1, Z), 2 (BC_1, *, control, 1), 3 (BC_1, IO1, input, X), \" &\n"
           "  \"4 (BC_1, IO1, output3, X, 5, 1, Z), 5 (BC_1, *, control, 1), 6 (BC_1, IO2, input, X), \" &\n"
           "  \"7 (BC_1, IO2, output3, X, 8, 0, Z), 8 (BC_1, *, control, 0), 9 (BC_1, *, internal, X)\";\n"
           "end TINY;\n";
}

enum TinyPort { kIn1 = 0, kOut1 = 1, kIo1 = 2, kIo2 = 3 };

// The layout of TINY, read through the BSDL reader.
inline std::shared_ptr<const CBoundaryLayout> TinyLayout(std::string* error = nullptr)
{
    _BSDLDATA data;
    ReadBsdlText(TinyBsdlText().c_str(), data);
    return CBoundaryLayout::Build(data.pins, static_cast<size_t>(data.boundaryLength), error, &data.driveMask);
}

// Walks a chain by single TCK pulses: TMS moves, and shifts of LSB-first bit strings.
class ChainDriver {
public:
    explicit ChainDriver(CSimChain& chain) : m_Chain(chain) {}

    bool Clock(bool tdi, bool tms)
    {
        bool tdo = m_Chain.Tdo();
        m_Chain.Rise(tdi, tms);
        m_Chain.Fall();
        return tdo;
    }
    void Tms(std::initializer_list<int> bits)
    {
        for (int b : bits)
            Clock(true, b != 0);
    }
    void Reset() { Tms({1, 1, 1, 1, 1}); }
    void ToShiftDr() { Tms({0, 1, 0, 0}); }  // from Run-Test/Idle or Test-Logic-Reset
    void ToShiftIr() { Tms({0, 1, 1, 0, 0}); }
    void Update() { Tms({1, 0}); }  // Exit1 -> Update -> Run-Test/Idle

    // Shifts `bits` (bit k = TDI on clock k) and returns TDO; TMS high on the last clock when `exit`.
    std::vector<bool> Shift(const std::vector<bool>& bits, bool exit)
    {
        std::vector<bool> out;
        for (size_t k = 0; k < bits.size(); ++k)
            out.push_back(Clock(bits[k], exit && k + 1 == bits.size()));
        return out;
    }

private:
    CSimChain& m_Chain;
};

inline std::vector<bool> Bits(uint64_t value, size_t n)
{
    std::vector<bool> bits;
    for (size_t i = 0; i < n; ++i)
        bits.push_back((value >> i) & 1);
    return bits;
}

inline uint64_t Value(const std::vector<bool>& bits, size_t from = 0, size_t n = 64)
{
    uint64_t v = 0;
    for (size_t i = 0; i < n && from + i < bits.size(); ++i)
        v |= static_cast<uint64_t>(bits[from + i]) << i;
    return v;
}

}  // namespace qbxsim::testing
