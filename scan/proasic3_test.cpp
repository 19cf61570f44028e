// The register selections of the ProASIC3 model and what a scan cycle makes of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "proasic3.h"

namespace {

std::vector<uint8_t> Bytes(const uint8_t* data, size_t count)
{
    return std::vector<uint8_t>(data, data + count);
}

void FillPattern(std::array<uint8_t, 303>& bytes, uint8_t seed)
{
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(seed + 37 * i);
}

// What SelectBypass leaves, to compare other selections with.
struct SelectionState {
    uint32_t instruction;
    uint32_t length;
    const uint8_t* image;
    uint8_t shift0;
    uint8_t mask0;
    friend bool operator==(const SelectionState&, const SelectionState&) = default;
};

SelectionState StateOf(const CProAsic3& device)
{
    return {device.m_Instruction, device.m_Length, device.m_Image, device.m_Shift[0], device.m_Mask[0]};
}

}  // namespace

TEST(ProAsic3, ANewDeviceIsInBypassWithEverythingZeroed)
{
    CProAsic3 device;
    EXPECT_EQ(device.m_Family, JTAG_FAMILY_IR8);
    EXPECT_EQ(device.m_Instruction, 0xFFu);
    EXPECT_EQ(device.m_Length, 1u);
    EXPECT_EQ(device.IrLength(), 8);
    EXPECT_EQ(device.m_Image, nullptr);
    EXPECT_EQ(device.m_Next, nullptr);
    EXPECT_EQ(device.m_DiffCount, 0);
    EXPECT_EQ(device.m_IdCode, 0u);
    EXPECT_TRUE(device.m_Vectors.empty());
    EXPECT_TRUE(device.m_Bsdl.pins.empty());
    const std::vector<uint8_t> zeros(303, 0);
    EXPECT_EQ(Bytes(device.m_Shift, 303), zeros);
    EXPECT_EQ(Bytes(device.m_Mask, 303), zeros);
    EXPECT_EQ(Bytes(device.m_Capture, 303), zeros);
    EXPECT_EQ(Bytes(device.m_Bsr.data(), 303), zeros);
    EXPECT_EQ(Bytes(device.m_CellsUsed.data(), 303), zeros);
    EXPECT_TRUE(device.IsScannable());
}

TEST(ProAsic3, ExtestDrivesEveryCellWithPreloadAndTheDriveMaskWithout)
{
    CProAsic3 device;
    FillPattern(device.m_Bsr, 3);
    device.m_Bsdl.driveMask.assign(303, 0);
    for (size_t i = 0; i < 303; ++i)
        device.m_Bsdl.driveMask[i] = static_cast<uint8_t>(0x6D ^ i);

    device.SelectRegister(PA3_REG_EXTEST, true);
    EXPECT_EQ(device.m_Instruction, 0x00u);
    EXPECT_EQ(device.m_Length, 2424u);
    EXPECT_EQ(device.m_Image, device.m_Bsr.data());
    EXPECT_EQ(Bytes(device.m_Shift, 303), Bytes(device.m_Bsr.data(), 303));
    EXPECT_EQ(Bytes(device.m_Mask, 303), std::vector<uint8_t>(303, 0xFF));

    device.SelectRegister(PA3_REG_EXTEST, false);
    EXPECT_EQ(Bytes(device.m_Shift, 303), Bytes(device.m_Bsr.data(), 303));
    EXPECT_EQ(Bytes(device.m_Mask, 303), device.m_Bsdl.driveMask);

    // A drive mask of all ones is EXTEST with preload.
    device.m_Bsdl.driveMask.assign(303, 0xFF);
    device.SelectRegister(PA3_REG_EXTEST, false);
    EXPECT_EQ(Bytes(device.m_Mask, 303), std::vector<uint8_t>(303, 0xFF));
}

TEST(ProAsic3, ExtestWithAShortDriveMaskDrivesNothingBeyondIt)
{
    CProAsic3 device;
    device.m_Bsdl.driveMask.assign(2, 0xFF);  // the BSDL of a 16-cell device
    device.SelectRegister(PA3_REG_EXTEST, true);  // mask all ones first
    device.SelectRegister(PA3_REG_EXTEST, false);
    std::vector<uint8_t> expected(303, 0);
    expected[0] = expected[1] = 0xFF;
    EXPECT_EQ(Bytes(device.m_Mask, 303), expected);

    device.m_Bsdl.driveMask.clear();  // no BSDL read at all
    device.SelectRegister(PA3_REG_EXTEST, false);
    EXPECT_EQ(Bytes(device.m_Mask, 303), std::vector<uint8_t>(303, 0));
}

TEST(ProAsic3, SamplePreloadLoadsTheImageOrSamplesOnly)
{
    CProAsic3 device;
    FillPattern(device.m_Bsr, 9);
    device.SelectRegister(PA3_REG_SAMPLE_PRELOAD, true);
    EXPECT_EQ(device.m_Instruction, 0x01u);
    EXPECT_EQ(device.m_Length, 2424u);
    EXPECT_EQ(device.m_Image, device.m_Bsr.data());
    EXPECT_EQ(Bytes(device.m_Shift, 303), Bytes(device.m_Bsr.data(), 303));
    EXPECT_EQ(Bytes(device.m_Mask, 303), std::vector<uint8_t>(303, 0xFF));

    device.SelectRegister(PA3_REG_SAMPLE_PRELOAD, false);
    EXPECT_EQ(Bytes(device.m_Shift, 303), std::vector<uint8_t>(303, 0));
    EXPECT_EQ(Bytes(device.m_Mask, 303), std::vector<uint8_t>(303, 0));
}

