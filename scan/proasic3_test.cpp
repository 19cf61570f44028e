// The register selections of the ProASIC3 model. (A new device is in BYPASS: see the chain tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "proasic3.h"
#include "qbx_board.h"

namespace {

std::vector<uint8_t> Bytes(const uint8_t* data, size_t count = CProAsic3::kBsrBytes)
{
    return std::vector<uint8_t>(data, data + count);
}

// What the chain operations see of a selection.
struct Selection {
    uint32_t instruction;
    uint32_t length;
    const uint8_t* image;
    uint8_t shift0;
    uint8_t mask0;
    friend bool operator==(const Selection&, const Selection&) = default;
};

Selection Selected(const CProAsic3& device)
{
    return {device.m_Instruction, device.m_Length, device.m_Image, device.m_Shift[0], device.m_Mask[0]};
}

}  // namespace

TEST(ProAsic3, TheBoundaryRegisterIsDrivenFromTheImageWhereTheSelectionSays)
{
    CProAsic3 device;
    for (size_t i = 0; i < 303; ++i) {
        device.m_Bsr[i] = static_cast<uint8_t>(3 + 37 * i);
        device.m_Bsdl.driveMask.push_back(static_cast<uint8_t>(0x6D ^ i));
    }
    const std::vector<uint8_t> image = Bytes(device.m_Bsr.data()), drive = device.m_Bsdl.driveMask;
    const std::vector<uint8_t> ones(303, 0xFF), zeros(303, 0);
    struct Case {
        int type;
        bool preload;
        uint32_t instruction;
        std::vector<uint8_t> shift, mask;
    };
    for (const Case& c : {Case{PA3_REG_EXTEST, true, 0x00, image, ones}, Case{PA3_REG_EXTEST, false, 0x00, image, drive},
                          Case{PA3_REG_SAMPLE_PRELOAD, true, 0x01, image, ones},
                          Case{PA3_REG_SAMPLE_PRELOAD, false, 0x01, zeros, zeros}}) {
        std::fill_n(device.m_Shift, 303, 0xEE);
        std::fill_n(device.m_Mask, 303, 0xEE);
        device.SelectRegister(c.type, c.preload);
        EXPECT_EQ(device.m_Instruction, c.instruction) << c.type << c.preload;
        EXPECT_EQ(device.m_Length, 2424u);
        EXPECT_EQ(device.m_Image, device.m_Bsr.data());
        EXPECT_EQ(Bytes(device.m_Shift), c.shift) << c.type << c.preload;
        EXPECT_EQ(Bytes(device.m_Mask), c.mask) << c.type << c.preload;
    }

    // A drive mask of all ones is EXTEST with preload; one shorter than the register (the BSDL of a
    // smaller device) drives nothing beyond its end.
    device.m_Bsdl.driveMask.assign(303, 0xFF);
    device.SelectRegister(PA3_REG_EXTEST, false);
    EXPECT_EQ(Bytes(device.m_Mask), ones);
    device.m_Bsdl.driveMask.assign(2, 0xFF);
    device.SelectRegister(PA3_REG_EXTEST, false);
    std::vector<uint8_t> expected(303, 0);
    expected[0] = expected[1] = 0xFF;
    EXPECT_EQ(Bytes(device.m_Mask), expected);

    // Over the whole register, the comparison sees cell 0 and cell 2423.
    device.SelectRegister(PA3_REG_EXTEST, true);
    EXPECT_FALSE(device.CompareImage());
    device.m_Shift[302] ^= 0x80;
    device.m_Shift[0] ^= 0x01;
    EXPECT_TRUE(device.CompareImage());
    EXPECT_EQ(device.m_DiffCount, 2);
}

TEST(ProAsic3, IdcodeSelectsTheIdentificationWordAndEveryOtherTypeBypass)
{
    CProAsic3 device;
    std::fill_n(device.m_Shift, 303, 0xEE);
    std::fill_n(device.m_Mask, 303, 0xEE);
    device.SelectRegister(PA3_REG_IDCODE, false);
    EXPECT_EQ(Selected(device), (Selection{0x0F, 32, reinterpret_cast<uint8_t*>(&device.m_IdCode), 0, 0}));
    EXPECT_EQ(Bytes(device.m_Shift, 5), (std::vector<uint8_t>{0, 0, 0, 0, 0xEE}));
    EXPECT_EQ(Bytes(device.m_Mask, 5), (std::vector<uint8_t>{0, 0, 0, 0, 0xEE}));
    // After a scan m_Shift holds the capture; with mask 0 the merge takes all 32 bits.
    const uint8_t captured[4] = {0xCF, 0xE1, 0x74, 0x3E};
    std::copy_n(captured, 4, device.m_Shift);
    device.MergeCapture();
    EXPECT_EQ(device.m_IdCode, kQbxBoard.fpgaIdCode);

    for (int type : {3, 14, 15, 16, -1}) {
        for (bool preload : {false, true}) {
            device.SelectRegister(PA3_REG_EXTEST, true);  // leave another selection behind
            device.SelectRegister(type, preload);
            EXPECT_EQ(Selected(device), (Selection{0xFF, 1, nullptr, 0, 0})) << "type " << type;
        }
    }
}

TEST(ProAsic3, RegisterInfoKnowsIdcodeAndBypass)
{
    CProAsic3 device;
    _REGINFO info{0, 99, 9, device.m_Bsr.data()};
    device.GetRegInfo(0, info);  // not known: length and buffer stay
    EXPECT_EQ(std::tuple(info.family, info.flag, info.length, info.buffer), std::tuple(2, 0, 99u, device.m_Bsr.data()));
    device.GetRegInfo(1, info);
    EXPECT_EQ(std::pair(info.length, info.buffer), std::pair(32u, reinterpret_cast<uint8_t*>(&device.m_IdCode)));
    device.GetRegInfo(15, info);
    EXPECT_EQ(std::pair(info.length, info.buffer), std::pair(1u, static_cast<uint8_t*>(nullptr)));
}
