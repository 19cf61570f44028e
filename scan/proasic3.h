// One Actel ProASIC3E FPGA (A3PE3000) of the board's chain: an 8-bit instruction register, the
// 2424-cell boundary register, the 32-bit identification register and BYPASS, with the buffers and
// images the chain operations shift through. It also carries the device's BSDL data and its test
// vectors, which the board model fills and reads.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "bsdl.h"
#include "jtag_stream.h"
#include "vectors.h"

// Register types of SelectRegister; every other value selects BYPASS.
enum : int {
    PA3_REG_EXTEST = 0,          // EXTEST on the boundary register
    PA3_REG_IDCODE = 1,          // identification register
    PA3_REG_SAMPLE_PRELOAD = 2,  // SAMPLE/PRELOAD on the boundary register
    PA3_REG_BYPASS = 15,
};

class CProAsic3 : public CJtagStream {
public:
    static constexpr uint32_t kBoundaryLength = 2424;
    static constexpr size_t kBsrBytes = 303;
    static constexpr uint32_t kExtest = 0x00;
    static constexpr uint32_t kSamplePreload = 0x01;
    static constexpr uint32_t kIdcodeInstruction = 0x0F;
    static constexpr uint32_t kBypass = 0xFF;

    // Every buffer zeroed, in BYPASS.
    CProAsic3();

    // Type 1: the identification register (32 bits, m_IdCode); type 15: BYPASS (1 bit, no buffer);
    // other types leave length and buffer as they are. The family is always 2.
    void GetRegInfo(int type, _REGINFO& info) override;
    // EXTEST (0), IDCODE (1), SAMPLE/PRELOAD (2) or BYPASS (anything else). With EXTEST the cells
    // to drive are all of them when preload is set, else those of the BSDL drive mask; with
    // SAMPLE/PRELOAD and preload set the whole of m_Bsr is loaded, else nothing is driven.
    void SelectRegister(int type, bool preload) override;
    void SelectBypass() override;

    uint32_t m_IdCode = 0;                     // image of the identification register
    std::array<uint8_t, kBsrBytes> m_Bsr{};    // image of the boundary register, cell n at bit n%8 of byte n/8
    std::vector<_VECTOR> m_Vectors;            // this device's test vectors
    std::array<uint8_t, kBsrBytes> m_CellsUsed{};  // one bit per cell claimed by a pin line
    _BSDLDATA m_Bsdl;

private:
    std::array<uint8_t, kBsrBytes> m_ShiftBuffer{};
    std::array<uint8_t, kBsrBytes> m_MaskBuffer{};
    std::array<uint8_t, kBsrBytes> m_CaptureBuffer{};
};
