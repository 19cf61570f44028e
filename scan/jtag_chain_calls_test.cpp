// The adapter calls of the chain operations, checked one by one against a recording stand-in for
// the usbwire functions: TMS patterns, shift lengths, modes and exit flags, the two-pass data scan,
// the identification read and its bound, the opening and closing of the channel.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <cstring>
#include <string>
#include <vector>

#include "jtag_chain.h"
#include "proasic3.h"
#include "usbwire_spy.h"

using qbxtest::UsbwireCall;
using qbxtest::UsbwireSpy;
using testing::ElementsAre;

namespace {

// A device with a register of its own length and class.
class TestDevice : public CJtagStream {
public:
    TestDevice(int32_t family, uint32_t length, uint32_t instruction)
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
    for (size_t i = 0; i + 1 < devices.size(); ++i)
        devices[i]->m_Next = devices[i + 1];
    devices.back()->m_Next = nullptr;
    return {devices.front(), handle, address};
}

std::vector<const UsbwireCall*> Outs(const UsbwireSpy& spy)
{
    std::vector<const UsbwireCall*> outs;
    for (const UsbwireCall& call : spy.calls)
        if (call.function == "JTAG_Out")
            outs.push_back(&call);
    return outs;
}

// Answers every JTAG_Out that has a destination with the next of the given 32-bit codes (then 0).
void AnswerCodes(UsbwireSpy& spy, std::vector<uint32_t> codes, bool repeatLast = false)
{
    auto next = std::make_shared<size_t>(0);
    spy.jtagOut = [codes, next, repeatLast](int, unsigned count, const uint8_t*, uint8_t* destination, int) {
        if (destination == nullptr)
            return 1;
        uint32_t code = 0;
        if (*next < codes.size())
            code = codes[(*next)++];
        else if (repeatLast && !codes.empty())
            code = codes.back();
        std::memset(destination, 0, (count - 1) / 8 + 1);
        for (unsigned i = 0; i < 4 && i < (count + 7) / 8; ++i)
            destination[i] = static_cast<uint8_t>(code >> (8 * i));
        return 1;
    };
}

}  // namespace

TEST(ChainCalls, WithoutAChannelNothingReachesTheAdapter)
{
    UsbwireSpy spy;
    CProAsic3 a, b;
    void* handle = nullptr;
    _JTAGCHAIN chain = Chain({&a, &b}, &handle);
    a.SelectRegister(PA3_REG_IDCODE, false);
    a.m_Shift[0] = 0x5A;
    std::vector<uint32_t> ids = {1, 2, 3};

    ScanIR(chain);
    ScanDR(chain);
    ReadIdCodes(ids, chain);
    EXPECT_TRUE(ids.empty());
    EXPECT_EQ(a.m_Shift[0], 0x5A) << "no scan happened, so nothing was captured";

    chain.handle = nullptr;  // no handle variable at all
    ScanIR(chain);
    ScanDR(chain);
    ReadIdCodes(ids, chain);
    EXPECT_TRUE(spy.calls.empty()) << spy.calls.front().Text();
}

TEST(ChainCalls, TheHandleIsReadFromTheUsersVariableAtEveryOperation)
{
    UsbwireSpy spy;
    CProAsic3 a;
    void* handle = nullptr;
    const _JTAGCHAIN chain = Chain({&a}, &handle);
    ScanIR(chain);
    EXPECT_TRUE(spy.calls.empty());
    handle = spy.JtagHandle();  // the channel opened after the chain was built
    ScanIR(chain);
    ASSERT_FALSE(spy.calls.empty());
    for (const auto& call : spy.calls)
        EXPECT_EQ(call.handle, spy.JtagHandle());
}

TEST(ChainCalls, ScanIRShiftsEachInstructionWithTheExitOnTheLastDevice)
{
    UsbwireSpy spy;
    void* handle = spy.JtagHandle();
    TestDevice five(JTAG_FAMILY_IR5, 1, 0x1F3);  // only the low byte is shifted
    TestDevice four(JTAG_FAMILY_IR4, 1, 0x0A);
    CProAsic3 eight;
    eight.SelectRegister(PA3_REG_EXTEST, true);
    ScanIR(Chain({&five, &four, &eight}, &handle, 0x1201));

    EXPECT_THAT(spy.Texts(), ElementsAre("JTAG_Addr 1",  // low byte of the address
                                         "JTAG_Tms 6 5",                      // Run-Test/Idle -> Shift-IR
                                         "JTAG_Out 0 5 0", "JTAG_Out 0 4 0",  // LSB first for every class
                                         "JTAG_Out 0 8 1",                    // the last device leaves Shift-IR
                                         "JTAG_Tms 1 2"));                    // Update-IR -> Run-Test/Idle
    const auto outs = Outs(spy);
    EXPECT_EQ(outs[0]->data, std::vector<uint8_t>{0xF3});
    EXPECT_EQ(outs[1]->data, std::vector<uint8_t>{0x0A});
    EXPECT_EQ(outs[2]->data, std::vector<uint8_t>{0x00});
    for (const UsbwireCall* out : outs)
        EXPECT_TRUE(out->nullDestination);
}

