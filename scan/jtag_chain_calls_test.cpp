// What the chain operations hand to a recording stand-in for usbwire: the protocol's sequences, the
// classes the FPGAs lack, and what the simulator cannot produce.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "jtag_chain.h"
#include "proasic3.h"
#include "usbwire_spy.h"

using qbxtest::UsbwireSpy;
using testing::ElementsAre;

namespace {

// A device of any class with buffers of 8 bytes.
class TestDevice : public CJtagStream {
public:
    TestDevice(int32_t family, uint32_t length, uint32_t instruction = 0)
    {
        m_Family = family;
        m_Length = length;
        m_Instruction = instruction;
        m_Shift = shift.data();
        m_Mask = mask.data();
        m_Capture = capture.data();
        m_BufferBytes = static_cast<uint32_t>(shift.size());
    }
    std::array<uint8_t, 8> shift{};
    std::array<uint8_t, 8> mask{};
    std::array<uint8_t, 8> capture{};
};

// Links the devices into a list in the order given.
_JTAGCHAIN Chain(std::vector<CJtagStream*> devices, void** handle, int32_t address = 1)
{
    for (size_t i = 0; i < devices.size(); ++i)
        devices[i]->m_Next = i + 1 < devices.size() ? devices[i + 1] : nullptr;
    return {devices.front(), handle, address};
}

}  // namespace

TEST(ChainCalls, WithoutAChannelNothingReachesTheAdapter)
{
    UsbwireSpy spy;
    CProAsic3 a, b;
    void* handle = nullptr;
    _JTAGCHAIN chain = Chain({&a, &b}, &handle);
    for (int variable = 0; variable < 2; ++variable) {
        std::vector<uint32_t> ids = {1, 2, 3};
        EXPECT_FALSE(ScanIR(chain));
        EXPECT_FALSE(ScanDR(chain));
        ReadIdCodes(ids, chain);
        EXPECT_TRUE(ids.empty());
        chain.handle = nullptr;  // then no handle variable at all
    }
    EXPECT_THAT(spy.calls, ElementsAre());
}

TEST(ChainCalls, ScansShiftEveryClassAsTheProtocolFixes)
{
    UsbwireSpy spy;
    void* handle = spy.Handle();
    TestDevice five(JTAG_FAMILY_IR5, 12, 0x1F3);  // only the instruction's low byte is shifted
    TestDevice four(JTAG_FAMILY_IR4, 16, 0x0A);   // data in the big-endian layout: mode 1
    CProAsic3 bypass;                             // a new device: BYPASS, 0xFF and one bit
    five.shift = {0xF0, 0x0F};
    five.mask = {0xFF, 0x00};
    four.shift = {0x12, 0x34};
    four.mask = {0x0F, 0xF0};
    const std::vector<std::vector<uint8_t>> captured = {{0x11, 0x02}, {0xAB, 0xCD}, {0x01}};
    size_t next = 0;
    spy.jtagOut = [&](unsigned, const uint8_t*, uint8_t* destination) {
        if (destination != nullptr)
            std::copy(captured[next].begin(), captured[next].end(), destination), ++next;
        return 1;
    };
    const _JTAGCHAIN chain = Chain({&five, &four, &bypass}, &handle, 0x1203);
    EXPECT_TRUE(ScanIR(chain));
    EXPECT_TRUE(ScanDR(chain));
    EXPECT_THAT(spy.calls,
                ElementsAre("JTAG_Addr 3", "JTAG_Tms 6 5",  // the address's low byte; Idle -> Shift-IR
                            "JTAG_Out 0 5 0 : F3", "JTAG_Out 0 4 0 : 0A", "JTAG_Out 0 8 1 : FF",  // LSB first
                            "JTAG_Tms 1 2",                 // Update-IR -> Idle
                            "JTAG_Addr 3", "JTAG_Tms 2 4",  // Idle -> Shift-DR
                            "JTAG_Out 0 12 0", "JTAG_Out 1 16 0", "JTAG_Out 0 1 0",  // capture: zeros in
                            // update: masked bits from m_Shift, the others driven back as captured
                            "JTAG_Out 0 12 0 : F0 02", "JTAG_Out 1 16 0 : A2 3D", "JTAG_Out 0 1 1 : 01",
                            "JTAG_Tms 1 2"));  // Update-DR -> Idle
    EXPECT_EQ(next, 3u) << "the capture pass, and only it, reads the chain";
    // Afterwards m_Shift holds what each register captured.
    EXPECT_EQ(five.shift, (std::array<uint8_t, 8>{0x11, 0x02}));
    EXPECT_EQ(four.shift, (std::array<uint8_t, 8>{0xAB, 0xCD}));
}

