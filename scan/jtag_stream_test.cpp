// The buffer work of a chain device: the comparison with its image, the merge of captured bits, and
// what the base class selects and describes.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <tuple>

#include "jtag_stream.h"

namespace {

using Bytes = std::array<uint8_t, 4>;

// A device with small buffers of its own, to exercise the base class.
class SmallDevice : public CJtagStream {
public:
    SmallDevice(int32_t family, uint32_t length)
    {
        m_Family = family;
        m_Length = length;
        m_Shift = shift.data();
        m_Mask = mask.data();
        m_Capture = capture.data();
        m_Image = image.data();
        m_BufferBytes = static_cast<uint32_t>(shift.size());
    }
    Bytes shift{}, mask{}, capture{}, image{};
};

}  // namespace

TEST(CompareImage, CountsOnlyTheRegistersOwnBits)
{
    struct Case {
        int32_t family;
        uint32_t length;
        Bytes shift;
        bool differs;
        Bytes mask;
    };
    // The image holds ones in bytes 2 and 3, beyond every register here but the last.
    for (const Case& c : {
             Case{JTAG_FAMILY_IR5, 12, {0x00, 0xF0, 0, 0}, false, {}},  // bits 12..15 are not the register's
             Case{JTAG_FAMILY_IR5, 12, {0x81, 0xF9, 0, 0}, true, {0x81, 0x09, 0, 0}},
             Case{JTAG_FAMILY_IR8, 12, {0x00, 0xF0, 0, 0}, false, {}},
             Case{JTAG_FAMILY_IR4, 12, {0x00, 0x0F, 0, 0}, false, {}},  // big-endian: the high bits hold it
             Case{JTAG_FAMILY_IR4, 12, {0x00, 0x30, 0, 0}, true, {0x00, 0x30, 0, 0}},
             Case{JTAG_FAMILY_IR5, 32, {0, 0, 0xFF, 0x7F}, true, {0, 0, 0, 0x80}},
             Case{7, 12, {0x00, 0x00, 0, 0}, true, {}},  // an unknown class always differs
         }) {
        SmallDevice device(c.family, c.length);
        device.image = {0x00, 0x00, 0xFF, 0xFF};
        device.shift = c.shift;
        EXPECT_EQ(device.CompareImage(), c.differs) << c.family << " " << c.length;
        EXPECT_EQ(device.mask, c.mask) << c.family << " " << c.length;
        int bits = 0;
        for (uint8_t byte : c.mask)
            bits += std::popcount(byte);
        EXPECT_EQ(device.m_DiffCount, bits);
    }

    SmallDevice tooLong(JTAG_FAMILY_IR5, 33);  // does not fit the buffers: nothing sound to compare
    EXPECT_TRUE(tooLong.CompareImage());
    SmallDevice noImage(JTAG_FAMILY_IR5, 12);
    noImage.shift = {0xFF, 0xFF, 0, 0};
    noImage.m_DiffCount = 7;
    noImage.m_Image = nullptr;
    EXPECT_FALSE(noImage.CompareImage());
    EXPECT_EQ(noImage.m_DiffCount, 0);
}

TEST(MergeCapture, MaskedBitsKeepTheImageOthersTakeTheCapture)
{
    SmallDevice device(JTAG_FAMILY_IR5, 16);
    device.image = {0xAA, 0xAA, 0x77, 0x77};
    device.mask = {0xF0, 0x0F, 0x00, 0x00};
    device.shift = {0x55, 0x55, 0x11, 0x11};
    device.MergeCapture();
    EXPECT_EQ(device.image, (Bytes{0xA5, 0x5A, 0x77, 0x77}));

    device.m_Image = nullptr;  // nothing kept: nothing merged
    device.MergeCapture();
    EXPECT_EQ(device.image, (Bytes{0xA5, 0x5A, 0x77, 0x77}));
}

TEST(BaseDevice, LoadsItsImageSelectsBypassWhateverTheTypeAndKnowsNoRegister)
{
    SmallDevice device(JTAG_FAMILY_IR8, 9);
    device.shift = {1, 2, 3, 4};
    device.LoadImage();
    EXPECT_EQ(device.image, (Bytes{1, 2, 0, 0}));

    device.mask[0] = 0xFF;
    device.SelectRegister(0, true);
    EXPECT_EQ(std::tuple(device.m_Instruction, device.m_Length, device.shift[0], device.mask[0], device.m_Image),
              std::tuple(0x0Fu, 1u, uint8_t{0}, uint8_t{0}, static_cast<uint8_t*>(nullptr)));

    _REGINFO info{5, 77, 3, device.image.data()};
    device.GetRegInfo(1, info);
    EXPECT_EQ(std::tuple(info.family, info.length, info.flag, info.buffer), std::tuple(-1, 0u, 0, static_cast<uint8_t*>(nullptr)));
}