TEST(ChainCalls, AChainOfOneDeviceExitsOnItsOnlyShift)
{
    UsbwireSpy spy;
    void* handle = spy.JtagHandle();
    CProAsic3 only;
    const _JTAGCHAIN chain = Chain({&only}, &handle);
    ScanIR(chain);
    ScanDR(chain);
    EXPECT_THAT(spy.Texts(), ElementsAre("JTAG_Addr 1", "JTAG_Tms 6 5", "JTAG_Out 0 8 1", "JTAG_Tms 1 2",  //
                                         "JTAG_Addr 1", "JTAG_Tms 2 4",
                                         "JTAG_Out 0 1 0",  // capture pass: BYPASS, one bit, no exit
                                         "JTAG_Out 0 1 1",  // update pass: the exit
                                         "JTAG_Tms 1 2"));
    EXPECT_EQ(Outs(spy)[0]->data, std::vector<uint8_t>{0xFF});  // a new device is in BYPASS
}

TEST(ChainCalls, ScanDRCapturesEverythingThenDrivesMaskedBitsAndCapturedOnes)
{
    UsbwireSpy spy;
    void* handle = spy.JtagHandle();
    TestDevice first(JTAG_FAMILY_IR8, 12, 0);
    TestDevice second(JTAG_FAMILY_IR4, 16, 0);  // big-endian layout: mode 1
    first.shift = {0xF0, 0x0F};
    first.mask = {0xFF, 0x00};
    second.shift = {0x12, 0x34};
    second.mask = {0x0F, 0xF0};
    const std::array<std::array<uint8_t, 2>, 2> captured = {{{0x11, 0x02}, {0xAB, 0xCD}}};
    int capture = 0;
    spy.jtagOut = [&](int, unsigned, const uint8_t*, uint8_t* destination, int) {
        if (destination != nullptr) {
            destination[0] = captured[capture][0];
            destination[1] = captured[capture][1];
            ++capture;
        }
        return 1;
    };
    ScanDR(Chain({&first, &second}, &handle, 3));

    EXPECT_THAT(spy.Texts(), ElementsAre("JTAG_Addr 3", "JTAG_Tms 2 4",             // -> Shift-DR
                                         "JTAG_Out 0 12 0", "JTAG_Out 1 16 0",       // capture pass
                                         "JTAG_Out 0 12 0", "JTAG_Out 1 16 1",       // update pass
                                         "JTAG_Tms 1 2"));                           // Update-DR -> Idle
    const auto outs = Outs(spy);
    EXPECT_TRUE(outs[0]->nullSource);  // zeros pushed through the chain
    EXPECT_TRUE(outs[1]->nullSource);
    EXPECT_FALSE(outs[0]->nullDestination);
    EXPECT_TRUE(outs[2]->nullDestination);
    // Masked bits from m_Shift, the others driven back with what was captured.
    EXPECT_EQ(outs[2]->data, (std::vector<uint8_t>{0xF0, 0x02}));
    EXPECT_EQ(outs[3]->data, (std::vector<uint8_t>{0xA2, 0x3D}));
    // Afterwards m_Shift holds the captured register.
    EXPECT_EQ(first.shift[0], 0x11);
    EXPECT_EQ(first.shift[1], 0x02);
    EXPECT_EQ(second.shift[0], 0xAB);
    EXPECT_EQ(second.shift[1], 0xCD);
}

