#include "proasic3.h"

#include <algorithm>
#include <bit>

static_assert(CProAsic3::kBsrBytes == static_cast<size_t>(BSR_BYTES), "vector images and the boundary register differ");
static_assert(CProAsic3::kBoundaryLength == static_cast<uint32_t>(BSR_CELLS));
// m_Image points at m_IdCode as bytes, least significant first.
static_assert(std::endian::native == std::endian::little);

CProAsic3::CProAsic3()
{
    m_Family = JTAG_FAMILY_IR8;
    m_Shift = m_ShiftBuffer.data();
    m_Mask = m_MaskBuffer.data();
    m_Capture = m_CaptureBuffer.data();
    m_BufferBytes = static_cast<uint32_t>(kBsrBytes);
    m_Length = 1;
    m_Instruction = kBypass;
}

void CProAsic3::GetRegInfo(int type, _REGINFO& info)
{
    info.family = m_Family;
    info.flag = 0;
    if (type == PA3_REG_IDCODE) {
        info.length = 32;
        info.buffer = reinterpret_cast<uint8_t*>(&m_IdCode);
    } else if (type == PA3_REG_BYPASS) {
        info.length = 1;
        info.buffer = nullptr;
    }
}

void CProAsic3::SelectRegister(int type, bool preload)
{
    switch (type) {
    case PA3_REG_EXTEST: {
        m_Instruction = kExtest;
        m_Length = kBoundaryLength;
        m_Image = m_Bsr.data();
        m_ShiftBuffer = m_Bsr;
        if (preload) {
            m_MaskBuffer.fill(0xFF);
        } else {
            // The BSDL drive mask: output and control cells are driven from m_Bsr, every other cell
            // is shifted back with what it captured. A mask shorter than the register (the BSDL of
            // a smaller device) drives nothing beyond its end.
            m_MaskBuffer.fill(0);
            const size_t bytes = std::min(m_Bsdl.driveMask.size(), kBsrBytes);
            std::copy_n(m_Bsdl.driveMask.begin(), bytes, m_MaskBuffer.begin());
        }
        break;
    }
    case PA3_REG_IDCODE:
        m_Instruction = kIdcodeInstruction;
        m_Length = 32;
        m_Image = reinterpret_cast<uint8_t*>(&m_IdCode);
        std::fill_n(m_ShiftBuffer.begin(), 4, 0);
        std::fill_n(m_MaskBuffer.begin(), 4, 0);
        break;
    case PA3_REG_SAMPLE_PRELOAD:
        m_Instruction = kSamplePreload;
        m_Length = kBoundaryLength;
        m_Image = m_Bsr.data();
        if (preload) {
            m_ShiftBuffer = m_Bsr;
            m_MaskBuffer.fill(0xFF);
        } else {
            m_ShiftBuffer.fill(0);
            m_MaskBuffer.fill(0);
        }
        break;
    default:
        SelectBypass();
        break;
    }
}

void CProAsic3::SelectBypass()
{
    m_Instruction = kBypass;
    m_Length = 1;
    m_ShiftBuffer[0] = 0;
    m_MaskBuffer[0] = 0;
    m_Image = nullptr;
}