TEST(ChainCalls, AnUnknownClassOrARegisterBeyondTheBuffersResetsTheTaps)
{
    UsbwireSpy spy;
    void* handle = spy.Handle();
    CProAsic3 good;
    TestDevice bad(9, 8, 0x55);
    good.SelectRegister(PA3_REG_IDCODE, false);
    good.m_Shift[0] = 0x77;
    good.m_Mask[0] = 0xFF;
    const _JTAGCHAIN chain = Chain({&good, &bad}, &handle);
    EXPECT_FALSE(ScanIR(chain));
    EXPECT_FALSE(ScanDR(chain));
    EXPECT_THAT(spy.calls, ElementsAre("JTAG_Addr 1", "JTAG_Tms 6 5", "JTAG_Out 0 8 0 : 0F",  //
                                         "JTAG_Addr 1", "JTAG_Tms 255 5",  // reset, no Update-IR
                                         "JTAG_Addr 1", "JTAG_Tms 2 4", "JTAG_Out 0 32 0",  //
                                         "JTAG_Addr 1", "JTAG_Tms 255 5"));  // reset, no update pass
    EXPECT_EQ(good.m_Shift[0], 0x77);

    spy.calls.clear();
    TestDevice tooLong(JTAG_FAMILY_IR8, 65);
    EXPECT_FALSE(ScanDR(Chain({&tooLong}, &handle)));
    EXPECT_THAT(spy.calls, ElementsAre("JTAG_Addr 1", "JTAG_Tms 2 4", "JTAG_Addr 1", "JTAG_Tms 255 5"));
}

TEST(ChainCalls, TheFirstFailedTransferEndsTheScanWithATapReset)
{
    UsbwireSpy spy;
    void* handle = spy.Handle();
    CProAsic3 a, b, c;
    const _JTAGCHAIN chain = Chain({&a, &b, &c}, &handle);
    int outs = 0;
    spy.jtagOut = [&](unsigned, const uint8_t*, uint8_t*) { return ++outs == 2 ? 0 : 1; };
    EXPECT_FALSE(ScanIR(chain));
    EXPECT_THAT(spy.calls, ElementsAre("JTAG_Addr 1", "JTAG_Tms 6 5", "JTAG_Out 0 8 0 : FF", "JTAG_Out 0 8 0 : FF",
                                         "JTAG_Addr 1", "JTAG_Tms 255 5"));
    spy.calls.clear();
    spy.jtagOut = [](unsigned, const uint8_t* source, uint8_t*) { return source == nullptr ? 1 : 0; };
    EXPECT_FALSE(ScanDR(chain));  // three captures, then the first update shift fails
    EXPECT_THAT(spy.calls, ElementsAre("JTAG_Addr 1", "JTAG_Tms 2 4", "JTAG_Out 0 1 0", "JTAG_Out 0 1 0",
                                         "JTAG_Out 0 1 0", "JTAG_Out 0 1 0 : 00", "JTAG_Addr 1", "JTAG_Tms 255 5"));
}

TEST(ChainCalls, CodesAreReadAfterAResetUntilZeroOrAllOnesAtMost32)
{
    struct Case {
        std::vector<uint32_t> answers;  // the last one repeats
        std::vector<uint32_t> ids;
    };
    for (const Case& c : {Case{{0x3E74E1CF, 0x0123ABCD, 0}, {0x3E74E1CF, 0x0123ABCD}},
                          Case{{0xFFFFFFFF, 0x3E74E1CF}, {}},  // TDO stuck high
                          Case{{0x3E74E1CF}, std::vector<uint32_t>(kMaxIdCodes, 0x3E74E1CF)}}) {
        UsbwireSpy spy;
        void* handle = spy.Handle();
        CProAsic3 device;
        size_t next = 0;
        spy.jtagOut = [&](unsigned, const uint8_t*, uint8_t* destination) {
            const uint32_t code = c.answers[std::min(next++, c.answers.size() - 1)];
            for (int i = 0; i < 4; ++i)
                destination[i] = static_cast<uint8_t>(code >> (8 * i));
            return 1;
        };
        std::vector<uint32_t> ids = {7};
        ReadIdCodes(ids, Chain({&device}, &handle));
        EXPECT_EQ(ids, c.ids);
        std::vector<std::string> expected = {"JTAG_Addr 1", "JTAG_Tms 255 5", "JTAG_Tms 2 4"};  // reset, Shift-DR
        expected.insert(expected.end(), std::min(c.ids.size() + 1, kMaxIdCodes), "JTAG_Out 0 32 0");
        expected.push_back("JTAG_Tms 255 5");
        EXPECT_EQ(spy.calls, expected);
    }
}