TEST(ChainCalls, AnUnknownFamilyResetsTheTapsAndEndsTheScan)
{
    UsbwireSpy spy;
    void* handle = spy.JtagHandle();
    CProAsic3 good;
    TestDevice bad(9, 8, 0x55);
    good.SelectRegister(PA3_REG_IDCODE, false);
    good.m_Shift[0] = 0x77;
    good.m_Mask[0] = 0xFF;
    const _JTAGCHAIN chain = Chain({&good, &bad}, &handle);

    ScanIR(chain);
    EXPECT_THAT(spy.Texts(), ElementsAre("JTAG_Addr 1", "JTAG_Tms 6 5", "JTAG_Out 0 8 0",  // the good one
                                         "JTAG_Addr 1", "JTAG_Tms 255 5"));  // reset, no Update-IR
    spy.calls.clear();
    ScanDR(chain);
    EXPECT_THAT(spy.Texts(), ElementsAre("JTAG_Addr 1", "JTAG_Tms 2 4", "JTAG_Out 0 32 0", "JTAG_Addr 1",
                                         "JTAG_Tms 255 5"));
    EXPECT_EQ(good.m_Shift[0], 0x77) << "no update pass, no merge";

    // A register longer than the device's buffers is refused the same way.
    spy.calls.clear();
    TestDevice tooLong(JTAG_FAMILY_IR8, 65, 0);
    ScanDR(Chain({&tooLong}, &handle));
    EXPECT_THAT(spy.Texts(), ElementsAre("JTAG_Addr 1", "JTAG_Tms 2 4", "JTAG_Addr 1", "JTAG_Tms 255 5"));
}

TEST(ChainCalls, ReadIdCodesReadsUntilZeroAfterAReset)
{
    UsbwireSpy spy;
    void* handle = spy.JtagHandle();
    CProAsic3 a;
    const _JTAGCHAIN chain = Chain({&a}, &handle, 1);
    AnswerCodes(spy, {0x3E74E1CF, 0x0123ABCD, 0});
    std::vector<uint32_t> ids = {7};
    ReadIdCodes(ids, chain);
    EXPECT_EQ(ids, (std::vector<uint32_t>{0x3E74E1CF, 0x0123ABCD}));
    EXPECT_THAT(spy.Texts(), ElementsAre("JTAG_Addr 1", "JTAG_Tms 255 5",  // Test-Logic-Reset
                                         "JTAG_Tms 2 4",                   // Shift-DR
                                         "JTAG_Out 0 32 0", "JTAG_Out 0 32 0", "JTAG_Out 0 32 0",
                                         "JTAG_Tms 255 5"));
    for (const UsbwireCall* out : Outs(spy))
        EXPECT_TRUE(out->nullSource);
}

TEST(ChainCalls, ATdoStuckHighGivesNoCodes)
{
    UsbwireSpy spy;
    void* handle = spy.JtagHandle();
    CProAsic3 a;
    AnswerCodes(spy, {0xFFFFFFFF, 0x3E74E1CF});
    std::vector<uint32_t> ids;
    ReadIdCodes(ids, Chain({&a}, &handle));
    EXPECT_TRUE(ids.empty());
    EXPECT_EQ(spy.Count("JTAG_Out"), 1u);
    EXPECT_EQ(spy.calls.back().Text(), "JTAG_Tms 255 5");
}

TEST(ChainCalls, AChainThatNeverEndsItsCodesIsReadAtMost32Times)
{
    UsbwireSpy spy;
    void* handle = spy.JtagHandle();
    CProAsic3 a;
    AnswerCodes(spy, {0x3E74E1CF}, true);
    std::vector<uint32_t> ids;
    ReadIdCodes(ids, Chain({&a}, &handle));
    EXPECT_EQ(ids.size(), kMaxIdCodes);
    EXPECT_EQ(ids.size(), 32u);
    EXPECT_EQ(spy.Count("JTAG_Out"), 32u);
    EXPECT_EQ(spy.calls.back().Text(), "JTAG_Tms 255 5");
}

TEST(JtagChannel, OpenClosesWhatItHeldAndCloseForgetsTheHandle)
{
    UsbwireSpy spy;
    std::string description;
    spy.jtagOpen = [&](const char* text) {
        description = text;
        return spy.JtagHandle();
    };
    void* handle = nullptr;
    EXPECT_TRUE(OpenJtag(handle));
    EXPECT_EQ(handle, spy.JtagHandle());
    EXPECT_EQ(description, "FT2232H MiniModule B");
    EXPECT_TRUE(OpenJtag(handle));
    EXPECT_THAT(spy.Texts(), ElementsAre("JTAG_Open", "JTAG_Close", "JTAG_Open"));
    CloseJtag(handle);
    EXPECT_EQ(handle, nullptr);
    CloseJtag(handle);
    EXPECT_EQ(spy.Count("JTAG_Close"), 2u);
}

TEST(JtagChannel, AFailedOpenShowsTheErrorBox)
{
    UsbwireSpy spy;
    spy.jtagOpen = [](const char*) -> void* { return nullptr; };
    void* handle = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(OpenJtag(handle));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(out.find("ERROR"), std::string::npos) << out;
    EXPECT_NE(out.find("Error Open Device: FT2232H MiniModule B"), std::string::npos) << out;
}
