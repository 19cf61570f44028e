// The buffer work of a chain device: comparison with the image, the merge of captured bits, the
// base's register selection.
#include <gtest/gtest.h>

#include <array>

#include "jtag_stream.h"

namespace {

// A device with small buffers of its own, to exercise the base class.
class SmallDevice : public CJtagStream {
public:
    explicit SmallDevice(int32_t family = JTAG_FAMILY_IR5, uint32_t length = 12)
    {
        m_Family = family;
        m_Length = length;
        m_Shift = shift.data();
        m_Mask = mask.data();
        m_Capture = capture.data();
        m_Image = image.data();
        m_BufferBytes = static_cast<uint32_t>(shift.size());
    }
    std::array<uint8_t, 4> shift{};
    std::array<uint8_t, 4> mask{};
    std::array<uint8_t, 4> capture{};
    std::array<uint8_t, 4> image{};
};

}  // namespace

TEST(CompareImage, ATwelveBitRegisterCountsOnlyItsOwnBitsOfTheLastByte)
{
    SmallDevice device(JTAG_FAMILY_IR5, 12);
    device.image = {0x00, 0x00, 0xFF, 0xFF};
    device.shift = {0x00, 0xF0, 0x00, 0x00};  // bits 12..15 are beyond the register
    EXPECT_FALSE(device.CompareImage());
    EXPECT_EQ(device.m_DiffCount, 0);
    EXPECT_EQ(device.mask[1], 0x00);
    EXPECT_EQ(device.mask[2], 0x00) << "bytes beyond the register are not compared";

    device.shift = {0x81, 0xF9, 0x00, 0x00};
    EXPECT_TRUE(device.CompareImage());
    EXPECT_EQ(device.mask[0], 0x81);
    EXPECT_EQ(device.mask[1], 0x09);
    EXPECT_EQ(device.m_DiffCount, 4);

    // The same for the 8-bit instruction class; the big-endian class keeps the high bits instead.
    SmallDevice ir8(JTAG_FAMILY_IR8, 12);
    ir8.shift = {0x00, 0xF0, 0, 0};
    EXPECT_FALSE(ir8.CompareImage());
    SmallDevice ir4(JTAG_FAMILY_IR4, 12);
    ir4.shift = {0x00, 0x0F, 0, 0};
    EXPECT_FALSE(ir4.CompareImage());
    ir4.shift = {0x00, 0x30, 0, 0};
    EXPECT_TRUE(ir4.CompareImage());
    EXPECT_EQ(ir4.mask[1], 0x30);
    EXPECT_EQ(ir4.m_DiffCount, 2);
}

TEST(CompareImage, WithoutImageFalseAndWithUnknownFamilyTrue)
{
    SmallDevice device;
    device.shift = {0xFF, 0xFF, 0, 0};
    device.m_DiffCount = 7;
    device.m_Image = nullptr;
    EXPECT_FALSE(device.CompareImage());
    EXPECT_EQ(device.m_DiffCount, 0);

    SmallDevice unknown(7, 12);  // same bytes, unknown class
    EXPECT_TRUE(unknown.CompareImage());

    SmallDevice tooLong(JTAG_FAMILY_IR5, 33);  // does not fit the 4-byte buffers
    EXPECT_TRUE(tooLong.CompareImage());
    EXPECT_EQ(tooLong.m_DiffCount, 0);
}

TEST(MergeCapture, MaskedBitsKeepTheImageOthersTakeTheCapture)
{
    SmallDevice device(JTAG_FAMILY_IR5, 16);
    device.image = {0xAA, 0xAA, 0x77, 0x77};
    device.mask = {0xF0, 0x0F, 0x00, 0x00};
    device.shift = {0x55, 0x55, 0x11, 0x11};
    device.MergeCapture();
    EXPECT_EQ(device.image, (std::array<uint8_t, 4>{0xA5, 0x5A, 0x77, 0x77}));

    device.m_Image = nullptr;  // nothing kept: nothing to merge, nothing touched
    device.MergeCapture();
    EXPECT_EQ(device.image, (std::array<uint8_t, 4>{0xA5, 0x5A, 0x77, 0x77}));
}

TEST(LoadImage, CopiesTheRegistersBytesOfTheShiftBuffer)
{
    SmallDevice device(JTAG_FAMILY_IR5, 9);
    device.shift = {1, 2, 3, 4};
    device.LoadImage();
    EXPECT_EQ(device.image, (std::array<uint8_t, 4>{1, 2, 0, 0}));
}

TEST(BaseDevice, SelectsBypassWhateverTheTypeAndKnowsNoRegister)
{
    SmallDevice device(JTAG_FAMILY_IR8, 12);
    device.shift[0] = 0xFF;
    device.mask[0] = 0xFF;
    device.SelectRegister(0, true);
    EXPECT_EQ(device.m_Instruction, 0x0Fu);
    EXPECT_EQ(device.m_Length, 1u);
    EXPECT_EQ(device.shift[0], 0);
    EXPECT_EQ(device.mask[0], 0);
    EXPECT_EQ(device.m_Image, nullptr);

    _REGINFO info;
    info.family = 5;
    info.length = 77;
    info.flag = 3;
    info.buffer = device.image.data();
    device.GetRegInfo(1, info);
    EXPECT_EQ(info.family, -1);
    EXPECT_EQ(info.length, 0u);
    EXPECT_EQ(info.flag, 0);
    EXPECT_EQ(info.buffer, nullptr);
}

TEST(BaseDevice, OnlyAKnownFamilyWithARegisterThatFitsCanBeScanned)
{
    EXPECT_EQ(SmallDevice(JTAG_FAMILY_IR5).IrLength(), 5);
    EXPECT_EQ(SmallDevice(JTAG_FAMILY_IR4).IrLength(), 4);
    EXPECT_EQ(SmallDevice(JTAG_FAMILY_IR8).IrLength(), 8);
    EXPECT_EQ(SmallDevice(3).IrLength(), 0);
    EXPECT_EQ(SmallDevice(-1).IrLength(), 0);

    EXPECT_TRUE(SmallDevice(JTAG_FAMILY_IR8, 32).IsScannable());
    EXPECT_FALSE(SmallDevice(JTAG_FAMILY_IR8, 33).IsScannable());
    EXPECT_FALSE(SmallDevice(JTAG_FAMILY_IR8, 0).IsScannable());
    EXPECT_FALSE(SmallDevice(3, 8).IsScannable());
    SmallDevice noBuffers;
    noBuffers.m_Capture = nullptr;
    EXPECT_FALSE(noBuffers.IsScannable());
}
