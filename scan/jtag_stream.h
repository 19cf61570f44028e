// One device of a JTAG chain, as the chain operations (jtag_chain.h) see it: the instruction to
// load, the length of the data register it selects, and the buffers through which that register is
// driven and read.
#pragma once

#include <cstdint>

// Instruction-register classes of a device (m_Family). Class 1 also keeps its data registers in the
// big-endian layout of JTAG_Out mode 1; classes 0 and 2 keep them LSB first.
enum : int32_t {
    JTAG_FAMILY_IR5 = 0,
    JTAG_FAMILY_IR4 = 1,
    JTAG_FAMILY_IR8 = 2,
};

// What GetRegInfo tells about one register of a device.
struct _REGINFO {
    int32_t family = -1;
    uint32_t length = 0;  // bits
    uint8_t flag = 0;
    uint8_t* buffer = nullptr;
};

// The buffers belong to the derived device, which sizes them for its longest register and sets
// m_BufferBytes; this class never allocates. A register of m_Length bits takes
// (m_Length - 1) / 8 + 1 bytes.
class CJtagStream {
public:
    CJtagStream() = default;
    virtual ~CJtagStream() = default;
    CJtagStream(const CJtagStream&) = delete;
    CJtagStream& operator=(const CJtagStream&) = delete;

    // Describes a register of the device. The base knows none: family -1, length 0, no buffer.
    virtual void GetRegInfo(int type, _REGINFO& info);
    // Copies the register's bytes of m_Shift into m_Image (when an image is kept).
    virtual void LoadImage();
    // Compares m_Image with m_Shift: m_Mask gets the differing bits, m_DiffCount their number.
    // True when anything differs (always for a family outside 0..2); false without an image.
    virtual bool CompareImage();
    // Takes the captured bits (m_Shift after a scan) into m_Image wherever m_Mask is clear.
    virtual void MergeCapture();
    // Selects a register for the next scan. The base selects BYPASS whatever the type.
    virtual void SelectRegister(int type, bool preload);
    // BYPASS: a one-bit register, nothing driven, no image.
    virtual void SelectBypass();

    // Bytes of the selected register.
    uint32_t ByteCount() const { return (m_Length - 1) / 8 + 1; }
    // Instruction length of the family: 5, 4 or 8; 0 for an unknown family.
    int IrLength() const;
    // True when the device can take part in a scan: a known family, buffers set, and a register of
    // at least one bit that fits them.
    bool IsScannable() const;

    uint32_t m_Instruction = 0x0F;  // only the low byte is shifted
    int32_t m_Family = JTAG_FAMILY_IR5;
    uint32_t m_Length = 1;
    uint8_t* m_Shift = nullptr;    // to drive at the next DR scan; after it, what the register captured
    uint8_t* m_Mask = nullptr;     // 1 = drive the m_Shift bit, 0 = drive back the captured bit
    uint8_t* m_Capture = nullptr;  // receives the captured bits during a DR scan
    uint8_t* m_Image = nullptr;    // the device's own copy of the selected register, or null
    CJtagStream* m_Next = nullptr;
    uint16_t m_DiffCount = 0;
    uint32_t m_BufferBytes = 0;    // size of each of m_Shift, m_Mask and m_Capture
};
