#include "jtag_stream.h"

#include <bit>
#include <cstring>

void CJtagStream::GetRegInfo(int /*type*/, _REGINFO& info)
{
    info.family = -1;
    info.length = 0;
    info.flag = 0;
    info.buffer = nullptr;
}

int CJtagStream::IrLength() const
{
    switch (m_Family) {
    case JTAG_FAMILY_IR5:
        return 5;
    case JTAG_FAMILY_IR4:
        return 4;
    case JTAG_FAMILY_IR8:
        return 8;
    default:
        return 0;
    }
}

bool CJtagStream::IsScannable() const
{
    return IrLength() != 0 && m_Shift != nullptr && m_Mask != nullptr && m_Capture != nullptr && m_Length >= 1 &&
           ByteCount() <= m_BufferBytes;
}

void CJtagStream::LoadImage()
{
    if (m_Image == nullptr || m_Shift == nullptr || m_Length == 0 || ByteCount() > m_BufferBytes)
        return;
    std::memcpy(m_Image, m_Shift, ByteCount());
}

bool CJtagStream::CompareImage()
{
    m_DiffCount = 0;
    if (m_Image == nullptr)
        return false;
    if (m_Shift == nullptr || m_Mask == nullptr || m_Length == 0 || ByteCount() > m_BufferBytes)
        return true;  // nothing sound to compare: count it as a difference

    const uint32_t bytes = ByteCount();
    const uint32_t rest = m_Length % 8;
    bool differs = false;
    for (uint32_t i = 0; i < bytes; ++i) {
        auto difference = static_cast<uint8_t>(m_Image[i] ^ m_Shift[i]);
        if (i == bytes - 1 && rest != 0) {
            // Drop the bits beyond the register: the low bits hold it LSB first, the high bits in
            // the big-endian layout.
            if (m_Family == JTAG_FAMILY_IR5 || m_Family == JTAG_FAMILY_IR8)
                difference &= static_cast<uint8_t>((1u << rest) - 1);
            else if (m_Family == JTAG_FAMILY_IR4)
                difference &= static_cast<uint8_t>(0xFFu << (8 - rest));
        }
        m_Mask[i] = difference;
        m_DiffCount = static_cast<uint16_t>(m_DiffCount + std::popcount(difference));
        if (difference != 0)
            differs = true;
    }
    if (IrLength() == 0)
        return true;
    return differs;
}

void CJtagStream::MergeCapture()
{
    if (m_Image == nullptr || m_Shift == nullptr || m_Mask == nullptr || m_Length == 0 ||
        ByteCount() > m_BufferBytes)
        return;
    const uint32_t bytes = ByteCount();
    for (uint32_t i = 0; i < bytes; ++i)
        m_Image[i] = static_cast<uint8_t>((m_Image[i] & m_Mask[i]) | (~m_Mask[i] & m_Shift[i]));
}

void CJtagStream::SelectRegister(int /*type*/, bool /*preload*/)
{
    SelectBypass();
}

void CJtagStream::SelectBypass()
{
    m_Instruction = 0x0F;
    m_Length = 1;
    if (m_Shift != nullptr)
        m_Shift[0] = 0;
    if (m_Mask != nullptr)
        m_Mask[0] = 0;
    m_Image = nullptr;
}