TEST(ProAsic3, IdcodeSelectsTheIdentificationWord)
{
    CProAsic3 device;
    std::fill_n(device.m_Shift, 303, 0xEE);
    std::fill_n(device.m_Mask, 303, 0xEE);
    device.SelectRegister(PA3_REG_IDCODE, false);
    EXPECT_EQ(device.m_Instruction, 0x0Fu);
    EXPECT_EQ(device.m_Length, 32u);
    EXPECT_EQ(device.m_Image, reinterpret_cast<uint8_t*>(&device.m_IdCode));
    EXPECT_EQ(Bytes(device.m_Shift, 5), (std::vector<uint8_t>{0, 0, 0, 0, 0xEE}));
    EXPECT_EQ(Bytes(device.m_Mask, 5), (std::vector<uint8_t>{0, 0, 0, 0, 0xEE}));

    // After the scan m_Shift holds the capture; the merge (mask 0) takes all 32 bits.
    const uint8_t captured[4] = {0xCF, 0xE1, 0x74, 0x3E};
    std::copy_n(captured, 4, device.m_Shift);
    device.MergeCapture();
    EXPECT_EQ(device.m_IdCode, CProAsic3::kIdCode);
}

TEST(ProAsic3, EveryOtherTypeIsExactlyBypass)
{
    CProAsic3 reference;
    reference.SelectRegister(PA3_REG_EXTEST, true);
    reference.SelectBypass();
    const SelectionState bypass = StateOf(reference);
    EXPECT_EQ(bypass.instruction, 0xFFu);
    EXPECT_EQ(bypass.length, 1u);
    EXPECT_EQ(bypass.image, nullptr);
    EXPECT_EQ(bypass.shift0, 0);
    EXPECT_EQ(bypass.mask0, 0);

    for (int type : {3, 14, 15, 16, -1, 1000}) {
        for (bool preload : {false, true}) {
            CProAsic3 device;
            FillPattern(device.m_Bsr, 1);
            device.SelectRegister(PA3_REG_EXTEST, true);  // leave a non-bypass state behind
            device.SelectRegister(type, preload);
            EXPECT_EQ(StateOf(device), bypass) << "type " << type;
        }
    }
}

TEST(ProAsic3, RegisterInfoKnowsIdcodeAndBypass)
{
    CProAsic3 device;
    _REGINFO info;
    info.flag = 9;
    device.GetRegInfo(1, info);
    EXPECT_EQ(info.family, 2);
    EXPECT_EQ(info.flag, 0);
    EXPECT_EQ(info.length, 32u);
    EXPECT_EQ(info.buffer, reinterpret_cast<uint8_t*>(&device.m_IdCode));

    device.GetRegInfo(15, info);
    EXPECT_EQ(info.length, 1u);
    EXPECT_EQ(info.buffer, nullptr);

    info.length = 99;
    info.buffer = device.m_Bsr.data();
    device.GetRegInfo(0, info);  // not known: length and buffer stay
    EXPECT_EQ(info.family, 2);
    EXPECT_EQ(info.length, 99u);
    EXPECT_EQ(info.buffer, device.m_Bsr.data());
}

TEST(ProAsic3, CompareImageOverTheBoundaryRegisterUsesAll303Bytes)
{
    CProAsic3 device;
    FillPattern(device.m_Bsr, 5);
    device.SelectRegister(PA3_REG_EXTEST, true);
    EXPECT_FALSE(device.CompareImage());
    EXPECT_EQ(device.m_DiffCount, 0);

    device.m_Shift[302] ^= 0x80;  // cell 2423, the last of the register
    device.m_Shift[0] ^= 0x01;    // cell 0
    EXPECT_TRUE(device.CompareImage());
    EXPECT_EQ(device.m_DiffCount, 2);
    EXPECT_EQ(device.m_Mask[302], 0x80);
    EXPECT_EQ(device.m_Mask[0], 0x01);
}

TEST(ProAsic3, AnExtestCycleKeepsDrivenCellsAndTakesCapturedOnes)
{
    CProAsic3 device;
    device.m_Bsdl.driveMask.assign(303, 0);
    device.m_Bsdl.driveMask[10] = 0x0F;  // cells 80..83 driven
    device.m_Bsr[10] = 0x05;
    device.m_Bsr[11] = 0x00;
    device.SelectRegister(PA3_REG_EXTEST, false);
    // What a scan leaves in m_Shift: the captured register (pins read 0xA0 at byte 10, 0xFF at 11).
    std::copy_n(device.m_Bsr.begin(), 303, device.m_Shift);
    device.m_Shift[10] = 0xA0;
    device.m_Shift[11] = 0xFF;
    device.MergeCapture();
    device.SelectBypass();
    EXPECT_EQ(device.m_Bsr[10], 0xA5);
    EXPECT_EQ(device.m_Bsr[11], 0xFF);
    EXPECT_EQ(device.m_Image, nullptr);
}
